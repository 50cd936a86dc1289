// Tests of the output stage's sample transfer (driver/output_stage.cpp) and
// of the editors' sample rules: every output compared with a byte-at-a-time
// reference, for inputs cut at every alignment of the words and chunks the
// rules work in, and the temporary file that becomes the output.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "camera_header.h"
#include "e2e.h"
#include "files.h"
#include "obslib.h"
#include "output_stage.h"
#include "report.h"
#include "nightgen.h"
#include "writers.h"

namespace {

constexpr int kHeaderBytes = 2880;

enum class Rule { Copy, Flip, Gather };

struct RuleCase {
  const char* name;
  Rule rule;
  const SampleRule* sampleRule;
  int inputBytes;
};

const RuleCase kRules[] = {
    {"copy (tarnfits)", Rule::Copy, &kCopySampleRule, 2},
    {"top-bit flip (tarnfits4s)", Rule::Flip, &kTarnfits4sSampleRule, 2},
    {"4 to 2 bytes (tarnfits4)", Rule::Gather, &kTarnfits4SampleRule, 4},
};

struct Expected {
  std::string bytes;
  bool shortInput = false;
};

// The stage as the camera files were always converted: one byte at a time
// through getc/putc, every read past the end giving -1, every written value
// taken modulo 256.
Expected referenceOutput(const std::string& input, long long pixelCount,
                         const std::vector<std::string>& cards, Rule rule) {
  Expected result;
  std::size_t pos = 0;
  auto getByte = [&]() -> int {
    if (pos < input.size()) return static_cast<unsigned char>(input[pos++]);
    result.shortInput = true;
    return -1;
  };
  auto putByte = [&](int c) {
    result.bytes.push_back(static_cast<char>(static_cast<unsigned char>(c)));
  };
  for (const std::string& card : cards) {
    result.bytes += card;
    result.bytes.append(80 - card.size(), ' ');
  }
  for (int i = 0; i < kHeaderBytes; ++i) getByte();
  for (long long i = 0; i < pixelCount; ++i) {
    if (rule == Rule::Gather) {
      int b1 = getByte();
      getByte();
      int b3 = getByte();
      int b4 = getByte();
      putByte(b1 + b3);
      putByte(b4);
    } else {
      int c1 = getByte();
      int c2 = getByte();
      putByte(rule == Rule::Flip ? (c1 ^ 128) : c1);
      putByte(c2);
    }
  }
  for (long long n = 2 * pixelCount; n % 2880 != 0; ++n) putByte(0);
  return result;
}

// Bytes in which every value turns up at every position.
std::string testBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

struct StageRun {
  bool fatal = false;
  std::string console;  // standard output of the stage
  bool outputExists = false;
  std::string output;
};

// Runs the stage as the driver does, for input `inputName` (opened, its
// first block read) into `outputName` (both relative to the current folder,
// or absolute), and collects what it left.
StageRun runStage(const std::string& inputName, const std::string& outputName,
                  int pixelCount, const std::vector<std::string>& cards,
                  const SampleRule& rule) {
  static SampleBuffer buffer(largestImagePixels(), 4, SampleBuffer::Pages::Now);
  StageRun run;
  UniqueFd in = openInputLowerOrUpper(inputName);
  EXPECT_TRUE(in) << inputName;
  std::string header(kHeaderBytes, '\0');
  readUpTo(in.get(), reinterpret_cast<unsigned char*>(&header[0]), header.size());
  OutputPlan plan;
  EXPECT_TRUE(assembleHeader(cards, plan.header));
  plan.rule = &rule;
  plan.pixelCount = pixelCount;
  Report report;
  PendingOutput out;
  LeftoverTemporaries leftovers;
  if (report.take(createOutput(outputName, out, leftovers), inputName)) {
    const Transfer transfer = transferSamples(in.get(), plan, buffer, out);
    report.take(commitOutput(out, transfer, inputName), inputName);
  }
  run.fatal = report.endsRun();
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  report.deliver();
  run.console = testing::internal::GetCapturedStdout();
  run.outputExists = e2e::fileExists(outputName);
  if (run.outputExists) run.output = e2e::readFile(outputName);
  return run;
}

// Names in the current folder that hold the marker of a temporary output.
std::vector<std::string> temporaries() {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator("."))
    if (item.path().filename().string().find(".Partial-") != std::string::npos)
      names.push_back(item.path().filename().string());
  return names;
}

