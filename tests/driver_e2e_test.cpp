// The shared driver seen from outside: the real tarnfits (and, for the
// summary line, the editors) run a night in a fresh folder with camera files,
// a run list, an object catalogue and typed answers. Every test compares the
// whole console output, the exit status and the error log tarnfits.log.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"
#include "nightgen.h"

namespace {

using nightgen::CameraSpec;
using nightgen::Kind;

const std::string kBanner =
    "RUVUZOR FITS to ASTRONOMICAL FITS CONVERTER\n      for 1997 Jun. - Now\n";
const std::string kEditorBanner = "Edit andor fits file with tarnfits4 \n  *.fts => *.fit \n";
const std::string kFinished = "---- FINISHED ----\n";
const std::string kWeatherPrompt = "WEATHER (1:CLEAR 2:FAIR 3:HAZY 4:CLOUDY) >> ";
const std::string kSeeingPrompt = "SEEING SIZE (arcsec) >> ";
const std::string kObserverPrompt = "WHO ARE YOU? >> ";
const std::string kEndOfAnswers = "\nCANNOT READ ANSWER (end of input)\n";
const std::string kSettings = "# WEATHER CLEAR\n# SEEING 1.5\n# OBSERVER Sato\n";

const std::string kS5Mode = "(S5 RUVUZOR mode)\n";
const std::string kT5Mode = "(T5 RUVUZOR mode)\n";
const std::string kAndorMode = "(Andor CCD mode)\n";

// Seconds of the positions are written as x.5 so that the cut to whole
// seconds is far from a rounding edge.
const std::string kCatalogue =
    "M42 2000.0 05 35 17.5 -05 23 28.5\n"
    "CygX-1 1950.0 19 56 28.5 +35 03 55.5\n"
    "NGC1976_ORION 2000.0 05 35 17.5 -05 23 28.5\n";
const std::string kM42 = "RA=05:35:17 DEC=-05:23:28 2000.0";
const std::string kCygX1 = "RA=19:56:28 DEC=+35:03:55 1950.0";

const std::string kLogName = "tarnfits.log";
constexpr std::size_t kOutputHeaderBytes = 5760;

std::string padLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The output name: the last three characters replaced by "fit".
std::string outputOf(const std::string& file) {
  return file.substr(0, file.size() - 3) + "fit";
}

// The summary line of an entry.
std::string summary(const std::string& object, const std::string& position,
                    const std::string& ut, const std::string& dataType = "OBJECT") {
  return padLeft(object, 10) + " (" + position + ") " + padLeft(dataType, 10) + "  " +
         ut + "\n";
}

// The console text of an entry that reaches the writer.
std::string converted(const std::string& file, const std::string& output,
                      const std::string& mode, const std::string& summaryLine) {
  return file + " --> " + output + "  " + mode + summaryLine;
}

std::string logLine(const std::string& file, const std::string& reason) {
  return "cannot open '" + file + "'  (" + reason + ")\n";
}

// An entry line for a file and object with valid codes.
std::string entry(const std::string& file, const std::string& object = "M42",
                  const std::string& codes = "1 0.0 1 0.20 1 R") {
  return file + " " + object + " " + codes + "\n";
}

// The value of a card: columns 11 on, up to the " /" of the comment,
// without the blanks around it.
std::string valueOf(const std::string& card) {
  std::string v = card.size() > 10 ? card.substr(10) : std::string();
  std::size_t slash = v.find(" /");
  if (slash != std::string::npos) v.erase(slash);
  std::size_t first = v.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return v.substr(first, v.find_last_not_of(' ') - first + 1);
}

// Keywords of the output cards the tests read (cards 60 to 62 as the T5 and
// S5 headers have them).
std::string keywordOfCard(int n) {
  static const std::map<int, std::string> kKeywords = {
      {4, "NAXIS1"},    {14, "DATA-TYP"}, {24, "DATE-OBS"}, {25, "UT"},
      {26, "JST"},      {30, "WEATHER"},  {31, "SEEING"},   {48, "GAIN"},
      {49, "OBSERVER"}, {52, "TEL-POSE"}, {55, "DETECTOR"}, {57, "CCD-TEMP"},
      {58, "BIN-FCT1"}, {59, "BIN-FCT2"}, {60, "PREGAIN"},  {61, "POSTGAIN"},
      {62, "OFFSET"},   {63, "ADCSPEED"}, {64, "EXPTIME"},  {65, "POS-HWP"},
      {66, "FILTER"},   {68, "SLIT-WID"}, {69, "DIAPHRAG"}};
  std::string keyword = kKeywords.at(n);
  keyword.resize(8, ' ');
  return keyword;
}

CameraSpec camera(Kind kind, int year, int month, int day, int hour, int minute,
                  int second, double exposureSeconds) {
  return nightgen::cameraStartingAt(kind, year, month, day, hour, minute, second,
                                    exposureSeconds);
}

CameraSpec s5() { return camera(Kind::S5, 2024, 3, 14, 21, 0, 0, 61.0); }
const std::string kS5Ut = "2024-03-14 12:00:30";

// One night's folder: run list, catalogue and camera files, and the runs.
class Night {
 public:
  Night() { write("object.lst", kCatalogue); }

  std::string path(const std::string& name) const { return dir_.file(name); }
  void write(const std::string& name, const std::string& bytes) const {
    e2e::writeFile(path(name), bytes);
  }
  void list(const std::string& text) const { write("tarnlist.dat", text); }
  void cameraFile(const std::string& name, const CameraSpec& setup = s5(),
                  long long bytes = -1) const {
    nightgen::writeCameraFile(path(name), setup, bytes);
  }
  // A file holding only the camera's header block: enough for every entry
  // that is refused before its output is written.
  void headerOnly(const std::string& name, const CameraSpec& setup = s5()) const {
    cameraFile(name, setup, nightgen::kBlock);
  }
  void remove(const std::string& name) const { std::filesystem::remove(path(name)); }

  e2e::RunResult run(const std::string& answers = "",
                     const std::string& exe = TARNFITS_EXE) const {
    e2e::RunResult r = e2e::runProgram(exe, dir_.path(), answers, {}, 60);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    // A stop adds its cause on one line (the tests of stops check it).
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), r.exitStatus == 1 ? 1 : 0) << r.err;
    return r;
  }
  // The run record, from the exit status column on (e2e::runRecord).
  std::string record() const { return e2e::runRecord(dir_.path(), "tarnfits"); }

  bool exists(const std::string& name) const { return e2e::fileExists(path(name)); }
  std::string read(const std::string& name) const { return e2e::readFile(path(name)); }
  // The error log, empty when no line was written.
  std::string log() const { return exists(kLogName) ? read(kLogName) : std::string(); }
  // Card n (from 1) of an output header.
  std::string card(const std::string& output, int n) const {
    std::ifstream in(path(output), std::ios::binary);
    std::string header(kOutputHeaderBytes, '\0');
    in.read(&header[0], static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(in.gcount()));
    return e2e::cardAt(header, n);
  }
  // The value of card n of an output, after checking the card's keyword.
  std::string value(const std::string& output, int n) const {
    const std::string text = card(output, n);
    EXPECT_EQ(text.substr(0, 8), keywordOfCard(n)) << output << " card " << n;
    return valueOf(text);
  }
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
      if (e.path().filename().string().rfind("tarnfits-run.csv", 0) != 0)  // the record
        names.insert(e.path().filename().string());
    return names;
  }

 private:
  e2e::ScopedTempDir dir_;
};

// Output size of an S5 file: 72 cards, 512 x 512 samples of 2 bytes, filled
// to a multiple of 2880.
constexpr long long kS5OutputBytes = 5760 + 524288 + 2752;

