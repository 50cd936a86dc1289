// End-to-end runs of the Andor header editors tarnfits4 and tarnfits4s on
// generated camera files: console, error log, exit status and every byte of
// the outputs, and the Andor outputs read back with CFITSIO.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "nightgen.h"
#include "writers.h"

namespace {

using nightgen::CameraSpec;
using nightgen::Kind;

constexpr long long kBlock = 2880;
constexpr long long kCard = 80;
constexpr int kCards = 36;
constexpr long long kAndorPixels = 2048LL * 512;
constexpr long long kAndorOutputBytes = 2102400;  // 2880 + 2097152 + 2368
constexpr double kRunSeconds = 60;                // a run takes a second or two

const char kBanner[] = "Edit andor fits file with tarnfits4 \n  *.fts => *.fit \n";
const char kFinished[] = "---- FINISHED ----\n";
const char kAndorMode[] = "(Andor CCD mode)\n";
const char kLogName[] = "tarnfits.log";

const char kBitpixCard[] =
    "BITPIX  =                   16 / number of bits per data pixel";
const char kBzeroCard[] =
    "BZERO   =                32768 / offset data range to that of unsigned short";
const char kBscaleCard[] = "BSCALE  =                    1 / default scaling factor";

const char kDirectives[] = "# WEATHER CLEAR\n# SEEING 1.5\n# OBSERVER Yamada\n";
// FIELD sits at the origin, so its summary line shows exact zeros.
const char kCatalogue[] = "FIELD       2000.0 00 00 00.0 +00 00 00\n";
const char kSummaryHead[] =
    "     FIELD (RA=00:00:00 DEC=+00:00:00 2000.0)     OBJECT  ";

// Every test file is exposed 61 s: half of it is 30.5 s, which the summary
// line cuts to 30 s, far from any rounding edge.
constexpr double kExposureSeconds = 61.0;
// The Andor default start 2024-01-31T12:00:00 UT plus 30 s.
const char kAndorMid[] = "2024-01-31 12:00:30";

struct Editor {
  const char* name;
  const char* exe;
  Kind andorKind;       // what the editor is made for
  int inputSampleBytes; // bytes its rule reads per sample
  // Input card shown at each output card 1..36; 0 for a fixed card.
  int sourceOf[kCards];
  // The fixed text at output card 2; nullptr when it is the input's card 2.
  const char* fixedAt2;
};

const Editor kTarnfits4 = {
    "tarnfits4", TARNFITS4_EXE, Kind::Andor32, 4,
    {1,  0,  3,  4,  5,  6,  7,  8,  9,  10, 0,  0,  13, 14, 15, 16, 17, 18,
     19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36},
    kBitpixCard};
const Editor kTarnfits4s = {
    "tarnfits4s", TARNFITS4S_EXE, Kind::Andor16Raw, 2,
    {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 0,  0,  11, 12, 13, 14, 15, 16,
     17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 30, 30, 30, 30},
    nullptr};
const Editor* const kEditors[] = {&kTarnfits4, &kTarnfits4s};

std::string padded(const std::string& text) {
  return text + std::string(kCard - static_cast<long long>(text.size()), ' ');
}

// The fixed text the editor writes at output card n (1..36).
std::string fixedCardAt(const Editor& editor, int n) {
  if (n == 2) return padded(editor.fixedAt2);
  return padded(n == 11 ? kBzeroCard : kBscaleCard);
}

std::string outputNameOf(const std::string& fileName) {
  return fileName.substr(0, fileName.size() - 3) + "fit";
}

CameraSpec cameraOf(Kind kind) {
  CameraSpec camera;
  camera.kind = kind;
  camera.exposureSeconds = kExposureSeconds;
  if (nightgen::isAndor(kind)) camera.ccdTemperature = -60.0;
  return camera;
}

std::string joined(const std::vector<std::string>& cards) {
  std::string text;
  for (const std::string& c : cards) text += c;
  return text;
}

// The camera's own header with the cards after DATE (card 29) made
// distinct: input cards 30 to 35 are HISTORY cards with their number, one of
// them with bytes no text function may touch, and END stands at card 36.
std::vector<std::string> distinctAndorCards(const CameraSpec& camera) {
  std::vector<std::string> cards = nightgen::headerCards(camera);
  for (int n = 30; n <= 35; ++n) {
    cards[n - 1] = nightgen::card("HISTORY input card " + std::to_string(n));
  }
  std::string odd = "HISTORY %s%n 100% \t\x01\x7f\x80\xff";
  odd += '\0';
  odd += "after NUL";
  cards[33 - 1] = padded(odd);
  // The 32-bit camera's BSCALE card reads like the editors' own; this one
  // differs, so that it cannot pass for it.
  if (camera.kind == Kind::Andor32) {
    cards[12 - 1] = nightgen::keyCard("BSCALE", "1", "scaling written by the camera");
  }
  cards[36 - 1] = nightgen::card("END");
  return cards;
}

// Header cards followed by `dataBytes` bytes of the camera's samples.
std::string cameraFile(const std::vector<std::string>& cards, const CameraSpec& camera,
                       long long dataBytes, unsigned seed = 7) {
  return joined(cards) + nightgen::sampleData(camera, seed, 0, dataBytes);
}

int byteMod256(int value) { return ((value % 256) + 256) % 256; }

// The samples and zero fill that the editor writes for `input`, modelled one
// byte at a time: the input is read from byte 2880 on and a read past its
// end gives -1; tarnfits4 writes (b1 + b3) mod 256 and b4, tarnfits4s
// c1 + 128 below 128 and c1 - 128 otherwise, then c2, each modulo 256.
std::string modelledData(const Editor& editor, const std::string& input,
                         long long pixelCount) {
  std::size_t pos = static_cast<std::size_t>(kBlock);
  auto next = [&]() -> int {
    return pos < input.size() ? static_cast<unsigned char>(input[pos++]) : -1;
  };
  std::string out;
  out.reserve(static_cast<std::size_t>(2 * pixelCount + kBlock));
  for (long long i = 0; i < pixelCount; ++i) {
    if (editor.inputSampleBytes == 4) {
      const int b1 = next(), b2 = next(), b3 = next(), b4 = next();
      (void)b2;  // read and dropped
      out.push_back(static_cast<char>(byteMod256(b1 + b3)));
      out.push_back(static_cast<char>(byteMod256(b4)));
    } else {
      const int c1 = next(), c2 = next();
      out.push_back(static_cast<char>(byteMod256(c1 < 128 ? c1 + 128 : c1 - 128)));
      out.push_back(static_cast<char>(byteMod256(c2)));
    }
  }
  const long long rest = (2 * pixelCount) % kBlock;
  if (rest != 0) out.append(static_cast<std::size_t>(kBlock - rest), '\0');
  return out;
}

// Equal byte strings; on a difference, where it is (not megabytes of text).
::testing::AssertionResult sameBytes(const std::string& actual,
                                     const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const std::size_t common = std::min(actual.size(), expected.size());
  std::size_t at = 0;
  while (at < common && actual[at] == expected[at]) ++at;
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "sizes " << actual.size() << " and " << expected.size()
          << ", first difference at byte " << at;
  if (at < common) {
    failure << ": " << int(static_cast<unsigned char>(actual[at])) << " instead of "
            << int(static_cast<unsigned char>(expected[at]));
  }
  return failure;
}

// The two output bytes of sample `index` in an output's data part.
std::string outSample(const std::string& data, long long index) {
  return data.substr(static_cast<std::size_t>(2 * index), 2);
}

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int v : values) text.push_back(static_cast<char>(v));
  return text;
}

