// The command line of the three programs, run as built: --help and -h print
// the usage on standard output, --version the name and the project version;
// every other command line names the wrong argument on standard error, exits with
// status 2 and leaves the night's folder as it was (no run list opened, no
// output, no error log).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

namespace fs = std::filesystem;

struct Program {
  const char* name;
  const char* exe;
  const char* ownWords;  // words only this program's usage holds
};

const Program kPrograms[] = {
    {"tarnfits", TARNFITS_EXE, "astronomical"},
    {"tarnfits4", TARNFITS4_EXE, "32-bit samples"},
    {"tarnfits4s", TARNFITS4S_EXE, "16-bit samples"},
};

constexpr double kTimeoutSeconds = 10;  // only a program that hangs reaches it

bool isVersionNumber(const std::string& text) {
  // Three dot-separated runs of digits: 1.0.0, 12.3.45.
  int dots = 0;
  bool digitBefore = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digitBefore = true;
    } else if (c == '.' && digitBefore) {
      ++dots;
      digitBefore = false;
    } else {
      return false;
    }
  }
  return dots == 2 && digitBefore;
}

// The version that CMake's project() line declares: the word after VERSION.
std::string projectVersion() {
  const std::string lists = e2e::readFile(std::string(SOURCE_DIR) + "/CMakeLists.txt");
  const std::string opening = "project(tarnfits VERSION ";
  const std::size_t project = lists.find(opening);
  if (project == std::string::npos) return "";
  std::istringstream words(lists.substr(project + opening.size()));
  std::string version;
  words >> version;
  return version;
}

// A night folder in which a run would leave traces: the directives answer
// every question and the one entry names a camera file that is missing, so
// a run prints its banner and appends a line to tarnfits.log.
const char* const kRunList =
    "# WEATHER CLEAR\n"
    "# SEEING 1.5\n"
    "# OBSERVER Yamada\n"
    "ob0001.fts M42 1 0.0 1 0.20 1 R\n";
const char* const kCatalogue = "M42         2000.0 05 35 17.3 -05 23 28\n";

void writeNight(const e2e::ScopedTempDir& dir) {
  e2e::writeFile(dir.file("tarnlist.dat"), kRunList);
  e2e::writeFile(dir.file("object.lst"), kCatalogue);
}

// Every entry of a folder with its bytes and modification time.
struct Entry {
  std::string bytes;
  fs::file_time_type modified;
  bool operator==(const Entry& other) const {
    return bytes == other.bytes && modified == other.modified;
  }
};
using Snapshot = std::map<std::string, Entry>;

Snapshot snapshot(const std::string& folder) {
  Snapshot shot;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string path = entry.path().string();
    shot[entry.path().filename().string()] = {e2e::readFile(path),
                                              fs::last_write_time(entry.path())};
  }
  return shot;
}

std::string names(const Snapshot& shot) {
  std::string list;
  for (const auto& [name, entry] : shot) list += name + " ";
  return list;
}

std::string describe(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += "'" + arg + "' ";
  return text;
}

e2e::RunResult run(const Program& program, const std::string& folder,
                   const std::vector<std::string>& args) {
  return e2e::runProgram(program.exe, folder, "", args, kTimeoutSeconds);
}

TEST(CommandLine, HelpAndShortHelpPrintTheUsageOnStandardOutput) {
  for (const Program& program : kPrograms) {
    e2e::ScopedTempDir night;
    writeNight(night);
    const Snapshot before = snapshot(night.path());
    const e2e::RunResult help = run(program, night.path(), {"--help"});
    const e2e::RunResult shortHelp = run(program, night.path(), {"-h"});
    const std::string name = program.name;
    SCOPED_TRACE(name);

    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Usage: " + name + " [-j N | --jobs N]\n", 0), 0u) << help.out;
    // What the program does, the files it reads and writes, the statuses.
    for (const std::string& words :
         {std::string(program.ownWords), std::string("tarnlist.dat"),
          std::string("object.lst"), std::string("tarnfits.log"),
          std::string("\"fit\""), std::string("Exit status"),
          std::string("  0  "), std::string("  1  "), std::string("  2  "),
          std::string("-j, --jobs N   entries in flight, 1 to 8"),
          "Manual: man " + name + "\n"}) {
      EXPECT_NE(help.out.find(words), std::string::npos) << "missing: " << words;
    }
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 79u) << "line too wide for a terminal: " << line;
    }
    EXPECT_EQ(shortHelp.exitStatus, 0);
    EXPECT_EQ(shortHelp.err, "");
    EXPECT_EQ(shortHelp.out, help.out);
    EXPECT_EQ(snapshot(night.path()), before) << names(snapshot(night.path()));
  }
}

TEST(CommandLine, VersionPrintsTheProgramNameAndTheProjectVersion) {
  const std::string version = projectVersion();
  ASSERT_TRUE(isVersionNumber(version))
      << "no version in the project() line: '" << version << "'";
  for (const Program& program : kPrograms) {
    e2e::ScopedTempDir night;
    writeNight(night);
    const Snapshot before = snapshot(night.path());
    const e2e::RunResult result = run(program, night.path(), {"--version"});
    EXPECT_EQ(result.exitStatus, 0) << program.name;
    EXPECT_EQ(result.err, "") << program.name;
    EXPECT_EQ(result.out, std::string(program.name) + " " + version + "\n");
    EXPECT_EQ(snapshot(night.path()), before) << program.name;
  }
}