// ---------------------------------------------------------------------------
// Run list

TEST(DriverRunList, NoEntryLinesGivesBannerAndFinishedWithoutAsking) {
  Night night;
  // Empty, remark, white-space-only and directive lines, and a final
  // one-character line without a line end: none is an entry.
  night.list("\n# remark about the night\n   \t  \n#\n# NOTE seeing was bad\n\n"
             "# SEEING 1.0\nx");
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, kBanner + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(), "");
  EXPECT_EQ(night.files(), (std::set<std::string>{"object.lst", "tarnlist.dat"}));
}

// Python's csv module and astropy read the run record, a quoted cause with
// quotes inside included.
TEST(DriverRunList, PythonAndAstropyReadTheRunRecord) {
  Night night;
  night.write("object.lst", "M42 2000.0 05 35 17.5 05 23 28.5\n");  // no sign
  night.cameraFile("ob1.fts");
  night.list(kSettings + entry("ob1.fts") + entry("gone.fts"));  // the stop at the first entry
  EXPECT_EQ(night.run().exitStatus, 1);
  const std::string script =  // and the run's times, UT, within 10 minutes of Python's clock
      "import csv, time, datetime\nfrom astropy.io import ascii\n"
      "rows = list(csv.DictReader(open('tarnfits-run.csv', newline='')))\n"
      "table = ascii.read('tarnfits-run.csv', format='csv')\n"
      "age = lambda t: abs(datetime.datetime.strptime(t, '%Y-%m-%dT%H:%M:%S%z').timestamp() - time.time())\n"
      "print(*[rows[-1][f] for f in ('line', 'input', 'output')], age(rows[0]['started_ut']) < 600, "
      "age(rows[0]['ended_ut']) < 600)\n"
      "print(len(rows), len(table), rows[-1]['reason'], table['reason'][-1], table['line'][1])\n";
  const e2e::RunResult r = e2e::runProgram("/usr/bin/python3", night.path(""), "", {"-c", script});
  const std::string cause = "object.lst:1: cannot read \"M42 2000.0 05 35 17.5 05 23 28.5\"";
  EXPECT_EQ(r.out, "4 ob1.fts ob1.fit True True\n3 3 " + cause + " " + cause + " 5\n") << r.err;
}

TEST(DriverRunList, MissingRunListAndUpperCaseName) {
  const struct {
    const char* what;
    const char* listName;  // nullptr: no run list at all
    bool folder;
    bool opens;
  } cases[] = {
      {"no run list", nullptr, false, false},
      {"mixed-case name", "Tarnlist.dat", false, false},
      {"upper-case extension only", "tarnlist.DAT", false, false},
      {"a folder of that name", "tarnlist.dat", true, false},
      {"upper-case name", "TARNLIST.DAT", false, true},
  };
  for (const auto& c : cases) {
    Night night;
    night.cameraFile("ob1.fts");
    if (c.listName != nullptr && c.folder) std::filesystem::create_directory(night.path(c.listName));
    if (c.listName != nullptr && !c.folder) night.write(c.listName, kSettings + entry("ob1.fts"));
    e2e::RunResult r = night.run();
    if (c.opens) {
      EXPECT_EQ(r.out, kBanner + converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                           kFinished)
          << c.what;
      EXPECT_EQ(r.exitStatus, 0) << c.what;
    } else {
      EXPECT_EQ(r.out, kBanner + "CANNOT OPEN LIST-FILE (tarnlist.dat)\n") << c.what;
      EXPECT_EQ(r.err, std::string("tarnfits: tarnlist.dat: ") +
                           (c.folder ? "Is a directory\n" : "No such file or directory\n"));
      EXPECT_EQ(r.exitStatus, 1) << c.what;
      EXPECT_FALSE(night.exists("ob1.fit")) << c.what;
    }
    EXPECT_EQ(night.log(), "") << c.what;
  }

  // With both names on disk the lower-case one is read.
  Night both;
  both.cameraFile("ob1.fts");
  both.write("tarnlist.dat", kSettings);
  both.write("TARNLIST.DAT", kSettings + entry("ob1.fts"));
  e2e::RunResult r = both.run();
  EXPECT_EQ(r.out, kBanner + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
}

TEST(DriverRunList, HashRunTogetherWithTheKeywordIsAnEntry) {
  Night night;
  // Lower-case keywords and unknown ones change nothing and ask nothing.
  night.list("# seeing 1.0\n# COMMENT clear sky\n#SEEING 1.5\n");
  e2e::RunResult r = night.run("1 1.0 Sato\n");
  EXPECT_EQ(r.out, kBanner + kWeatherPrompt + kSeeingPrompt + kObserverPrompt +
                       "Cannot open. (#seeing)  Skipped\n" + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(), logLine("#seeing", "open"));
}

TEST(DriverRunList, RepeatedLinesAfterConvertedAndSkippedEntries) {
  Night night;
  night.cameraFile("ob1.fts");
  night.cameraFile("ob3.fts");
  night.headerOnly("ob2.fts");
  const std::string one = entry("ob1.fts");
  const std::string missing = entry("ob2.fts", "NGC9999");
  const std::string three = entry("ob3.fts");
  night.list(kSettings +
             one + one +                  // the second is ignored
             missing + missing +          // tried again, fails again
             one +                        // still the last converted line
             "# WEATHER FAIR\n" + one +   // a directive between: ignored
             three + one +                // another conversion between: again
             "ob1.fts M42 1 0.0 1 0.20 1 R");  // no line end: another line
  e2e::RunResult r = night.run();
  const std::string ob1 = converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut));
  const std::string ob2 = "ob2.fts --> ob2.fit  CANNOT FIND 'NGC9999'.  Skipped\n";
  const std::string ob3 = converted("ob3.fts", "ob3.fit", kS5Mode, summary("M42", kM42, kS5Ut));
  EXPECT_EQ(r.out, kBanner + ob1 + ob2 + ob2 + ob3 + ob1 + ob1 + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  const std::string skipped = logLine("ob2.fts", "OBJECT not find");
  EXPECT_EQ(night.log(), skipped + skipped);
}

TEST(DriverRunList, DirectiveWithoutValueChangesNothing) {
  const std::string warning = "# Warning! Directive without value ignored\n";
  const struct {
    const char* what;
    std::string list;
    std::string answers;
    std::string printed;  // before the entry
    const char* weather;
    const char* seeing;
    const char* observer;
  } cases[] = {
      {"no value before any answer",
       "# SEEING\n# WEATHER   \t\n# OBSERVER\n# NOTE\n", "2 0.9 Kato\n",
       warning + warning + warning + kWeatherPrompt + kSeeingPrompt + kObserverPrompt,
       "'FAIR    '", "0.9", "'Kato    '"},
      {"no value after a value",
       "# WEATHER HAZY\n# SEEING 2.0\n# OBSERVER Ito\n# WEATHER\n# SEEING\n# OBSERVER\n", "",
       warning + warning + warning, "'HAZY    '", "2.0", "'Ito     '"},
  };
  for (const auto& c : cases) {
    Night night;
    night.cameraFile("ob1.fts");
    night.list(c.list + entry("ob1.fts"));
    e2e::RunResult r = night.run(c.answers);
    EXPECT_EQ(r.out, kBanner + c.printed +
                         converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                         kFinished)
        << c.what;
    EXPECT_EQ(r.exitStatus, 0) << c.what;
    EXPECT_EQ(night.value("ob1.fit", 30), c.weather) << c.what;
    EXPECT_EQ(night.value("ob1.fit", 31), c.seeing) << c.what;
    EXPECT_EQ(night.value("ob1.fit", 49), c.observer) << c.what;
    EXPECT_EQ(night.log(), "") << c.what;
  }
}