std::string summaryLine(const std::string& midText) {
  return kSummaryHead + midText + "\n";
}

// The console record of one entry that reaches the writer.
std::string entryRecord(const std::string& fileName, const char* modeLine,
                        const std::string& midText) {
  return fileName + " --> " + outputNameOf(fileName) + "  " + modeLine +
         summaryLine(midText);
}

std::string entryLine(const std::string& fileName, const std::string& object = "FIELD") {
  return fileName + " " + object + " 1 0.0 1 0.20 1 R\n";
}

std::string shortWarning(const std::string& fileName) {
  return "# Warning! Input data is short (" + fileName + ")\n";
}

std::string logLine(const std::string& fileName, const std::string& reason) {
  return "cannot open '" + fileName + "'  (" + reason + ")\n";
}

// A fresh observing folder with the catalogue; the run list holds the
// three directives, so no run prompts.
class Folder {
 public:
  Folder() { e2e::writeFile(dir_.file("object.lst"), kCatalogue); }

  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& path() const { return dir_.path(); }

  void put(const std::string& name, const std::string& content) const {
    e2e::writeFile(file(name), content);
  }
  std::string get(const std::string& name) const { return e2e::readFile(file(name)); }

  void writeList(const std::string& entries) const {
    put("tarnlist.dat", std::string(kDirectives) + entries);
  }

  e2e::RunResult run(const char* exe) const {
    return e2e::runProgram(exe, dir_.path(), "", {}, kRunSeconds);
  }

  std::string log() const {
    return e2e::fileExists(file(kLogName)) ? get(kLogName) : std::string();
  }

 private:
  e2e::ScopedTempDir dir_;
};

void expectCleanEnd(const e2e::RunResult& result) {
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.err, "");
}

// Output card n against the card map: the fixed text, or the input's card
// byte for byte.
void expectCardsByMap(const Editor& editor, const std::string& output,
                      const std::vector<std::string>& inputCards) {
  for (int n = 1; n <= kCards; ++n) {
    const int source = editor.sourceOf[n - 1];
    const std::string expected =
        source == 0 ? fixedCardAt(editor, n) : inputCards[source - 1];
    EXPECT_EQ(e2e::cardAt(output, n), expected)
        << editor.name << " output card " << n << " (input card " << source << ")";
  }
}

// ---------------------------------------------------------------------------