// The first line names the wrong argument; the second points to --help.
struct WrongCommandLine {
  std::vector<std::string> args;
  std::string firstLineTail;  // after "<program>: "
};

const WrongCommandLine kWrongCommandLines[] = {
    {{"--foo"}, "unknown argument '--foo'"},
    {{"-x"}, "unknown argument '-x'"},
    {{"help"}, "unknown argument 'help'"},
    {{"--HELP"}, "unknown argument '--HELP'"},
    {{"-help"}, "unknown argument '-help'"},
    {{"--help="}, "unknown argument '--help='"},
    {{"--versions"}, "unknown argument '--versions'"},
    {{"-v"}, "unknown argument '-v'"},
    {{""}, "unknown argument ''"},
    {{"-"}, "unknown argument '-'"},
    {{"--"}, "unknown argument '--'"},
    {{"tarnlist.dat"}, "unknown argument 'tarnlist.dat'"},
    {{"%s%n%s"}, "unknown argument '%s%n%s'"},
    {{"foo", "--help"}, "unknown argument 'foo'"},
    {{"--help", "x"}, "unexpected argument 'x'"},
    {{"-h", "-h"}, "unexpected argument '-h'"},
    {{"--version", "--help"}, "unexpected argument '--help'"},
    {{"--version", "tarnlist.dat", "object.lst"}, "unexpected argument 'tarnlist.dat'"},
    {{"-j"}, "-j and --jobs take a number of entries in flight from 1 to 8, not ''"},
    {{"--jobs", "0"}, "-j and --jobs take a number of entries in flight from 1 to 8, not '0'"},
    {{"-j9"}, "-j and --jobs take a number of entries in flight from 1 to 8, not '9'"},
    {{"--jobs=12"}, "-j and --jobs take a number of entries in flight from 1 to 8, not '12'"},
    {{"-j", "2", "x"}, "unexpected argument 'x'"},
};

TEST(CommandLine, AnyOtherCommandLineNamesTheWrongArgumentOnStandardErrorAndTouchesNothing) {
  for (const Program& program : kPrograms) {
    e2e::ScopedTempDir night;
    writeNight(night);
    const Snapshot before = snapshot(night.path());
    for (const WrongCommandLine& wrong : kWrongCommandLines) {
      SCOPED_TRACE(std::string(program.name) + " " + describe(wrong.args));
      const e2e::RunResult result = run(program, night.path(), wrong.args);
      EXPECT_EQ(result.exitStatus, 2);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err,
                std::string(program.name) + ": " + wrong.firstLineTail + "\nTry '" +
                    program.name + " --help'.\n");
      EXPECT_FALSE(e2e::fileExists(night.file("tarnfits.log")));
      EXPECT_EQ(snapshot(night.path()), before) << names(snapshot(night.path()));
    }
  }
}

// The same folder run without arguments does leave traces: the checks above
// would see a program that started the night.
TEST(CommandLine, WithoutArgumentsTheNightRunsInTheSameFolder) {
  for (const Program& program : kPrograms) {
    SCOPED_TRACE(program.name);
    e2e::ScopedTempDir night;
    writeNight(night);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"-j", "1"}, {"-j8"}, {"--jobs", "3"}, {"--jobs=2"}}) {
      SCOPED_TRACE(describe(args));
      std::remove(night.file("tarnfits.log").c_str());
      const e2e::RunResult result = run(program, night.path(), args);
      EXPECT_EQ(result.exitStatus, 0);
      const std::string tail = "Cannot open. (ob0001.fts)  Skipped\n---- FINISHED ----\n";
      ASSERT_GE(result.out.size(), tail.size()) << result.out;
      EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
      EXPECT_EQ(e2e::readFile(night.file("tarnfits.log")),
                "cannot open 'ob0001.fts'  (open)\n");
    }
  }
}

// A run list that is a named pipe without a writer blocks whoever opens it:
// the options and the refusals finish without ever opening it.
TEST(CommandLine, OptionsAndRefusalsNeverOpenTheRunList) {
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"--help"}, 0}, {{"-h"}, 0}, {{"--version"}, 0},
      {{"--bogus"}, 2}, {{"--help", "--bogus"}, 2}};
  for (const Program& program : kPrograms) {
    e2e::ScopedTempDir night;
    ASSERT_EQ(::mkfifo(night.file("tarnlist.dat").c_str(), 0600), 0);
    for (const auto& [args, status] : cases) {
      SCOPED_TRACE(std::string(program.name) + " " + describe(args));
      const e2e::RunResult result = run(program, night.path(), args);
      EXPECT_FALSE(result.timedOut);
      EXPECT_EQ(result.exitStatus, status);
    }
  }
}

// Help or version text that cannot be written (a full disk) is no success.
TEST(CommandLine, HelpOrVersionThatCannotBeWrittenFails) {
  for (const Program& program : kPrograms) {
    for (const char* option : {"--help", "--version"}) {
      SCOPED_TRACE(std::string(program.name) + " " + option);
      e2e::ScopedTempDir folder;
      const std::string errors = folder.file("stderr");
      const std::string command = "'" + std::string(program.exe) + "' " + option +
                                  " >/dev/full 2>'" + errors + "'";
      const int status = std::system(command.c_str());
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_EQ(e2e::readFile(errors),
                std::string(program.name) + ": cannot write to standard output\n");
    }
  }
}

}  // namespace