// ---------------------------------------------------------------------------
// Prompts

TEST(DriverPrompts, DirectivesDecideWhichPromptsComeInOrder) {
  const struct {
    const char* what;
    std::string directives;
    std::string answers;
    std::string prompts;
    const char* weather;
    const char* seeing;
    const char* observer;
  } cases[] = {
      {"all three directives", kSettings, "", "", "'CLEAR   '", "1.5", "'Sato    '"},
      {"only WEATHER", "# WEATHER FAIR\n", "0.8 Kato\n", kSeeingPrompt + kObserverPrompt,
       "'FAIR    '", "0.8", "'Kato    '"},
      {"no directive", "", "4 2.0 Ito\n", kWeatherPrompt + kSeeingPrompt + kObserverPrompt,
       "'CLOUDY  '", "2.0", "'Ito     '"},
      {"SEEING and OBSERVER", "# OBSERVER Mori\n# SEEING 1.2\n", "3\n", kWeatherPrompt,
       "'HAZY    '", "1.2", "'Mori    '"},
      {"only OBSERVER", "# OBSERVER Abe\n", "1\n3.5\n", kWeatherPrompt + kSeeingPrompt,
       "'CLEAR   '", "3.5", "'Abe     '"},
      // A directive's weather is any word, and is used as written.
      {"WEATHER word of a directive", "# WEATHER cirrus_later\n# SEEING 9\n", "Ueda",
       kObserverPrompt, "'cirrus_later'", "9.0", "'Ueda    '"},
  };
  for (const auto& c : cases) {
    Night night;
    night.cameraFile("ob1.fts");
    night.list(c.directives + entry("ob1.fts"));
    e2e::RunResult r = night.run(c.answers);
    EXPECT_EQ(r.out, kBanner + c.prompts +
                         converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                         kFinished)
        << c.what;
    EXPECT_EQ(r.exitStatus, 0) << c.what;
    EXPECT_EQ(night.value("ob1.fit", 30), c.weather) << c.what;
    EXPECT_EQ(night.value("ob1.fit", 31), c.seeing) << c.what;
    EXPECT_EQ(night.value("ob1.fit", 49), c.observer) << c.what;
  }
}