// The output stage hands the rules blocks of any length at any address (the
// last block of a T5 file, a file cut short); whatever the count and the
// alignment, they give the bytes of the one-byte-at-a-time model.
TEST(EditorSampleRules, AnyCountAndAlignment) {
  const struct {
    const Editor* editor;
    void (*convert)(const unsigned char*, unsigned char*, std::size_t);
  } rules[] = {{&kTarnfits4, convert32To16}, {&kTarnfits4s, flipTopBit}};
  const std::size_t counts[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33,
                                63, 64, 65, 127, 128, 129, 255, 257, 1000};
  for (const auto& rule : rules) {
    const std::size_t width = static_cast<std::size_t>(rule.editor->inputSampleBytes);
    for (std::size_t count : counts) {
      for (std::size_t shift = 0; shift < 8; ++shift) {
        SCOPED_TRACE(std::string(rule.editor->name) + ", " + std::to_string(count) +
                     " samples, shifted by " + std::to_string(shift));
        // The bytes run through all 256 values (151 is odd).
        std::vector<unsigned char> in(shift + width * count + 1);
        for (std::size_t k = 0; k < in.size(); ++k) {
          in[k] = static_cast<unsigned char>(k * 151 + count * 7 + 13);
        }
        std::vector<unsigned char> out(shift + 2 * count + 1, 0xA5);
        rule.convert(in.data() + shift, out.data() + shift, count);
        const std::string file =
            std::string(static_cast<std::size_t>(kBlock), ' ') +
            std::string(in.begin() + static_cast<long>(shift),
                        in.begin() + static_cast<long>(shift + width * count));
        const std::string expected =
            modelledData(*rule.editor, file, static_cast<long long>(count))
                .substr(0, 2 * count);
        EXPECT_TRUE(sameBytes(std::string(out.begin() + static_cast<long>(shift),
                                          out.begin() + static_cast<long>(shift + 2 * count)),
                              expected));
        // Nothing written outside the samples.
        for (std::size_t k = 0; k < shift; ++k) EXPECT_EQ(out[k], 0xA5) << "byte " << k;
        EXPECT_EQ(out.back(), 0xA5) << "the byte after the samples";
      }
    }
  }
}

// A complete Andor file: the edited header by the card map, every sample
// converted (the data the camera would write as value - 32768 in 16 bits),
// the 2368 zero bytes, nothing in the log.
TEST(EditorsE2e, AndorFileByCardMap) {
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    CameraSpec camera = cameraOf(editor->andorKind);
    camera.dirtyByte2 = true;  // tarnfits4 drops the second byte
    const std::vector<std::string> cards = distinctAndorCards(camera);
    const std::string input =
        cameraFile(cards, camera, kAndorPixels * editor->inputSampleBytes);
    night.put("an0001.fts", input);
    night.writeList(entryLine("an0001.fts"));

    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    EXPECT_EQ(result.out, kBanner + entryRecord("an0001.fts", kAndorMode, kAndorMid) +
                              kFinished);
    EXPECT_EQ(night.log(), "");

    const std::string output = night.get("an0001.fit");
    ASSERT_EQ(static_cast<long long>(output.size()), kAndorOutputBytes);
    expectCardsByMap(*editor, output, cards);
    if (editor == &kTarnfits4) {
      for (int dropped : {2, 11, 12}) {
        EXPECT_EQ(output.find(cards[dropped - 1]), std::string::npos)
            << "input card " << dropped << " reached the output";
      }
    }

    CameraSpec stored16 = cameraOf(Kind::Andor16);
    const std::string expectedData =
        nightgen::sampleData(stored16, 7, 0, 2 * kAndorPixels) + std::string(2368, '\0');
    EXPECT_TRUE(sameBytes(output.substr(kBlock), expectedData))
        << "samples differ from the 16-bit words value - 32768";
  }
}

// tarnfits4s drops input cards 31 to 36 and repeats card 30: each of the
// distinct cards 31 to 36 must be absent from its output.
TEST(EditorsE2e, Tarnfits4sNeverWritesInputCards31To36) {
  Folder night;
  const CameraSpec camera = cameraOf(Kind::Andor16Raw);
  const std::vector<std::string> cards = distinctAndorCards(camera);
  night.put("an0001.fts", cameraFile(cards, camera, 2 * kAndorPixels));
  night.writeList(entryLine("an0001.fts"));
  expectCleanEnd(night.run(TARNFITS4S_EXE));
  const std::string header = night.get("an0001.fit").substr(0, kBlock);
  for (int n = 31; n <= 36; ++n) {
    for (int out = 1; out <= kCards; ++out) {
      EXPECT_NE(e2e::cardAt(header, out), cards[n - 1])
          << "input card " << n << " at output card " << out;
    }
  }
  for (int out = 32; out <= 36; ++out) {
    EXPECT_EQ(e2e::cardAt(header, out), cards[30 - 1]) << "output card " << out;
  }
}