std::string shortWarning(const std::string& name) {
  return "# Warning! Input data is short (" + name + ")\n";
}

// Writes the first `length` bytes of `full` as the input, runs the stage and
// compares everything with the reference. The input name is a path, so it
// may lie on another file system.
void expectLikeReference(const std::string& inputPath, const std::string& full,
                         std::size_t length, int pixelCount,
                         const std::vector<std::string>& cards, const RuleCase& rc) {
  SCOPED_TRACE(std::string(rc.name) + ", " + std::to_string(pixelCount) +
               " samples, input of " + std::to_string(length) + " bytes");
  e2e::writeFile(inputPath, full.substr(0, length));
  std::remove("out.fit");
  std::remove("tarnfits.log");
  Expected expected = referenceOutput(full.substr(0, length), pixelCount, cards, rc.rule);
  StageRun run = runStage(inputPath, "out.fit", pixelCount, cards, *rc.sampleRule);
  ASSERT_FALSE(run.fatal);
  ASSERT_TRUE(run.outputExists);
  ASSERT_EQ(run.output.size(), expected.bytes.size());
  // The first differing byte, rather than two megabytes of text.
  std::size_t diff = 0;
  while (diff < run.output.size() && run.output[diff] == expected.bytes[diff]) ++diff;
  EXPECT_EQ(diff, run.output.size()) << "first differing output byte";
  EXPECT_EQ(run.console, expected.shortInput ? shortWarning(inputPath) : "");
  EXPECT_EQ(e2e::fileExists("tarnfits.log"), expected.shortInput);
  if (expected.shortInput) {
    EXPECT_EQ(e2e::readFile("tarnfits.log"),
              "cannot open '" + inputPath + "'  (input data is short)\n");
  }
}

std::vector<std::string> someCards() {
  std::vector<std::string> cards;
  for (int i = 0; i < 36; ++i) cards.push_back(std::string(static_cast<std::size_t>(i % 4 * 26), static_cast<char>('A' + i % 26)));
  cards.push_back("SIMPLE  =                    T");
  cards.push_back(std::string(80, 'Z'));
  return cards;
}