TEST(DriverPrompts, AskedOnceAtTheFirstEntryAndReplacedByLaterDirectives) {
  Night night;
  night.cameraFile("ob1.fts");
  night.cameraFile("ob2.fts");
  // The first entry is skipped, yet the prompts come at it and never again.
  night.list(entry("gone.fts") + entry("ob1.fts") + "# WEATHER RAINY\n# OBSERVER Mori\n" +
             entry("ob2.fts"));
  e2e::RunResult r = night.run("2 1.0 Abe\n");
  EXPECT_EQ(r.out, kBanner + kWeatherPrompt + kSeeingPrompt + kObserverPrompt +
                       "Cannot open. (gone.fts)  Skipped\n" +
                       converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                       converted("ob2.fts", "ob2.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                       kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.value("ob1.fit", 30), "'FAIR    '");
  EXPECT_EQ(night.value("ob1.fit", 49), "'Abe     '");
  EXPECT_EQ(night.value("ob2.fit", 30), "'RAINY   '");
  EXPECT_EQ(night.value("ob2.fit", 31), "1.0");
  EXPECT_EQ(night.value("ob2.fit", 49), "'Mori    '");
  EXPECT_EQ(night.log(), logLine("gone.fts", "open"));
}

TEST(DriverPrompts, WeatherAndSeeingAnswersAreAskedAgainUntilUsable) {
  const std::string w = kWeatherPrompt, s = kSeeingPrompt, o = kObserverPrompt;
  const struct {
    const char* answers;
    std::string prompts;
    const char* weather;
    const char* seeing;
  } cases[] = {
      {"0 5 -1 3 1.5 Obs\n", w + w + w + w + s + o, "'HAZY    '", "1.5"},
      // The leading whole number counts; the rest of the word is dropped
      // (".5" does not become the seeing).
      {"2.5 1.5 Obs\n", w + s + o, "'FAIR    '", "1.5"},
      {"3abc 1.5 Obs\n", w + s + o, "'HAZY    '", "1.5"},
      {"CLEAR x 4 abc .7 Obs\n", w + w + w + s + s + o, "'CLOUDY  '", "0.7"},
      {"\n\n  1\n\n\t2.5e0\n\nObs", w + s + o, "'CLEAR   '", "2.5"},
      {"+2 1.5x Obs\n", w + s + o, "'FAIR    '", "1.5"},
  };
  for (const auto& c : cases) {
    Night night;
    night.cameraFile("ob1.fts");
    night.list(entry("ob1.fts"));
    e2e::RunResult r = night.run(c.answers);
    EXPECT_EQ(r.out, kBanner + c.prompts +
                         converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                         kFinished)
        << c.answers;
    EXPECT_EQ(r.exitStatus, 0) << c.answers;
    EXPECT_EQ(night.value("ob1.fit", 30), c.weather) << c.answers;
    EXPECT_EQ(night.value("ob1.fit", 31), c.seeing) << c.answers;
    EXPECT_EQ(night.value("ob1.fit", 49), "'Obs     '") << c.answers;
  }
}

TEST(DriverPrompts, EndOfInputAtAnyPromptEndsTheRun) {
  const std::string w = kWeatherPrompt, s = kSeeingPrompt, o = kObserverPrompt;
  const struct {
    std::string directives;
    const char* answers;
    std::string prompts;
  } cases[] = {
      {"", "", w},
      {"", "7 x", w + w + w},
      {"", "2", w + s},
      {"", "2 abc", w + s + s},
      {"", "2 1.0 \n\n", w + s + o},
      {"# WEATHER FAIR\n# SEEING 1.0\n", "   \n", o},
      {"# SEEING 1.0\n# OBSERVER Sato\n", "9\n", w + w},
  };
  for (const auto& c : cases) {
    Night night;
    night.cameraFile("ob1.fts");
    night.list(c.directives + entry("ob1.fts") + entry("gone.fts"));
    e2e::RunResult r = night.run(c.answers);
    EXPECT_EQ(r.out, kBanner + c.prompts + kEndOfAnswers) << c.directives << c.answers;
    EXPECT_EQ(r.err, "tarnfits: standard input: end of input at a question\n");
    EXPECT_EQ(r.exitStatus, 1) << c.answers;
    EXPECT_FALSE(night.exists("ob1.fit")) << c.answers;
    EXPECT_EQ(night.log(), "") << c.answers;
  }
}

TEST(DriverPrompts, TypedObserverIsKeptWholeTheDirectiveIsCut) {
  const std::string name = "Takahashi_Kenichiro_and_Nakamur";  // 31 characters
  ASSERT_EQ(name.size(), 31u);
  const struct {
    const char* what;
    std::string directives;
    std::string answers;
    std::string prompts;
    std::string observer;
  } cases[] = {
      {"typed", "# WEATHER CLEAR\n# SEEING 1.5\n", name + "\n", kObserverPrompt, name},
      {"directive", kSettings + "# OBSERVER " + name + "\n", "", "", name.substr(0, 28)},
  };
  for (const auto& c : cases) {
    Night night;
    night.cameraFile("ob1.fts");
    night.list(c.directives + entry("ob1.fts"));
    e2e::RunResult r = night.run(c.answers);
    EXPECT_EQ(r.out, kBanner + c.prompts +
                         converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                         kFinished)
        << c.what;
    std::string card = "OBSERVER= '" + c.observer + "' / OBSERVER'S NAME - IDENTIFICATION";
    card.resize(80, ' ');
    EXPECT_EQ(night.card("ob1.fit", 49), card) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Input and output names

TEST(DriverFiles, UpperCaseOnlyFilesOpenMixedCaseFilesDoNot) {
  const struct {
    const char* onDisk;
    const char* inList;
    bool opens;
  } cases[] = {
      {"OB0001.FTS", "OB0001.FTS", true},
      {"OB0001.FTS", "ob0001.fts", true},
      {"ob0001.fts", "Ob0001.Fts", true},
      {"OB0001.fts", "OB0001.fts", false},
      {"OB0001.fts", "ob0001.fts", false},
      {"ob0001.FTS", "ob0001.FTS", false},
  };
  for (const auto& c : cases) {
    Night night;
    night.cameraFile(c.onDisk);
    const std::string before = night.read(c.onDisk);
    night.list(kSettings + entry(c.inList));
    e2e::RunResult r = night.run();
    EXPECT_EQ(r.exitStatus, 0) << c.onDisk << " " << c.inList;
    if (c.opens) {
      EXPECT_EQ(r.out, kBanner +
                           converted("ob0001.fts", "ob0001.fit", kS5Mode,
                                     summary("M42", kM42, kS5Ut)) +
                           kFinished)
          << c.onDisk << " " << c.inList;
      EXPECT_EQ(e2e::fileSize(night.path("ob0001.fit")), kS5OutputBytes) << c.onDisk;
      EXPECT_EQ(night.log(), "");
    } else {
      EXPECT_EQ(r.out, kBanner + "Cannot open. (ob0001.fts)  Skipped\n" + kFinished)
          << c.onDisk << " " << c.inList;
      EXPECT_EQ(night.log(), logLine("ob0001.fts", "open"));
      EXPECT_EQ(night.files(),
                (std::set<std::string>{c.onDisk, "object.lst", "tarnlist.dat", kLogName}));
    }
    EXPECT_EQ(night.read(c.onDisk), before) << c.onDisk;
  }
}

TEST(DriverFiles, AFolderIsNoInputFile) {
  Night night;
  std::filesystem::create_directory(night.path("dir.fts"));
  std::filesystem::create_directory(night.path("UP.FTS"));
  night.list(kSettings + entry("dir.fts") + entry("up.fts"));
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, kBanner + "Cannot open. (dir.fts)  Skipped\n" +
                       "Cannot open. (up.fts)  Skipped\n" + kFinished);
  EXPECT_EQ(night.log(), logLine("dir.fts", "open") + logLine("up.fts", "open"));
  EXPECT_EQ(night.record(), "0,4,dir.fts,,refused,\"a folder, not a camera file\"\r\n0,5,up.fts,,refused,"
                            "\"a folder, not a camera file\"\r\n0,,,,finished,\r\n");
}

TEST(DriverFiles, OutputNameDropsTheLastThreeCharacters) {
  const struct {
    const char* name;
    const char* output;
  } cases[] = {
      {"ob0001.fts", "ob0001.fit"},
      {"m51.fits", "m51.ffit"},
      {"abc", "fit"},
      {"OBJ.F", "obfit"},
  };
  Night night;
  std::string list = kSettings, expected = kBanner;
  for (const auto& c : cases) {
    night.cameraFile(c.name);
    list += entry(c.name);
    expected += converted(lowerCase(c.name), c.output, kS5Mode, summary("M42", kM42, kS5Ut));
  }
  night.list(list);
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, expected + kFinished);
  for (const auto& c : cases)
    EXPECT_EQ(e2e::fileSize(night.path(c.output)), kS5OutputBytes) << c.name;
}

// ---------------------------------------------------------------------------
// Entry checks

TEST(DriverChecks, EachRefusalHasItsMessageReasonAndOrder) {
  const struct {
    const char* line;
    const char* console;  // after "<file> --> <output>  " unless it is refused earlier
    const char* reason;
    const char* plain = nullptr;  // the record's reason, when not the log's
  } cases[] = {
      // The open attempt comes first, whatever else is wrong.
      {"gone.fts NGC9999 7 0.0 0 0.20 3 R", "Cannot open. (gone.fts)  Skipped\n", "open"},
      {"GONE2.FTS M42", "Cannot open. (gone2.fts)  Skipped\n", "open"},
      // The object comes before the codes.
      {"c01.fts NGC9999 7 0.0 0 0.20 3 R", "CANNOT FIND 'NGC9999'.  Skipped\n",
       "OBJECT not find"},
      {"c02.fts m42 1 0.0 1 0.20 1 R", "CANNOT FIND 'm42'.  Skipped\n", "OBJECT not find"},
      {"c03.fts M4 1 0.0 1 0.20 1 R", "CANNOT FIND 'M4'.  Skipped\n", "OBJECT not find"},
      // The object's own line holds no whole position (lines 4 to 7).
      {"t4.fts Typo4 7 0.0 0 0.20 3 R", "CANNOT READ 'Typo4' (object.lst line 4).  Skipped\n",
       "OBJECT line unreadable", "the catalogue line of this object cannot be read (object.lst line 4)"},
      {"t5.fts Typo5 1 0.0 1 0.20 1 R", "CANNOT READ 'Typo5' (object.lst line 5).  Skipped\n",
       "OBJECT line unreadable", "the catalogue line of this object cannot be read (object.lst line 5)"},
      {"t6.fts Typo6 1 0.0 1 0.20 1 R", "CANNOT READ 'Typo6' (object.lst line 6).  Skipped\n",
       "OBJECT line unreadable", "the catalogue line of this object cannot be read (object.lst line 6)"},
      {"t7.fts Typo7 1 0.0 1 0.20 1 R", "CANNOT READ 'Typo7' (object.lst line 7).  Skipped\n",
       "OBJECT line unreadable", "the catalogue line of this object cannot be read (object.lst line 7)"},
      // Data type, then diaphragm, then clump.
      {"c04.fts M42 7 0.0 0 0.20 3 R", "ERROR in DATA-TYPE. (7) Skipped\n",
       "DATA-TYPE is not valid"},
      {"c05.fts M42 0 0.0 1 0.20 1 R", "ERROR in DATA-TYPE. (0) Skipped\n",
       "DATA-TYPE is not valid"},
      {"c06.fts M42 -1 0.0 1 0.20 1 R", "ERROR in DATA-TYPE. (-1) Skipped\n",
       "DATA-TYPE is not valid"},
      {"c07.fts M42 6 0.0 0 0.20 3 R", "ERROR in Diaphragm type. (0) Skipped\n",
       "Diaphragm type is not valid"},
      {"c08.fts M42 1 0.0 10 0.20 0 R", "ERROR in Diaphragm type. (10) Skipped\n",
       "Diaphragm type is not valid"},
      {"c09.fts M42 1 0.0 9 0.20 0 R", "ERROR in CLUMP TYPE. (0) Skipped\n",
       "CLUMP type is not valid"},
      {"c10.fts M42 1 0.0 1 0.20 3 R", "ERROR in CLUMP TYPE. (3) Skipped\n",
       "CLUMP type is not valid"},
      // The codes come before the camera header.
      {"sw1.fts M42 7 0.0 1 0.20 1 R", "ERROR in DATA-TYPE. (7) Skipped\n",
       "DATA-TYPE is not valid"},
      {"sw1.fts M42 1 0.0 1 0.20 1 R", "FITS NAXIS values are strange... Skip.\n",
       "FITS NAXIS values are strange..."},
  };
  Night night;
  night.write("object.lst", kCatalogue + "Typo4 2000.0 05 3x 31.9 +22 00 52\nTypo5 2000.0 05 34 31.9\n" +
                                "Typo6 2OOO.0 05 34 31.9 +22 00 52\nTypo7 2000.0 05 34 31.9 +22 00 5x\n");
  CameraSpec swapped = s5();
  swapped.kind = Kind::T5;
  swapped.naxis1 = 1018;
  swapped.naxis2 = 1000;
  night.headerOnly("sw1.fts", swapped);
  std::set<std::string> files = {"sw1.fts", "object.lst", "tarnlist.dat", kLogName};
  std::string list = kSettings, expected = kBanner, log, record;
  for (const auto& c : cases) {
    const std::string line = c.line;
    const std::string file = e2e::wordAt(line, 1);
    const std::string lower = lowerCase(file);
    const bool opens = lower.rfind("gone", 0) != 0;
    if (opens && lower != "sw1.fts") {
      night.headerOnly(file);
      files.insert(file);
    }
    list += line + "\n";
    if (opens) expected += lower + " --> " + outputOf(lower) + "  ";
    expected += c.console;
    log += logLine(lower, c.reason);
    record += "0," + std::to_string(4 + (&c - cases)) + "," + lower + "," +
              (opens ? outputOf(lower) : "") + ",refused," + (c.plain ? c.plain : c.reason) + "\r\n";
  }
  night.list(list);
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, expected + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(), log);
  EXPECT_EQ(night.record(), record + "0,,,,finished,\r\n");
  EXPECT_EQ(night.files(), files);  // no output was created
}

TEST(DriverChecks, CodeTablesReachTheOutputHeader) {
  const struct {
    const char* codes;  // data type, HWP angle, diaphragm, slit width, clump, filter
    const char* dataType;
    const char* diaphragm;
    const char* clump;
    const char* filter;
  } cases[] = {
      {"1 0.0 1 0.20 1 0", "'OBJECT  '", "'1HOLE   '", "'WEST    '", "'NO_FILTER'"},
      {"2 22.5 2 0.10 2 1", "'DARK    '", "'2HOLES_LOWER'", "'EAST    '", "'GT      '"},
      {"3 45 3 0.04 1 R", "'COMPARISON'", "'2HOLES_UPPER'", "'WEST    '", "'R       '"},
      {"4 67.5 4 0 2 10", "'BIAS    '", "'2SLIT01_LOWER'", "'EAST    '", "'10      '"},
      {"5 0 5 0.2 1 V", "'FLAT    '", "'2SLIT01_UPPER'", "'WEST    '", "'V       '"},
      {"6 0 6 0.2 2 00", "'NEARBY_SKY'", "'2SLIT02_LOWER'", "'EAST    '", "'00      '"},
      {"1 0 7 0.2 1 gt", "'OBJECT  '", "'2SLIT02_UPPER'", "'WEST    '", "'gt      '"},
      {"1 0 8 0.2 1 H_alpha", "'OBJECT  '", "'1SLIT004'", "'WEST    '", "'H_alpha '"},
      {"1 0 9 0.2 1 1", "'OBJECT  '", "'CALIBRAT01'", "'WEST    '", "'GT      '"},
  };
  Night night;
  std::string list = kSettings, expected = kBanner;
  int n = 0;
  for (const auto& c : cases) {
    const std::string file = "k" + std::to_string(++n) + ".fts";
    night.cameraFile(file);
    list += entry(file, "M42", c.codes);
    std::string type = std::string(c.dataType).substr(1);
    type = type.substr(0, type.find_first_of(" '"));
    expected += converted(file, "k" + std::to_string(n) + ".fit", kS5Mode,
                          summary("M42", kM42, kS5Ut, type));
  }
  night.list(list);
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, expected + kFinished);
  n = 0;
  for (const auto& c : cases) {
    const std::string out = "k" + std::to_string(++n) + ".fit";
    EXPECT_EQ(night.value(out, 14), c.dataType) << c.codes;
    EXPECT_EQ(night.value(out, 69), c.diaphragm) << c.codes;
    EXPECT_EQ(night.value(out, 52), c.clump) << c.codes;
    EXPECT_EQ(night.value(out, 66), c.filter) << c.codes;
  }
  EXPECT_EQ(night.value("k2.fit", 65), "22.50");  // POS-HWP
  EXPECT_EQ(night.value("k3.fit", 68), "0.04");   // SLIT-WID
}