// Headers whose END comes early: END and the blank cards after it move with
// the map, the fixed cards stand at their places all the same.
TEST(EditorsE2e, EarlyEndCard) {
  const std::string end = padded("END");
  const std::string blank(kCard, ' ');
  const struct {
    const Editor* editor;
    int endAt;  // input card holding END; blank cards follow
    std::vector<std::pair<int, std::string>> spots;  // output card, text
  } rows[] = {
      {&kTarnfits4, 8,
       {{8, end}, {9, blank}, {10, blank}, {11, padded(kBzeroCard)}, {13, blank}}},
      {&kTarnfits4, 20, {{19, "(input 19)"}, {20, end}, {21, blank}, {36, blank}}},
      // Input card 12 is never written: the output has no END at all.
      {&kTarnfits4, 12, {{11, padded(kBzeroCard)}, {12, padded(kBscaleCard)}, {13, blank}}},
      {&kTarnfits4s, 7,
       {{7, end}, {10, blank}, {11, padded(kBzeroCard)}, {12, padded(kBscaleCard)},
        {13, blank}, {36, blank}}},
      {&kTarnfits4s, 20, {{21, "(input 19)"}, {22, end}, {23, blank}, {32, blank}, {36, blank}}},
      {&kTarnfits4s, 30, {{31, "(input 29)"}, {32, end}, {33, end}, {36, end}}},
  };
  for (const auto& row : rows) {
    const Editor& editor = *row.editor;
    SCOPED_TRACE(std::string(editor.name) + ", END at input card " +
                 std::to_string(row.endAt));
    Folder night;
    const CameraSpec camera = cameraOf(editor.andorKind);
    std::vector<std::string> cards = distinctAndorCards(camera);
    cards[row.endAt - 1] = end;
    for (int n = row.endAt + 1; n <= kCards; ++n) cards[n - 1] = blank;
    const std::string input =
        cameraFile(cards, camera, kAndorPixels * editor.inputSampleBytes);
    night.put("an0001.fts", input);
    night.writeList(entryLine("an0001.fts"));

    const e2e::RunResult result = night.run(editor.exe);
    expectCleanEnd(result);
    // Without cards 25 and 29 the summary date means nothing; the rest of
    // the console is exact.
    const std::string head = kBanner + std::string("an0001.fts --> an0001.fit  ") +
                             kAndorMode + kSummaryHead;
    EXPECT_EQ(result.out.substr(0, head.size()), head);
    const std::string tail = std::string("\n") + kFinished;
    ASSERT_GE(result.out.size(), tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 5);

    const std::string output = night.get("an0001.fit");
    ASSERT_EQ(static_cast<long long>(output.size()), kAndorOutputBytes);
    expectCardsByMap(editor, output, cards);
    for (const auto& [out, text] : row.spots) {
      const std::string expected =
          text.rfind("(input ", 0) == 0 ? cards[std::stoi(text.substr(7)) - 1] : text;
      EXPECT_EQ(e2e::cardAt(output, out), expected) << "output card " << out;
    }
    if (row.endAt == 12) {
      for (int out = 1; out <= kCards; ++out) {
        EXPECT_NE(e2e::cardAt(output, out), end) << "output card " << out;
      }
    }
    EXPECT_TRUE(sameBytes(output.substr(kBlock), modelledData(editor, input, kAndorPixels)));
  }
}

// The byte examples of both sample rules, as the first samples of an
// otherwise complete file.
TEST(EditorsE2e, SampleRuleExamples) {
  const struct {
    const Editor* editor;
    std::string in;
    std::string out;
  } rows[] = {
      {&kTarnfits4, bytes({128, 0, 0, 0}), bytes({128, 0})},
      {&kTarnfits4, bytes({128, 0, 255, 255}), bytes({127, 255})},
      {&kTarnfits4, bytes({128, 9, 18, 52}), bytes({146, 52})},
      {&kTarnfits4, bytes({0, 0, 1, 2}), bytes({1, 2})},
      {&kTarnfits4, bytes({200, 0, 100, 7}), bytes({44, 7})},
      {&kTarnfits4s, bytes({0, 5}), bytes({128, 5})},
      {&kTarnfits4s, bytes({127, 255}), bytes({255, 255})},
      {&kTarnfits4s, bytes({128, 0}), bytes({0, 0})},
      {&kTarnfits4s, bytes({255, 255}), bytes({127, 255})},
  };
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    const CameraSpec camera = cameraOf(editor->andorKind);
    std::string examples;
    for (const auto& row : rows) {
      if (row.editor == editor) examples += row.in;
    }
    const long long dataBytes = kAndorPixels * editor->inputSampleBytes;
    const std::string input =
        nightgen::headerBlock(camera) + examples +
        nightgen::sampleData(camera, 7, static_cast<long long>(examples.size()),
                             dataBytes - static_cast<long long>(examples.size()));
    night.put("an0001.fts", input);
    night.writeList(entryLine("an0001.fts"));
    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    EXPECT_EQ(result.out, kBanner + entryRecord("an0001.fts", kAndorMode, kAndorMid) +
                              kFinished);

    const std::string data = night.get("an0001.fit").substr(kBlock);
    long long index = 0;
    for (const auto& row : rows) {
      if (row.editor != editor) continue;
      const std::string& in = row.in;
      std::ostringstream name;
      for (unsigned char c : in) name << int(c) << ' ';
      EXPECT_EQ(outSample(data, index), row.out) << "input bytes " << name.str();
      ++index;
    }
    EXPECT_TRUE(sameBytes(data, modelledData(*editor, input, kAndorPixels)));
  }
}