// Input lengths from the end of the header to beyond the samples, for an
// image of a few words and chunks: every byte offset within the first and
// the last 40 bytes of the samples and around each 64-sample chunk of the
// rules, and every seventh length in between (7 is prime to the 2-, 4- and
// 8-byte sizes of samples and words, so every alignment turns up there too).
TEST(SampleStream, SmallImageCutAtEveryAlignment) {
  e2e::ScopedTempDir dir(true);
  const int pixelCount = 130;  // 2 chunks of 64 and a rest; 2 x 130 % 2880 != 0
  for (const RuleCase& rc : kRules) {
    const std::size_t chunkBytes = 64 * static_cast<std::size_t>(rc.inputBytes);
    const std::size_t needed = kHeaderBytes + static_cast<std::size_t>(rc.inputBytes) * pixelCount;
    const std::string full = testBytes(needed + 16, 7);
    std::vector<std::size_t> lengths = {0, 1, 1000, kHeaderBytes - 1};
    for (std::size_t n = kHeaderBytes; n <= needed + 16; ++n) {
      const std::size_t fromChunk = (n - kHeaderBytes) % chunkBytes;
      if (n < kHeaderBytes + 40 || n + 40 > needed || fromChunk < 9 ||
          fromChunk + 9 > chunkBytes || n % 7 == 0) {
        lengths.push_back(n);
      }
    }
    for (std::size_t length : lengths) {
      expectLikeReference("in.fts", full, length, pixelCount, {}, rc);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

// Images without zero fill (2 x pixelCount a multiple of 2880), without
// samples, with header cards, with one sample.
TEST(SampleStream, FillAndHeaderEdges) {
  e2e::ScopedTempDir dir(true);
  struct Case {
    int pixelCount;
    bool cards;
  };
  const Case cases[] = {{1440, false}, {1440, true}, {2880, true}, {0, true}, {0, false},
                        {1, false}, {1439, true}, {1441, false}};
  for (const RuleCase& rc : kRules) {
    for (const Case& c : cases) {
      const std::size_t needed = kHeaderBytes + static_cast<std::size_t>(rc.inputBytes) * c.pixelCount;
      const std::string full = testBytes(needed + 8, 11);
      const std::vector<std::string> cards = c.cards ? someCards() : std::vector<std::string>{};
      for (std::size_t length : {needed - (needed > kHeaderBytes ? 1 : 0), needed, needed + 8}) {
        expectLikeReference("in.fts", full, length, c.pixelCount, cards, rc);
        if (testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

// Samples in a large image: more than a read or a write of the stage may
// move in one piece on a slow device.
constexpr std::size_t kLargeImageSamples = 128 * 1024;

// A large image, cut around a large round boundary and around its end at
// every byte offset of a word and more either side.
void cutAroundBlocks(const std::string& inputPath) {
  const int pixelCount = static_cast<int>(kLargeImageSamples + 150);
  for (const RuleCase& rc : kRules) {
    const std::size_t blockBytes = kLargeImageSamples * static_cast<std::size_t>(rc.inputBytes);
    const std::size_t needed = kHeaderBytes + static_cast<std::size_t>(rc.inputBytes) * pixelCount;
    const std::string full = testBytes(needed + 9, 3);
    std::vector<std::size_t> lengths;
    for (std::size_t boundary : {kHeaderBytes + blockBytes, needed}) {
      for (std::size_t n = boundary - 9; n <= boundary + 9; ++n) lengths.push_back(n);
    }
    lengths.push_back(kHeaderBytes + 1);
    for (std::size_t length : lengths) {
      expectLikeReference(inputPath, full, length, pixelCount, someCards(), rc);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(SampleStream, LargeImageCutAroundBlocks) {
  e2e::ScopedTempDir dir(true);
  cutAroundBlocks("in.fts");
}

// A folder on another file system than the current one: the input there.
class OtherFileSystemDir {
 public:
  OtherFileSystemDir() {
    char name[] = "/dev/shm/sample_stream_XXXXXX";
    if (::mkdtemp(name) != nullptr) path_ = name;
  }
  ~OtherFileSystemDir() {
    if (!path_.empty()) {
      std::remove((path_ + "/in.fts").c_str());
      ::rmdir(path_.c_str());
    }
  }
  OtherFileSystemDir(const OtherFileSystemDir&) = delete;
  OtherFileSystemDir& operator=(const OtherFileSystemDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(SampleStream, InputOnAnotherFileSystem) {
  e2e::ScopedTempDir dir(true);
  OtherFileSystemDir other;
  if (other.path().empty() && std::getenv("TARNFITS_NO_SKIP")) FAIL() << "no /dev/shm here";
  if (other.path().empty()) GTEST_SKIP() << "no /dev/shm here";
  cutAroundBlocks(other.path() + "/in.fts");
}

// Restores a signal's disposition on leaving the scope.
class SignalIgnored {
 public:
  explicit SignalIgnored(int sig) : sig_(sig) { old_ = ::signal(sig, SIG_IGN); }
  ~SignalIgnored() { ::signal(sig_, old_); }
  SignalIgnored(const SignalIgnored&) = delete;
  SignalIgnored& operator=(const SignalIgnored&) = delete;

 private:
  int sig_;
  void (*old_)(int);
};

// The input comes through a pipe, a few bytes at a time: reads return
// less than asked.
TEST(SampleStream, InputThroughAPipeInSmallPieces) {
  e2e::ScopedTempDir dir(true);
  SignalIgnored noPipeSignal(SIGPIPE);
  const int pixelCount = 150;
  for (const RuleCase& rc : kRules) {
    const std::size_t needed = kHeaderBytes + static_cast<std::size_t>(rc.inputBytes) * pixelCount;
    const std::string full = testBytes(needed, 5);
    for (std::size_t length : {needed, needed - 3, static_cast<std::size_t>(kHeaderBytes + 5)}) {
      SCOPED_TRACE(std::string(rc.name) + ", pipe input of " + std::to_string(length) + " bytes");
      std::remove("in.fts");
      ASSERT_EQ(::mkfifo("in.fts", 0600), 0) << std::strerror(errno);
      const std::string data = full.substr(0, length);
      std::thread writer([&data] {
        int fd = ::open("in.fts", O_WRONLY);  // waits for the stage to open it
        if (fd < 0) return;
        std::size_t done = 0;
        for (std::size_t piece = 1; done < data.size(); piece = piece % 13 + 1) {
          std::size_t n = std::min(piece, data.size() - done);
          if (::write(fd, data.data() + done, n) != static_cast<ssize_t>(n)) break;
          done += n;
          if (done % 97 < 13) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        ::close(fd);
      });
      StageRun run = runStage("in.fts", "out.fit", pixelCount, {}, *rc.sampleRule);
      // Releases a writer still waiting when the stage failed to open the pipe.
      int unblock = ::open("in.fts", O_RDONLY | O_NONBLOCK);
      writer.join();
      if (unblock >= 0) ::close(unblock);
      Expected expected = referenceOutput(data, pixelCount, {}, rc.rule);
      ASSERT_FALSE(run.fatal);
      EXPECT_EQ(run.output, expected.bytes);
      EXPECT_EQ(run.console, expected.shortInput ? shortWarning("in.fts") : "");
    }
  }
}

// Lowers the largest file size this process may write, for a scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : xfsz_(SIGXFSZ) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  SignalIgnored xfsz_;  // the failed write returns EFBIG instead
  rlimit old_{};
  bool ok_ = false;
};

// A write that fails in the header, in the samples or in the zero fill:
// "Cannot write.", fatal, the temporary file removed and the older output
// of that name untouched.
TEST(SampleStream, FailedWriteKeepsTheOlderOutput) {
  e2e::ScopedTempDir dir(true);
  const int pixelCount = static_cast<int>(kLargeImageSamples + 150);
  const std::vector<std::string> cards = someCards();  // 38 cards, 3040 bytes
  const std::size_t headerBytes = 80 * cards.size();
  const std::size_t outputBytes = referenceOutput("", pixelCount, cards, Rule::Copy).bytes.size();
  for (const RuleCase& rc : kRules) {
    e2e::writeFile("in.fts", testBytes(kHeaderBytes + static_cast<std::size_t>(rc.inputBytes) * pixelCount, 9));
    for (std::size_t limit : {std::size_t{100}, headerBytes, headerBytes + 5001, outputBytes - 1}) {
      SCOPED_TRACE(std::string(rc.name) + ", files limited to " + std::to_string(limit) + " bytes");
      e2e::writeFile("out.fit", "the older output");
      StageRun run;
      {
        FileSizeLimit fileLimit(limit);
        ASSERT_TRUE(fileLimit.ok());
        run = runStage("in.fts", "out.fit", pixelCount, cards, *rc.sampleRule);
      }
      EXPECT_TRUE(run.fatal);
      EXPECT_EQ(run.console, "Cannot write. (out.fit)\n");
      EXPECT_EQ(run.output, "the older output");
      EXPECT_EQ(temporaries(), std::vector<std::string>{});
    }
    // The limit itself is no failure: an output of exactly that size fits.
    std::remove("out.fit");
    StageRun run;
    {
      FileSizeLimit fileLimit(outputBytes);
      run = runStage("in.fts", "out.fit", pixelCount, cards, *rc.sampleRule);
    }
    EXPECT_FALSE(run.fatal) << rc.name;
    EXPECT_EQ(run.output.size(), outputBytes) << rc.name;
  }
}

// The output in a missing folder or in the way of a folder does not open;
// an input found only under its upper-case name does.
TEST(SampleStream, OpeningTheFiles) {
  e2e::ScopedTempDir dir(true);
  const std::string full = testBytes(kHeaderBytes + 2 * 150, 13);
  e2e::writeFile("in.fts", full);
  for (const char* output : {"nofolder/in.fit", "folder.fit"}) {
    std::filesystem::create_directory("folder.fit");
    StageRun run = runStage("in.fts", output, 150, {}, kCopySampleRule);
    EXPECT_TRUE(run.fatal);
    EXPECT_EQ(run.console, "Cannot open. (" + std::string(output) + ")\n");
  }
  EXPECT_EQ(temporaries(), std::vector<std::string>{});

  std::remove("in.fts");
  e2e::writeFile("UPPER.FTS", full);
  StageRun upper = runStage("upper.fts", "upper.fit", 150, {}, kCopySampleRule);
  EXPECT_FALSE(upper.fatal);
  EXPECT_EQ(upper.console, "");
  EXPECT_EQ(upper.output, referenceOutput(full, 150, {}, Rule::Copy).bytes);
}

// The temporary files: named for the output, the process and the entry,
// with the mode of a plain create; a leftover of a process that no longer
// exists goes before the output is written (in the older form of the name
// too), one of a live process stays, even one this user may not signal.
TEST(SampleStream, TemporaryFileOfTheOutput) {
  e2e::ScopedTempDir dir(true);
  const std::string temporary = temporaryNameFor("m42.fit", 4711, 2);
  EXPECT_EQ(temporary, "m42.fit.Partial-4711-2");
  for (const char* tail : {"fit", "fts", "FIT", "FTS"})
    EXPECT_NE(temporary.substr(temporary.size() - 3), tail);
  EXPECT_NE(temporary, std::string(chartolower(temporary.c_str())));
  EXPECT_NE(temporary, std::string(chartoupper(temporary.c_str())));

  pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string older = "out.fit.Partial-" + std::to_string(ended);
  const std::string live = temporaryNameFor("out.fit", ::getpid(), 999999);
  for (const std::string& name : {temporaryNameFor("out.fit", ended, 1), older, live,
                                  temporaryNameFor("other.fit", ended, 1)})
    e2e::writeFile(name, "left by another run");
  // A process of another user: the leftover of this (live) test process
  // must stay.
  ASSERT_EQ(::chmod(".", 0777), 0);
  const pid_t other = ::fork();
  if (other == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    PendingOutput out;
    LeftoverTemporaries leftovers;
    ::_exit(createOutput("out.fit", out, leftovers).isAccepted() && e2e::fileExists(live) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status;
  if (::geteuid() == 0)
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a live run's leftover went (2: no setuid as root)";
  else
    std::cout << "[   NOTE   ] not root: another user's run was not tried\n";

  const mode_t oldMask = ::umask(002);
  PendingOutput out, again;
  LeftoverTemporaries leftovers;
  ASSERT_TRUE(createOutput("out.fit", out, leftovers).isAccepted());
  ASSERT_TRUE(createOutput("out.fit", again, leftovers).isAccepted());
  ::umask(oldMask);
  std::vector<std::string> made;
  for (const std::string& name : temporaries())
    if (name.rfind("out.fit.Partial-" + std::to_string(::getpid()) + "-", 0) == 0 && name != live)
      made.push_back(name);
  ASSERT_EQ(made.size(), 2u) << "two entries of one output share a temporary";
  struct stat st;
  ASSERT_EQ(::stat(made[0].c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  EXPECT_FALSE(e2e::fileExists(temporaryNameFor("out.fit", ended, 1)) || e2e::fileExists(older));
  EXPECT_TRUE(e2e::fileExists(temporaryNameFor("other.fit", ended, 1)));
  out.discard();
  again.discard();
  EXPECT_FALSE(e2e::fileExists(made[0]) || e2e::fileExists(made[1]));
  EXPECT_FALSE(e2e::fileExists("out.fit"));
}

// The three programs on whole and cut camera files of every set-up, end to
// end: every output's samples and fill equal the byte-at-a-time reference,
// and exactly the short inputs are reported, in run-list order.
TEST(SampleStream, ProgramsOnWholeAndCutFilesMatchTheReference) {
  struct Program {
    const char* exe;
    Rule rule;
    nightgen::Kind andor;
    std::size_t headerOfAndor, headerOfOthers;
  };
  const Program programs[] = {{TARNFITS_EXE, Rule::Copy, nightgen::Kind::Andor16, 5760, 5760},
                              {TARNFITS4_EXE, Rule::Gather, nightgen::Kind::Andor32, 2880, 0},
                              {TARNFITS4S_EXE, Rule::Flip, nightgen::Kind::Andor16Raw, 2880, 0}};
  for (const Program& p : programs) {
    SCOPED_TRACE(p.exe);
    e2e::ScopedTempDir dir;
    std::string list = "# WEATHER CLEAR\n# SEEING 1.5\n# OBSERVER Yamada\n";
    std::string warnings;
    std::vector<std::pair<std::string, nightgen::Kind>> inputs;
    const long long full = kHeaderBytes + nightgen::pixelCountOf(p.andor) * nightgen::bytesPerSample(p.andor);
    const long long cuts[] = {-1, 2880, 2881, 2880 + (full - 2880) / 2 + 3, full - 1, full + 7};
    for (std::size_t i = 0; i < std::size(cuts); ++i) {
      const std::string name = "cut" + std::to_string(i) + ".fts";
      nightgen::CameraSpec camera;
      camera.kind = p.andor;
      nightgen::writeCameraFile(dir.file(name), camera, cuts[i], static_cast<unsigned>(i + 1));
      inputs.emplace_back(name, p.andor);
    }
    for (nightgen::Kind kind : {nightgen::Kind::T5, nightgen::Kind::S5}) {
      if (p.rule != Rule::Copy) break;  // the editors refuse T5 and S5 files
      nightgen::CameraSpec camera;
      camera.kind = kind;
      const std::string name = std::string(nightgen::kindName(kind)) + ".fts";
      nightgen::writeCameraFile(dir.file(name), camera);
      inputs.emplace_back(name, kind);
    }
    for (const auto& [name, kind] : inputs) list += name + " M42 1 0.0 1 0.20 1 R\n";
    e2e::writeFile(dir.file("object.lst"), "M42 2000.0 05 35 17.3 -05 23 28\n");
    e2e::writeFile(dir.file("tarnlist.dat"), list);
    const e2e::RunResult run = e2e::runProgram(p.exe, dir.path(), "");
    ASSERT_EQ(run.exitStatus, 0) << run.out;
    for (const auto& [name, kind] : inputs) {
      const std::string input = e2e::readFile(dir.file(name));
      const Expected expected = referenceOutput(input, nightgen::pixelCountOf(kind), {}, p.rule);
      if (expected.shortInput) warnings += shortWarning(name);
      const std::string output = e2e::readFile(dir.file(name.substr(0, name.size() - 3) + "fit"));
      const std::size_t header = nightgen::isAndor(kind) ? p.headerOfAndor : p.headerOfOthers;
      EXPECT_TRUE(output.size() >= header && output.substr(header) == expected.bytes)
          << name << ": the samples differ from the reference";
    }
    std::string reported;
    for (std::size_t at = run.out.find("# Warning! Input data is short"); at != std::string::npos;
         at = run.out.find("# Warning! Input data is short", at + 1))
      reported += run.out.substr(at, run.out.find('\n', at) + 1 - at);
    EXPECT_EQ(reported, warnings);
  }
}

// The two editor rules on their own, for every sample count up to a few
// chunks and at every alignment of input and output, and in place, against
// the rule applied one sample at a time. Bytes around the output stay
// untouched.
TEST(SampleRules, EveryCountAndAlignment) {
  struct Case {
    const char* name;
    void (*convert)(const unsigned char*, unsigned char*, std::size_t);
    std::size_t inputBytes;
    Rule rule;
  };
  const Case cases[] = {{"flipTopBit", flipTopBit, 2, Rule::Flip},
                        {"convert32To16", convert32To16, 4, Rule::Gather}};
  const std::string source = testBytes(4 * 300 + 16, 21);
  for (const Case& c : cases) {
    for (std::size_t count = 0; count <= 200; ++count) {
      for (std::size_t inShift = 0; inShift < 8; ++inShift) {
        for (std::size_t outShift : {0, 5}) {
          const std::string in = source.substr(inShift, c.inputBytes * count);
          std::string want = referenceOutput(std::string(kHeaderBytes, ' ') + in,
                                             static_cast<long long>(count), {}, c.rule)
                                 .bytes.substr(0, 2 * count);
          std::vector<unsigned char> out(2 * count + 16, 0xA5);
          c.convert(reinterpret_cast<const unsigned char*>(source.data()) + inShift,
                    out.data() + outShift, count);
          std::string got(out.begin() + static_cast<long>(outShift),
                          out.begin() + static_cast<long>(outShift + 2 * count));
          ASSERT_EQ(got, want) << c.name << ", " << count << " samples, input offset "
                               << inShift << ", output offset " << outShift;
          // In place, as the stage converts its image.
          std::vector<unsigned char> block(source.begin() + static_cast<long>(inShift),
                                           source.begin() + static_cast<long>(inShift + c.inputBytes * count));
          c.convert(block.data(), block.data(), count);
          ASSERT_EQ(std::string(block.begin(), block.begin() + static_cast<long>(2 * count)), want)
              << c.name << " in place, " << count << " samples, input offset " << inShift;
          for (std::size_t i = 0; i < out.size(); ++i) {
            if (i < outShift || i >= outShift + 2 * count) {
              ASSERT_EQ(out[i], 0xA5) << c.name << ", " << count << " samples: byte " << i
                                      << " outside the output was written";
            }
          }
        }
      }
    }
  }
}

}  // namespace