TEST(DriverChecks, IncompleteEntryLinesAreRefusedAfterTheOpenAttempt) {
  Night night;
  night.cameraFile("ob1.fts");
  night.headerOnly("ab");
  night.headerOnly("ob1.fit");
  night.list(kSettings +
             "ob1.fts M42 1 0.0 1 0.20 1\n"     // seven fields
             "OB1.FTS M42 x 0.0 1 0.20 1 R\n"   // data type is no number
             "ob1.fts\n"                        // the name alone
             "ab M42 1 0.0 1 0.20 1 R\n"        // name of two characters
             "ob1.fit M42\n"                    // incomplete before overwrite
             "gone.fts M42\n"                   // missing: open attempt first
             "ob1.fts M42 1 0.0 1 0.20 1 R and more words\n");
  e2e::RunResult r = night.run();
  const std::string bad = "ERROR in entry line. (";
  EXPECT_EQ(r.out, kBanner + bad + "ob1.fts)  Skipped\n" + bad + "ob1.fts)  Skipped\n" + bad +
                       "ob1.fts)  Skipped\n" + bad + "ab)  Skipped\n" + bad +
                       "ob1.fit)  Skipped\n" + "Cannot open. (gone.fts)  Skipped\n" +
                       converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                       kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  const std::string invalid = "entry line is not valid";
  EXPECT_EQ(night.log(), logLine("ob1.fts", invalid) + logLine("ob1.fts", invalid) +
                             logLine("ob1.fts", invalid) + logLine("ab", invalid) +
                             logLine("ob1.fit", invalid) + logLine("gone.fts", "open"));
}

TEST(DriverChecks, OutputThatWouldOverwriteTheInputIsRefused) {
  Night night;
  night.cameraFile("ob1.fit");
  night.cameraFile("OB2.FIT");
  night.cameraFile("fit");
  night.cameraFile("ob4.FIT");
  const std::string ob1 = night.read("ob1.fit");
  const std::string ob2 = night.read("OB2.FIT");
  const std::string three = night.read("fit");
  night.list(kSettings + entry("ob1.fit") + entry("OB2.FIT") + entry("fit") +
             entry("ob4.FIT") + entry("gone.fit"));
  e2e::RunResult r = night.run();
  const std::string refused = "Output would overwrite the input. (";
  EXPECT_EQ(r.out, kBanner + refused + "ob1.fit)  Skipped\n" + refused + "ob2.fit)  Skipped\n" +
                       refused + "fit)  Skipped\n" + "Cannot open. (ob4.fit)  Skipped\n" +
                       "Cannot open. (gone.fit)  Skipped\n" + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  const std::string same = "output name equals input name";
  EXPECT_EQ(night.log(), logLine("ob1.fit", same) + logLine("ob2.fit", same) +
                             logLine("fit", same) + logLine("ob4.fit", "open") +
                             logLine("gone.fit", "open"));
  // Nothing was created or truncated.
  EXPECT_EQ(night.read("ob1.fit"), ob1);
  EXPECT_EQ(night.read("OB2.FIT"), ob2);
  EXPECT_EQ(night.read("fit"), three);
  EXPECT_EQ(night.files(), (std::set<std::string>{"ob1.fit", "OB2.FIT", "fit", "ob4.FIT",
                                                  "object.lst", "tarnlist.dat", kLogName}));
}

// ---------------------------------------------------------------------------
// Camera headers

TEST(DriverCameras, EveryLayoutReachesTheSummaryLineAndTheHeader) {
  struct Case {
    const char* file;
    CameraSpec setup;
    std::string mode;
    const char* ut;
    const char* bin1;
    const char* bin2;
    const char* exposure;  // EXPTIME
    const char* temperature;  // CCD-TEMP
    const char* adcSpeed;
  };
  CameraSpec t5 = camera(Kind::T5, 2024, 3, 14, 21, 0, 0, 61.0);
  t5.preGain = 3;
  t5.postGain = 2;
  t5.offset = 120;
  t5.adcSpeed = "FAST";
  t5.ccdTemperature = -95.5;
  CameraSpec binned = t5;
  binned.kind = Kind::T5Binned;
  binned.binning1 = 2;
  binned.binning2 = 3;
  binned.exposureSeconds = 121.0;
  CameraSpec shifted = t5;
  shifted.kind = Kind::T5BinnedShifted;
  shifted.binning1 = 4;
  shifted.binning2 = 1;
  shifted.exposureSeconds = 1.0;
  shifted.minute = 30;
  CameraSpec s5binned = t5;
  s5binned.kind = Kind::S5;
  s5binned.binning1 = 2;
  s5binned.binning2 = 4;
  s5binned.hour = 22;
  // The Andor camera writes UT.
  CameraSpec andor = camera(Kind::Andor16, 2024, 3, 14, 12, 0, 0, 61.0);
  andor.binning1 = 2;
  andor.binning2 = 1;
  andor.ccdTemperature = -60.25;
  andor.readoutWord = "1.600000E-05";
  const Case cases[] = {
      {"t5.fts", t5, kT5Mode, "2024-03-14 12:00:30", "1", "1", "61.00", "-95.50", "'FAST    '"},
      {"t5b.fts", binned, kT5Mode, "2024-03-14 12:01:00", "2", "3", "121.00", "-95.50",
       "'FAST    '"},
      {"t5s.fts", shifted, kT5Mode, "2024-03-14 12:30:00", "4", "1", "1.00", "-95.50",
       "'FAST    '"},
      {"s5.fts", s5binned, kS5Mode, "2024-03-14 13:00:30", "2", "4", "61.00", "-95.50",
       "'FAST    '"},
      {"an.fts", andor, kAndorMode, "2024-03-14 12:00:30", "2", "1", "61.000", "-60.25",
       "'1.600000E-05'"},
  };
  Night night;
  std::string list = kSettings, expected = kBanner;
  for (const Case& c : cases) {
    night.cameraFile(c.file, c.setup);
    list += entry(c.file);
    expected += converted(c.file, outputOf(c.file), c.mode, summary("M42", kM42, c.ut));
  }
  night.list(list);
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, expected + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(), "");
  for (const Case& c : cases) {
    const std::string output = outputOf(c.file);
    EXPECT_EQ(night.value(output, 58), c.bin1) << c.file;
    EXPECT_EQ(night.value(output, 59), c.bin2) << c.file;
    EXPECT_EQ(night.value(output, 64), c.exposure) << c.file;
    EXPECT_EQ(night.value(output, 57), c.temperature) << c.file;
    EXPECT_EQ(night.value(output, 63), c.adcSpeed) << c.file;
    EXPECT_EQ(night.value(output, 24), std::string("'") + std::string(c.ut, 10) + "'")
        << c.file;
    EXPECT_EQ(night.value(output, 25), std::string("'") + (c.ut + 11) + "'") << c.file;
  }
  // The settings block of the three T5 layouts and S5; the shifted one reads
  // it two cards further down.
  EXPECT_EQ(night.value("t5.fit", 55), "'T5 RUVUZOR (TC215)'");
  for (const char* output : {"t5.fit", "t5b.fit", "t5s.fit", "s5.fit"}) {
    EXPECT_EQ(night.value(output, 60), "3") << output;    // PREGAIN
    EXPECT_EQ(night.value(output, 61), "2") << output;    // POSTGAIN
    EXPECT_EQ(night.value(output, 62), "120") << output;  // OFFSET
  }
  EXPECT_EQ(night.value("s5.fit", 55), "'S5 RUVUZOR (SITe)'");
  EXPECT_EQ(night.value("an.fit", 55), "'Andor DV440'");
  EXPECT_EQ(night.value("an.fit", 48), "0.500");  // GAIN of the readout time
}

TEST(DriverCameras, ImageSizeAndHeaderLengthChecks) {
  CameraSpec swappedT5 = s5();
  swappedT5.kind = Kind::T5;
  swappedT5.naxis1 = 1018;
  swappedT5.naxis2 = 1000;
  CameraSpec swappedAndor = s5();
  swappedAndor.kind = Kind::Andor16;
  swappedAndor.naxis1 = 512;
  swappedAndor.naxis2 = 2048;
  CameraSpec fiveDigits = camera(Kind::T5, 2024, 3, 14, 21, 0, 0, 61.0);
  fiveDigits.naxis1 = 11000;
  const std::string strange = "FITS NAXIS values are strange... Skip.\n";
  const std::string tooShort = "FITS header is too short... Skip.\n";
  const struct {
    const char* file;
    CameraSpec setup;
    long long bytes;
    std::string console;
    const char* reason;
  } cases[] = {
      {"sw1.fts", swappedT5, nightgen::kBlock, strange, "FITS NAXIS values are strange..."},
      {"sw2.fts", swappedAndor, nightgen::kBlock, strange, "FITS NAXIS values are strange..."},
      {"five.fts", fiveDigits, -1,
       kT5Mode + summary("M42", kM42, "2024-03-14 12:00:30"), nullptr},
      {"cut.fts", s5(), nightgen::kBlock - 1, tooShort, "FITS header is too short"},
      {"empty.fts", s5(), 0, tooShort, "FITS header is too short"},
      // The length is checked before the image size.
      {"cutsw.fts", swappedT5, 400, tooShort, "FITS header is too short"},
  };
  Night night;
  std::string list = kSettings, expected = kBanner, log;
  for (const auto& c : cases) {
    night.cameraFile(c.file, c.setup, c.bytes);
    list += entry(c.file);
    expected += std::string(c.file) + " --> " + outputOf(c.file) + "  " + c.console;
    if (c.reason != nullptr) log += logLine(c.file, c.reason);
  }
  night.list(list);
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, expected + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(), log);
  // Only the five-digit size was converted; its size card is copied whole.
  EXPECT_EQ(night.value("five.fit", 4), "11000");
  for (const char* output : {"sw1.fit", "sw2.fit", "cut.fit", "empty.fit", "cutsw.fit"})
    EXPECT_FALSE(night.exists(output)) << output;
}