// Inputs cut inside the data, mid-sample too: every missing byte counts as
// -1, the output keeps its full length, the warning and the log line follow,
// and the entry counts as converted (its repeated line is ignored).
TEST(EditorsE2e, ShortInputs) {
  // -1 in `written`: the byte depends on the data (the model checks it).
  const struct {
    const Editor* editor;
    const char* name;
    long long dataBytes;  // bytes of data the file keeps
    long long sample;     // an output sample to look at
    std::vector<int> written;  // its two bytes
  } rows[] = {
      {&kTarnfits4, "cut0000.fts", 0, 0, {254, 255}},
      {&kTarnfits4, "cut0001.fts", 1, 0, {127, 255}},  // 128 + (-1), then -1
      {&kTarnfits4, "cut0002.fts", 4 * 1000 + 2, 1000, {127, 255}},
      {&kTarnfits4, "cut0003.fts", 4 * 1000 + 3, 1000, {-1, 255}},
      {&kTarnfits4, "cut0004.fts", 4 * kAndorPixels - 1, kAndorPixels - 1, {-1, 255}},
      {&kTarnfits4s, "cut0000.fts", 0, 0, {127, 255}},
      {&kTarnfits4s, "cut0001.fts", 2 * 500, 500, {127, 255}},
      {&kTarnfits4s, "cut0002.fts", 2 * 500 + 1, 500, {-1, 255}},
      {&kTarnfits4s, "cut0003.fts", 2 * kAndorPixels - 1, kAndorPixels - 1, {-1, 255}},
  };
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    const CameraSpec camera = cameraOf(editor->andorKind);
    const long long fullData = kAndorPixels * editor->inputSampleBytes;
    const std::string header = nightgen::headerBlock(camera);
    std::string list, console = kBanner, log;
    for (const auto& row : rows) {
      if (row.editor != editor) continue;
      night.put(row.name, header + nightgen::sampleData(camera, 7, 0, row.dataBytes));
      list += entryLine(row.name) + entryLine(row.name);
      console += entryRecord(row.name, kAndorMode, kAndorMid) + shortWarning(row.name);
      log += logLine(row.name, "input data is short");
    }
    // A complete file among them: no warning.
    night.put("full.fts", header + nightgen::sampleData(camera, 7, 0, fullData));
    list += entryLine("full.fts");
    console += entryRecord("full.fts", kAndorMode, kAndorMid) + kFinished;
    night.writeList(list);

    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    EXPECT_EQ(result.out, console);
    EXPECT_EQ(night.log(), log);

    const std::string wholeMissing =
        editor->inputSampleBytes == 4 ? bytes({254, 255}) : bytes({127, 255});
    for (const auto& row : rows) {
      if (row.editor != editor) continue;
      SCOPED_TRACE(row.name);
      const std::string input = night.get(row.name);
      const std::string output = night.get(outputNameOf(row.name));
      ASSERT_EQ(static_cast<long long>(output.size()), kAndorOutputBytes);
      const std::string data = output.substr(kBlock);
      EXPECT_TRUE(sameBytes(data, modelledData(*editor, input, kAndorPixels)));
      const std::string sample = outSample(data, row.sample);
      for (int k = 0; k < 2; ++k) {
        if (row.written[k] < 0) continue;
        EXPECT_EQ(static_cast<unsigned char>(sample[k]), row.written[k])
            << "byte " << k + 1 << " of sample " << row.sample;
      }
      if (row.dataBytes <= fullData - editor->inputSampleBytes) {
        EXPECT_EQ(outSample(data, kAndorPixels - 1), wholeMissing)
            << "the last sample, read wholly past the end";
      }
    }
  }
}

// T5 and S5 files have no Andor header to edit: refused where the mode line
// would be, logged, no output written and an older one left alone; the run
// goes on, and its record lists each line.
TEST(EditorsE2e, RuvuzorFilesAreRefused) {
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    nightgen::writeCameraFile(night.file("t5_0001.fts"), cameraOf(Kind::T5), -1, 7);
    nightgen::writeCameraFile(night.file("s5_0001.fts"), cameraOf(Kind::S5), -1, 7);
    night.put("s5_0001.fit", "an older output\n");
    night.writeList(entryLine("t5_0001.fts") + entryLine("s5_0001.fts"));
    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    EXPECT_EQ(result.out,
              std::string(kBanner) +
                  "t5_0001.fts --> t5_0001.fit  Not an Andor file (T5 RUVUZOR mode)... Skip.\n"
                  "s5_0001.fts --> s5_0001.fit  Not an Andor file (S5 RUVUZOR mode)... Skip.\n" +
                  kFinished);
    EXPECT_EQ(night.log(), logLine("t5_0001.fts", "not an Andor file") +
                               logLine("s5_0001.fts", "not an Andor file"));
    EXPECT_FALSE(e2e::fileExists(night.file("t5_0001.fit")));
    EXPECT_EQ(night.get("s5_0001.fit"), "an older output\n");
    EXPECT_EQ(e2e::runRecord(night.path(), editor->name),
              "0,4,t5_0001.fts,t5_0001.fit,refused,not an Andor file\r\n"
              "0,5,s5_0001.fts,s5_0001.fit,refused,not an Andor file\r\n0,,,,finished,\r\n");
  }
}

// The skip is one block, whatever the header: in a header that runs into a
// second block, the rest of it is converted as samples.
TEST(EditorsE2e, SkipIsExactlyOneBlock) {
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    const CameraSpec camera = cameraOf(editor->andorKind);
    std::vector<std::string> first = nightgen::headerCards(camera);
    first[29] = nightgen::card("HISTORY the header goes on in the next block");
    std::vector<std::string> second(kCards, std::string(kCard, ' '));
    second[0] = nightgen::card("HISTORY second block");
    second[1] = nightgen::card("END");
    const std::string input = joined(first) + joined(second) +
                              nightgen::sampleData(camera, 7, 0,
                                                   kAndorPixels * editor->inputSampleBytes);
    night.put("an0001.fts", input);
    night.writeList(entryLine("an0001.fts"));
    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    const std::string output = night.get("an0001.fit");
    ASSERT_EQ(static_cast<long long>(output.size()), kAndorOutputBytes);
    EXPECT_TRUE(sameBytes(output.substr(kBlock), modelledData(*editor, input, kAndorPixels)));
    // The second block begins "HIST": tarnfits4 writes 'H' + 'S', 'T';
    // tarnfits4s 'H' with its top bit set, 'I'.
    const std::string firstSample =
        editor->inputSampleBytes == 4 ? bytes({('H' + 'S') % 256, 'T'})
                                      : bytes({'H' ^ 128, 'I'});
    EXPECT_EQ(outSample(output.substr(kBlock), 0), firstSample);
  }
}