TEST(DriverCameras, AndorStartRollsOverTheDayAndUnknownReadoutWarns) {
  const struct {
    const char* file;
    CameraSpec setup;
    bool warning;
    const char* ut;
    const char* jst;  // JST card of the output
  } cases[] = {
      // 20:15 UT on the 31st is 05:15 JST on the "32nd" of the same month.
      {"an1.fts", camera(Kind::Andor16, 2024, 1, 31, 20, 15, 0, 11.0), false,
       "2024-01-31 20:15:05", "'05:15:05'"},
      {"an2.fts", camera(Kind::Andor16, 2023, 12, 31, 15, 0, 0, 3.0), false,
       "2023-12-31 15:00:01", "'00:00:01'"},
      {"an3.fts", camera(Kind::Andor16, 2024, 3, 14, 8, 59, 59, 1.0), false,
       "2024-03-14 08:59:59", "'17:59:59'"},
      {"an4.fts", camera(Kind::Andor16, 2024, 2, 29, 23, 59, 59, 3.0), true,
       "2024-03-01 00:00:00", "'09:00:00'"},
  };
  Night night;
  std::string list = kSettings, expected = kBanner;
  for (const auto& c : cases) {
    CameraSpec setup = c.setup;
    setup.readoutWord = c.warning ? "3.2E-05" : "3.200000E-05";
    night.cameraFile(c.file, setup);
    list += entry(c.file);
    expected += std::string(c.file) + " --> " + outputOf(c.file) + "  " + kAndorMode +
                (c.warning ? "# Warning! Cannot read READTIME\n" : "") +
                summary("M42", kM42, c.ut);
  }
  night.list(list);
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, expected + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(), "");  // the warning is no refusal
  EXPECT_NE(night.record().find(",7,an4.fts,an4.fit,converted with a warning,Cannot read READTIME\r"),
            std::string::npos) << night.record();
  for (const auto& c : cases) {
    const std::string output = outputOf(c.file);
    EXPECT_EQ(night.value(output, 24), std::string("'") + std::string(c.ut, 10) + "'") << c.file;
    EXPECT_EQ(night.value(output, 25), std::string("'") + (c.ut + 11) + "'") << c.file;
    EXPECT_EQ(night.value(output, 26), c.jst) << c.file;
  }
  EXPECT_EQ(night.value("an1.fit", 48), "1.005");
}

// ---------------------------------------------------------------------------
// Summary line

TEST(DriverSummary, MidExposureDateAndTimeOfKnownInputs) {
  const struct {
    const char* file;
    CameraSpec setup;  // JST start as the T5 and S5 cameras write it
    const char* object;
    std::string position;
    const char* ut;
  } cases[] = {
      // Half of 61 s adds 30.5 s; the half second is cut away.
      {"a.fts", camera(Kind::S5, 2024, 3, 14, 21, 0, 0, 61.0), "M42", kM42,
       "2024-03-14 12:00:30"},
      {"b.fts", camera(Kind::S5, 2024, 3, 15, 5, 0, 0, 0.002), "M42", kM42,
       "2024-03-14 20:00:00"},
      // New Year's morning in Japan is still the old year in UT.
      {"c.fts", camera(Kind::S5, 2024, 1, 1, 5, 0, 0, 1.0), "M42", kM42,
       "2023-12-31 20:00:00"},
      {"d.fts", camera(Kind::S5, 2024, 3, 1, 0, 30, 0, 1.0), "M42", kM42,
       "2024-02-29 15:30:00"},
      {"e.fts", camera(Kind::S5, 2023, 3, 1, 8, 59, 59, 3.0), "M42", kM42,
       "2023-03-01 00:00:00"},
      // A long exposure that runs over midnight JST.
      {"f.fts", camera(Kind::S5, 2024, 2, 29, 23, 0, 0, 7201.0), "M42", kM42,
       "2024-02-29 15:00:00"},
      // The catalogue position and equinox, never the apparent position.
      {"g.fts", camera(Kind::S5, 2024, 3, 14, 21, 0, 0, 61.0), "CygX-1", kCygX1,
       "2024-03-14 12:00:30"},
      // A name longer than ten characters is printed whole.
      {"h.fts", camera(Kind::S5, 2024, 3, 14, 21, 0, 0, 61.0), "NGC1976_ORION", kM42,
       "2024-03-14 12:00:30"},
  };
  Night night;
  std::string list = kSettings, expected = kBanner;
  for (const auto& c : cases) {
    night.cameraFile(c.file, c.setup);
    list += entry(c.file, c.object);
    expected += converted(c.file, outputOf(c.file), kS5Mode,
                          summary(c.object, c.position, c.ut));
  }
  night.list(list);
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, expected + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  for (const auto& c : cases) {
    const std::string output = outputOf(c.file);
    EXPECT_EQ(night.value(output, 24), std::string("'") + std::string(c.ut, 10) + "'") << c.file;
    EXPECT_EQ(night.value(output, 25), std::string("'") + (c.ut + 11) + "'") << c.file;
  }
}

TEST(DriverSummary, EditorsPrintTheConvertersSummaryLineForAnAndorFile) {
  // The same camera clock on a 32-bit and a 16-bit Andor file, with a
  // readout time outside the table: the converter warns, the editors do not.
  const struct {
    Kind kind;
    const char* editor;
  } cases[] = {{Kind::Andor32, TARNFITS4_EXE}, {Kind::Andor16Raw, TARNFITS4S_EXE}};
  for (const auto& c : cases) {
    CameraSpec setup = camera(c.kind, 2024, 1, 31, 20, 15, 0, 11.0);
    setup.readoutWord = "3.2E-05";
    Night night;
    night.cameraFile("an1.fts", setup);
    night.list(kSettings + entry("an1.fts"));
    const std::string line = summary("M42", kM42, "2024-01-31 20:15:05");

    e2e::RunResult converter = night.run();
    EXPECT_EQ(converter.out, kBanner + "an1.fts --> an1.fit  " + kAndorMode +
                                 "# Warning! Cannot read READTIME\n" + line + kFinished)
        << c.editor;
    EXPECT_EQ(converter.exitStatus, 0);

    night.remove("an1.fit");
    e2e::RunResult editor = night.run("", c.editor);
    EXPECT_EQ(editor.out,
              kEditorBanner + "an1.fts --> an1.fit  " + kAndorMode + line + kFinished)
        << c.editor;
    EXPECT_EQ(editor.exitStatus, 0) << c.editor;
    EXPECT_TRUE(night.exists("an1.fit")) << c.editor;
    EXPECT_EQ(night.log(), "") << c.editor;
  }
}

// ---------------------------------------------------------------------------
// Object catalogue