// A second run rewrites each output from its first byte: a longer file of
// garbage under the output name is cut to the new output.
TEST(EditorsE2e, RerunRewritesOutputs) {
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    const CameraSpec andor = cameraOf(editor->andorKind);
    nightgen::writeCameraFile(night.file("an0001.fts"), andor, -1, 3);
    night.put("an0001.fit", std::string(3 * 1024 * 1024, 'x'));
    night.writeList(entryLine("an0001.fts"));

    const e2e::RunResult first = night.run(editor->exe);
    expectCleanEnd(first);
    const std::string andorOut = night.get("an0001.fit");
    EXPECT_EQ(static_cast<long long>(andorOut.size()), kAndorOutputBytes);
    EXPECT_TRUE(sameBytes(andorOut.substr(kBlock),
                          modelledData(*editor, night.get("an0001.fts"), kAndorPixels)));

    const e2e::RunResult second = night.run(editor->exe);
    expectCleanEnd(second);
    EXPECT_EQ(second.out, first.out);
    EXPECT_TRUE(sameBytes(night.get("an0001.fit"), andorOut)) << "an0001.fit after rerun";
    EXPECT_EQ(night.log(), "");
  }
}

// Entries the editors refuse before writing: names ending in "fit" (the
// output would be the input) and files shorter than one header block.
TEST(EditorsE2e, RefusedEntries) {
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    const CameraSpec camera = cameraOf(editor->andorKind);
    const std::string full =
        nightgen::headerBlock(camera) +
        nightgen::sampleData(camera, 7, 0, kAndorPixels * editor->inputSampleBytes);
    night.put("an0001.fit", full);
    night.put("UP0001.FIT", full);
    night.put("tiny.fts", full.substr(0, kBlock - 1));
    night.put("empty.fts", "");
    night.writeList(entryLine("an0001.fit") + entryLine("UP0001.FIT") +
                    entryLine("tiny.fts") + entryLine("empty.fts"));

    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    EXPECT_EQ(result.out,
              std::string(kBanner) +
                  "Output would overwrite the input. (an0001.fit)  Skipped\n"
                  "Output would overwrite the input. (up0001.fit)  Skipped\n"
                  "tiny.fts --> tiny.fit  FITS header is too short... Skip.\n"
                  "empty.fts --> empty.fit  FITS header is too short... Skip.\n" +
                  kFinished);
    EXPECT_EQ(night.log(), logLine("an0001.fit", "output name equals input name") +
                               logLine("up0001.fit", "output name equals input name") +
                               logLine("tiny.fts", "FITS header is too short") +
                               logLine("empty.fts", "FITS header is too short"));
    EXPECT_TRUE(sameBytes(night.get("an0001.fit"), full)) << "an0001.fit was touched";
    EXPECT_TRUE(sameBytes(night.get("UP0001.FIT"), full)) << "UP0001.FIT was touched";
    EXPECT_FALSE(e2e::fileExists(night.file("up0001.fit")));
    EXPECT_FALSE(e2e::fileExists(night.file("tiny.fit")));
    EXPECT_FALSE(e2e::fileExists(night.file("empty.fit")));
  }
}

// An input that exists only under its upper-case name is read again under
// that name; the output takes the lower-case name.
TEST(EditorsE2e, UpperCaseInputIsReopened) {
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    nightgen::writeCameraFile(night.file("AN0001.FTS"), cameraOf(editor->andorKind), -1, 5);
    night.writeList(entryLine("AN0001.FTS"));
    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    EXPECT_EQ(result.out, kBanner + entryRecord("an0001.fts", kAndorMode, kAndorMid) +
                              kFinished);
    const std::string output = night.get("an0001.fit");
    ASSERT_EQ(static_cast<long long>(output.size()), kAndorOutputBytes);
    EXPECT_TRUE(sameBytes(output.substr(kBlock),
                          modelledData(*editor, night.get("AN0001.FTS"), kAndorPixels)));
    EXPECT_FALSE(e2e::fileExists(night.file("AN0001.FIT")));
  }
}

// Lines of the console that are summary lines.
std::vector<std::string> summaryLines(const std::string& console) {
  std::vector<std::string> lines;
  std::istringstream in(console);
  for (std::string line; std::getline(in, line);) {
    if (line.find(" (RA=") != std::string::npos) lines.push_back(line + "\n");
  }
  return lines;
}