TEST(DriverCatalogue, FatalCatalogueFaultsEndTheRun) {
  const std::string m42 = "M42 2000.0 05 35 17.5 -05 23 28.5\n";
  const std::string cannotOpen = "Cannot open (object.lst)\n";
  const std::string readError = "FILE READ ERROR (object.lst)\n";
  const struct {
    const char* what;
    const char* name;  // catalogue file name; nullptr: none
    std::string text;
    std::string message;  // empty: ob1 is converted
    // After ob1 is converted: true when the search for the missing object
    // of ob2, which reads the whole catalogue, meets a broken line.
    bool laterFatal;
  } cases[] = {
      {"no catalogue", nullptr, "", cannotOpen, false},
      {"mixed-case catalogue name", "Object.lst", m42, cannotOpen, false},
      {"catalogue is a folder", "object.lst/", "", cannotOpen, false},
      {"upper-case catalogue", "OBJECT.LST", m42, "", false},
      {"sign missing before the target", "object.lst",
       "M1 2000.0 05 34 31.5 22 00 52.5\n" + m42, readError, false},
      {"other sign before the target", "object.lst",
       "M1 2000.0 05 34 31.5 *22 00 52.5\n" + m42, readError, false},
      {"fields stop after the sign", "object.lst", "M1 2000.0 05 34 31.5 +22\n" + m42,
       readError, false},
      {"upper-case catalogue, bad sign", "OBJECT.LST",
       "M1 2000.0 05 34 31.5 22 00 52\n" + m42, readError, false},
      {"broken matching line", "object.lst", "M42 2000.0 05 35 17.5 -05\n" + m42, readError,
       false},
      {"sign missing after the target", "object.lst",
       m42 + "M1 2000.0 05 34 31.5 22 00 52.5\n", "", true},
      {"remarks, blank lines and a name alone", "object.lst",
       "\n# winter targets\n   \t\nNGC1976\nM1 2000.0 05 34 31.5\n" + m42, "", false},
  };
  for (const auto& c : cases) {
    Night night;
    night.remove("object.lst");
    std::string name = c.name == nullptr ? "" : c.name;
    if (!name.empty() && name.back() == '/')
      std::filesystem::create_directory(night.path(name.substr(0, name.size() - 1)));
    else if (!name.empty())
      night.write(name, c.text);
    night.cameraFile("ob1.fts");
    night.headerOnly("ob2.fts");
    night.list(kSettings + entry("gone.fts") + entry("ob1.fts") + entry("ob2.fts", "NGC9999"));
    e2e::RunResult r = night.run();
    const std::string start = kBanner + "Cannot open. (gone.fts)  Skipped\n";
    if (c.message.empty()) {
      const std::string ob1 =
          converted("ob1.fts", "ob1.fit", kS5Mode, summary("M42", kM42, kS5Ut));
      if (c.laterFatal) {
        EXPECT_EQ(r.out, start + ob1 + "ob2.fts --> ob2.fit  " + readError) << c.what;
        EXPECT_EQ(r.exitStatus, 1) << c.what;
        EXPECT_EQ(night.log(), logLine("gone.fts", "open")) << c.what;
      } else {
        EXPECT_EQ(r.out, start + ob1 + "ob2.fts --> ob2.fit  CANNOT FIND 'NGC9999'.  Skipped\n" +
                             kFinished)
            << c.what;
        EXPECT_EQ(r.exitStatus, 0) << c.what;
        EXPECT_EQ(night.log(),
                  logLine("gone.fts", "open") + logLine("ob2.fts", "OBJECT not find"))
            << c.what;
      }
      EXPECT_EQ(e2e::fileSize(night.path("ob1.fit")), kS5OutputBytes) << c.what;
    } else {
      EXPECT_EQ(r.out, start + "ob1.fts --> ob1.fit  " + c.message) << c.what;
      EXPECT_EQ(r.exitStatus, 1) << c.what;
      const std::string text = c.text.substr(0, c.text.find('\n'));  // the broken line
      if (c.message == readError) {
        EXPECT_EQ(r.err, "tarnfits: object.lst:1: cannot read \"" + text + "\"\n") << c.what;
        const std::string stop =
            "5,ob1.fts,ob1.fit,stopped,\"object.lst:1: cannot read \"\"" + text + "\"\"\"\r\n";
        EXPECT_EQ(night.record(), "1,4,gone.fts,,refused,open\r\n1," + stop +
                                      "1,6,ob2.fts,,not reached,\r\n1," + stop)
            << c.what;
      }
      if (c.message == cannotOpen)  // the cause the system gives
        EXPECT_EQ(r.err, std::string("tarnfits: object.lst: ") +
                             (name == "object.lst/" ? "Is a directory\n" : "No such file or directory\n"));
      EXPECT_EQ(night.log(), logLine("gone.fts", "open")) << c.what;
      EXPECT_FALSE(night.exists("ob1.fit")) << c.what;
    }
  }
}

TEST(DriverCatalogue, NeverOpenedWhenNoInputFileOpens) {
  Night night;
  night.remove("object.lst");
  night.list(kSettings + entry("gone1.fts") + entry("gone2.fts"));
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, kBanner + "Cannot open. (gone1.fts)  Skipped\n" +
                       "Cannot open. (gone2.fts)  Skipped\n" + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(), logLine("gone1.fts", "open") + logLine("gone2.fts", "open"));
}

TEST(DriverCatalogue, NamesAreMatchedWholeAndAsWritten) {
  Night night;
  // A catalogue line longer than 99 characters: neither the start of its
  // name nor the rest of the line counts as a name of its own.
  const std::string longName(150, 'N');
  const std::string name30 = "Orion_Nebula_M42_NGC1976_field";
  night.write("object.lst",
              // A hash mark has no special meaning in the catalogue.
              "#M42 2000.0 12 00 00.5 +00 30 30.5\n"
              // Fields may run together; the first line of a name wins.
              "M42 2000.0 053517.5 -052328.5\n"
              "M42 1950.0 01 00 00.5 +01 00 00.5\n" +
              longName + " 1950.0 01 00 00.5 +01 00 00.5\n" +
              name30 + "_2 1950.0 01 00 00.5 +01 00 00.5\n" +
              name30 + " 1950.0 19 56 28.5 +35 03 55.5\n");
  night.cameraFile("ob1.fts");
  night.cameraFile("ob2.fts");
  night.cameraFile("ob3.fts");
  night.headerOnly("ob4.fts");
  night.headerOnly("ob5.fts");
  night.list(kSettings + entry("ob1.fts", "#M42") + entry("ob2.fts", "M42") +
             entry("ob3.fts", name30) + entry("ob4.fts", std::string(70, 'N')) +
             entry("ob5.fts", std::string(51, 'N')));
  e2e::RunResult r = night.run();
  EXPECT_EQ(r.out, kBanner +
                       converted("ob1.fts", "ob1.fit", kS5Mode,
                                 summary("#M42", "RA=12:00:00 DEC=+00:30:30 2000.0", kS5Ut)) +
                       converted("ob2.fts", "ob2.fit", kS5Mode, summary("M42", kM42, kS5Ut)) +
                       converted("ob3.fts", "ob3.fit", kS5Mode, summary(name30, kCygX1, kS5Ut)) +
                       "ob4.fts --> ob4.fit  CANNOT FIND '" + std::string(70, 'N') +
                       "'.  Skipped\n" + "ob5.fts --> ob5.fit  CANNOT FIND '" +
                       std::string(51, 'N') + "'.  Skipped\n" + kFinished);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(night.log(),
            logLine("ob4.fts", "OBJECT not find") + logLine("ob5.fts", "OBJECT not find"));
}

// An edit of the catalogue during the run, in place and of the same size,
// counts from the next lookup on. The run list, a named pipe, holds the
// third entry back until the second has its output or its temporary (the
// seventh file; its lookup made), waited for up to 30 s.
TEST(DriverCatalogue, AnEditDuringTheRunCountsFromTheNextEntry) {
  Night night;
  for (const char* name : {"ob1.fts", "ob2.fts", "ob3.fts"}) night.cameraFile(name);
  ASSERT_EQ(::mkfifo(night.path("tarnlist.dat").c_str(), 0600), 0);
  usleep(2100000);  // a catalogue old enough to be kept
  e2e::RunResult r;
  std::thread run([&night, &r] { r = night.run(); });  // killed after 60 s
  int list = -1;  // the run list's writer, once the program reads it (20 s at most)
  for (int i = 0; i < 4000 && list < 0; ++i, usleep(list < 0 ? 5000 : 0))
    list = ::open(night.path("tarnlist.dat").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  const std::string first = kSettings + entry("ob1.fts") + entry("ob2.fts"), last = entry("ob3.fts");
  EXPECT_EQ(::write(list, first.data(), first.size()), static_cast<ssize_t>(first.size()));
  for (int i = 0; i < 4000 && night.files().size() < 7; ++i) usleep(5000);
  EXPECT_EQ(night.files().size(), 7u) << "waited 20 s for ob2.fit";
  night.write("object.lst", "M42 2000.0 05 35 19.5" + kCatalogue.substr(21));
  EXPECT_EQ(::write(list, last.data(), last.size()), static_cast<ssize_t>(last.size()));
  ::close(list);
  run.join();
  const std::string m42 = summary("M42", kM42, kS5Ut), moved = "RA=05:35:19" + kM42.substr(11);
  EXPECT_EQ(r.out, kBanner + converted("ob1.fts", "ob1.fit", kS5Mode, m42) +
                       converted("ob2.fts", "ob2.fit", kS5Mode, m42) +
                       converted("ob3.fts", "ob3.fit", kS5Mode, summary("M42", moved, kS5Ut)) +
                       kFinished);
}

}  // namespace