// The summary line of an Andor entry takes its start (UT, card 29) and
// exposure (card 25) from the header, as the converter's does; the editors
// read no readout time, so an unknown one gives no warning.
TEST(EditorsE2e, AndorSummaryLine) {
  const struct {
    const char* name;
    int year, month, day, hour, minute, second;  // UT as the camera writes it
    const char* mid;                             // UT of mid exposure
  } rows[] = {
      {"an0001.fts", 2024, 1, 14, 12, 0, 0, "2024-01-14 12:00:30"},
      {"an0002.fts", 2024, 1, 31, 20, 15, 0, "2024-01-31 20:15:30"},  // JST: the 32nd
      {"an0003.fts", 2024, 2, 29, 23, 59, 30, "2024-03-01 00:00:00"},
      {"an0004.fts", 2023, 12, 31, 15, 0, 0, "2023-12-31 15:00:30"},  // JST hour 24
      {"an0005.fts", 2024, 1, 31, 8, 59, 59, "2024-01-31 09:00:29"},
  };
  Folder converter;
  std::string converterList;
  for (const auto& row : rows) {
    CameraSpec camera = cameraOf(Kind::Andor16);
    camera.year = row.year;
    camera.month = row.month;
    camera.day = row.day;
    camera.hour = row.hour;
    camera.minute = row.minute;
    camera.second = row.second;
    nightgen::writeCameraFile(converter.file(row.name), camera, -1, 2);
    converterList += entryLine(row.name);
  }
  converter.writeList(converterList);
  const e2e::RunResult converted = converter.run(TARNFITS_EXE);
  expectCleanEnd(converted);
  const std::vector<std::string> converterLines = summaryLines(converted.out);
  ASSERT_EQ(converterLines.size(), std::size(rows));

  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    std::string list, console = kBanner;
    for (const auto& row : rows) {
      CameraSpec camera = cameraOf(editor->andorKind);
      camera.year = row.year;
      camera.month = row.month;
      camera.day = row.day;
      camera.hour = row.hour;
      camera.minute = row.minute;
      camera.second = row.second;
      camera.readoutWord = "3.2E-05";  // not in the converter's table
      nightgen::writeCameraFile(night.file(row.name), camera, -1, 2);
      list += entryLine(row.name);
      console += entryRecord(row.name, kAndorMode, row.mid);
    }
    night.writeList(list);
    const e2e::RunResult result = night.run(editor->exe);
    expectCleanEnd(result);
    EXPECT_EQ(result.out, console + kFinished);
    EXPECT_EQ(summaryLines(result.out), converterLines)
        << "the converter prints other times for the same files";
  }
}

// ---------------------------------------------------------------------------
// CFITSIO reads the Andor outputs back.

struct FitsImage {
  int status = 0;
  int bitpix = 0;
  int equivalentType = 0;
  int naxis = 0;
  long naxes[2] = {0, 0};
  double bzero = 0.0;
  std::vector<long long> values;  // physical values, in file order
};

FitsImage readFitsImage(const std::string& path) {
  FitsImage image;
  fitsfile* fits = nullptr;
  int& status = image.status;
  if (fits_open_file(&fits, path.c_str(), READONLY, &status) != 0) return image;
  fits_get_img_param(fits, 2, &image.bitpix, &image.naxis, image.naxes, &status);
  fits_get_img_equivtype(fits, &image.equivalentType, &status);
  if (status == 0) {
    // A file without BZERO has the offset 0.
    int keyStatus = 0;
    fits_read_key(fits, TDOUBLE, "BZERO", &image.bzero, nullptr, &keyStatus);
    if (keyStatus != KEY_NO_EXIST) status = keyStatus;
  }
  if (status == 0) {
    const long long count = static_cast<long long>(image.naxes[0]) * image.naxes[1];
    image.values.assign(static_cast<std::size_t>(count), 0);
    long long nullValue = 0;
    int anyNull = 0;
    fits_read_img(fits, TLONGLONG, 1, count, &nullValue, image.values.data(), &anyNull,
                  &status);
  }
  int closeStatus = 0;
  fits_close_file(fits, &closeStatus);
  return image;
}

// The 16-bit physical values of an output, read as CFITSIO's int.
std::vector<int> readOutputValues(const std::string& path, int& status) {
  std::vector<int> values(static_cast<std::size_t>(kAndorPixels), -1);
  fitsfile* fits = nullptr;
  status = 0;
  if (fits_open_file(&fits, path.c_str(), READONLY, &status) != 0) return values;
  int nullValue = 0, anyNull = 0;
  fits_read_img(fits, TINT, 1, kAndorPixels, &nullValue, values.data(), &anyNull, &status);
  int closeStatus = 0;
  fits_close_file(fits, &closeStatus);
  return values;
}

std::string fitsError(int status) {
  char text[FLEN_STATUS] = "";
  fits_get_errstatus(status, text);
  return std::to_string(status) + " " + text;
}

// Physical values: tarnfits4's output holds the 32-bit input's values (BZERO
// 2^31) modulo 65536, tarnfits4s's the input words read as unsigned 16 bits
// (a negative input value plus 65536), both under BZERO 32768.
TEST(EditorsE2e, OutputsReadBackWithCfitsio) {
  for (const Editor* editor : kEditors) {
    SCOPED_TRACE(editor->name);
    Folder night;
    CameraSpec camera = cameraOf(editor->andorKind);
    camera.dirtyByte2 = true;  // 32-bit values beyond 65535
    camera.padData = true;     // a complete FITS file for CFITSIO
    nightgen::writeCameraFile(night.file("an0001.fts"), camera, -1, 11);
    night.writeList(entryLine("an0001.fts"));
    expectCleanEnd(night.run(editor->exe));

    const FitsImage input = readFitsImage(night.file("an0001.fts"));
    ASSERT_EQ(input.status, 0) << fitsError(input.status);
    const FitsImage output = readFitsImage(night.file("an0001.fit"));
    ASSERT_EQ(output.status, 0) << fitsError(output.status);
    EXPECT_EQ(output.bitpix, SHORT_IMG);
    EXPECT_EQ(output.equivalentType, USHORT_IMG);
    EXPECT_EQ(output.naxis, 2);
    EXPECT_EQ(output.naxes[0], 2048);
    EXPECT_EQ(output.naxes[1], 512);
    EXPECT_EQ(output.bzero, 32768.0);

    int status = 0;
    const std::vector<int> values = readOutputValues(night.file("an0001.fit"), status);
    ASSERT_EQ(status, 0) << fitsError(status);
    ASSERT_EQ(input.values.size(), values.size());
    long long differences = 0, beyond16Bits = 0, negative = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const long long in = input.values[i];
      long long expected;
      if (editor == &kTarnfits4) {
        expected = in % 65536;
        if (in > 65535) ++beyond16Bits;
      } else {
        expected = in < 0 ? in + 65536 : in;
        if (in < 0) ++negative;
      }
      if (values[i] != expected && ++differences <= 5) {
        ADD_FAILURE() << "pixel " << i << ": input " << in << ", output " << values[i]
                      << ", expected " << expected;
      }
    }
    EXPECT_EQ(differences, 0);
    // The inputs exercise the cases that matter.
    if (editor == &kTarnfits4) {
      EXPECT_EQ(input.bzero, 2147483648.0);
      EXPECT_GT(beyond16Bits, 1000);
    } else {
      EXPECT_GT(negative, 500);  // about 1 in 1300 with this seed
    }
  }
}

// ---------------------------------------------------------------------------

// The demo night of mknight: both editors convert every entry of their
// folder and finish. tarnfits4's T5 and S5 files hold 2-byte samples, so it
// reports them short.
TEST(EditorsE2e, SampleNight) {
  e2e::ScopedTempDir dir;
  const e2e::RunResult made =
      e2e::runProgram(MKNIGHT_EXE, dir.path(), "", {dir.file("night")}, kRunSeconds);
  ASSERT_EQ(made.exitStatus, 0) << made.err;
  const struct {
    const Editor* editor;
    const char* folder;
  } rows[] = {{&kTarnfits4, "night/tarnfits4"}, {&kTarnfits4s, "night/tarnfits4s"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.editor->name);
    const std::string folder = dir.file(row.folder);
    const e2e::RunResult result = e2e::runProgram(row.editor->exe, folder, "", {}, kRunSeconds);
    expectCleanEnd(result);
    EXPECT_EQ(result.out.substr(0, sizeof kBanner - 1), kBanner);

    std::istringstream list(e2e::readFile(folder + "/tarnlist.dat"));
    std::string expectedLog;
    int entries = 0, andorEntries = 0;
    std::size_t from = 0;
    for (std::string line; std::getline(list, line);) {
      if (line.empty() || line[0] == '#') continue;
      ++entries;
      const std::string name = e2e::wordAt(line, 1);
      const bool t5 = name.rfind("t5", 0) == 0, s5 = name.rfind("s5", 0) == 0;
      const std::string record =
          name + " --> " + outputNameOf(name) + "  " +
          (t5 ? "Not an Andor file (T5 RUVUZOR mode)... Skip.\n"
              : s5 ? "Not an Andor file (S5 RUVUZOR mode)... Skip.\n" : kAndorMode);
      const std::size_t at = result.out.find(record, from);
      ASSERT_NE(at, std::string::npos) << "no record of " << name;
      from = at + record.size();
      EXPECT_EQ(e2e::fileSize(folder + "/" + outputNameOf(name)), t5 || s5 ? -1 : kAndorOutputBytes)
          << name;
      if (t5 || s5) expectedLog += logLine(name, "not an Andor file");
      if (!t5 && !s5) ++andorEntries;
    }
    EXPECT_GE(entries, 3);
    EXPECT_GE(andorEntries, 1);
    const std::string tail = kFinished;
    ASSERT_GE(result.out.size(), tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
    const std::string logPath = folder + "/" + kLogName;
    EXPECT_EQ(e2e::fileExists(logPath) ? e2e::readFile(logPath) : "", expectedLog);
    // tarnlook's table gives each frame the UT of the editor's console, to the second (both in the night's order);
    // its page tells the T5 and S5 lines as tarnfits's, and shows no problem.
    const e2e::RunResult look = e2e::runProgram(TARNLOOK_EXE, folder, "", {}, kRunSeconds);
    const auto times = [](const std::string& text, const std::regex& time, std::string all = "") {
      for (std::sregex_iterator m(text.begin(), text.end(), time), end; m != end; ++m) all += (*m)[1].str() + " ";
      return all; };
    const std::string console = times(result.out, std::regex("(\\d\\d:\\d\\d:\\d\\d)\n"));
    EXPECT_EQ(times(e2e::readFile(folder + "/tarnlook.csv"), std::regex("\n(?:[^,]*,){5}([^,]*),")), console) << look.out;
    EXPECT_EQ(console.size(), 9u * andorEntries);
    const std::string page = e2e::readFile(folder + "/tarnlook.html");
    EXPECT_EQ(page.find("class=\"problems\""), page.npos) << page.substr(0, 4000);
    EXPECT_NE(page.find("<li>t5_0001.fts, line 4: not an Andor file: tarnfits converts it</li>"), page.npos);
  }
}

}  // namespace
