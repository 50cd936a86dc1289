// Reliability of the three programs, end to end on the real executables: a
// full disk at the header and at the data stage, folders where files should
// be, a run killed half way through a transfer, hostile texts in every
// input, and a long night under tight descriptor and memory limits.
// Whatever happens, no input changes and no incomplete output is left under
// an output's name by a run that could clean up after itself.
//
// The tests run as root in CI, so every fault binds root too: a small
// file system, a file size limit (RLIMIT_FSIZE), folders in the way,
// SIGKILL, ulimit.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e.h"
#include "nightgen.h"

namespace {

namespace fs = std::filesystem;
using nightgen::Kind;

struct Program {
  const char* name;
  const char* exe;
  Kind andorKind;  // the Andor files the program is made for
};

const Program kPrograms[] = {
    {"tarnfits", TARNFITS_EXE, Kind::Andor16},
    {"tarnfits4", TARNFITS4_EXE, Kind::Andor32},
    {"tarnfits4s", TARNFITS4S_EXE, Kind::Andor16Raw},
};
const Program& kConverter = kPrograms[0];
const Program kEditors[] = {kPrograms[1], kPrograms[2]};

bool isConverter(const Program& p) { return std::strcmp(p.name, kConverter.name) == 0; }
// A small camera file the program converts (the editors refuse T5 and S5).
Kind smallKind(const Program& p) { return isConverter(p) ? Kind::S5 : p.andorKind; }

// Whether the programs were built with AddressSanitizer: it reserves
// terabytes of address space and keeps freed memory in quarantine, so
// virtual-memory limits and resident sizes say nothing about the program
// itself there. The test command also sets TARNFITS_SANITIZED for the
// sanitizer build.
bool sanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  const char* flag = std::getenv("TARNFITS_SANITIZED");
  return flag != nullptr && *flag != '\0' && std::strcmp(flag, "0") != 0;
#endif
}

const char kCatalogue[] =
    "M42         2000.0 05 35 17.3 -05 23 28\n"
    "M1          2000.0 05 34 31.9 +22 00 52\n"
    "Sirius      2000.0 06 45 08.9 -16 42 58\n";
const char kDirectives[] = "# WEATHER CLEAR\n# SEEING 1.5\n# OBSERVER Yamada\n";
const char kConvertedCard54Mask = '*';
constexpr int kDateCard = 54;  // the converter's DATE card: the day of writing

// ---------------------------------------------------------------------------
// Nights

struct Camera {
  std::string name;
  Kind kind;
  unsigned seed = 1;
  long long bytes = -1;  // the whole file
};

void writeCamera(const std::string& path, const Camera& c) {
  nightgen::CameraSpec camera;
  camera.kind = c.kind;
  nightgen::writeCameraFile(path, camera, c.bytes, c.seed);
}

void writeNightAt(const std::string& dir, const std::vector<Camera>& cameras,
                  const std::string& list, const std::string& catalogue = kCatalogue) {
  for (const Camera& c : cameras) writeCamera(dir + "/" + c.name, c);
  e2e::writeFile(dir + "/object.lst", catalogue);
  e2e::writeFile(dir + "/tarnlist.dat", list);
}

void writeNight(const e2e::ScopedTempDir& dir, const std::vector<Camera>& cameras,
                const std::string& list, const std::string& catalogue = kCatalogue) {
  writeNightAt(dir.path(), cameras, list, catalogue);
}

// A whole file as bytes, read in one piece (the outputs run to megabytes).
std::string slurp(const std::string& path) {
  std::string bytes;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot read " + path);
  bytes.resize(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  if (!in) throw std::runtime_error("cannot read " + path);
  return bytes;
}

// FNV-1a, 64 bits.
std::uint64_t checksum(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool nameExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Checksums of the folder's regular files, by name.
// A run record (<program>-run.csv) or its temporary: written by every run.
bool isRunRecord(const std::string& path) { return path.find("-run.csv") != std::string::npos; }

std::map<std::string, std::uint64_t> checksums(const std::string& dir) {
  std::map<std::string, std::uint64_t> sums;
  for (const auto& item : fs::directory_iterator(dir)) {
    const std::string path = item.path().string();
    if (isRegularFile(path) && !isRunRecord(path))
      sums[item.path().filename().string()] = checksum(slurp(path));
  }
  return sums;
}

std::vector<std::string> namesOf(const std::map<std::string, std::uint64_t>& sums) {
  std::vector<std::string> names;
  for (const auto& item : sums) names.push_back(item.first);
  return names;
}

std::map<std::string, std::uint64_t> only(const std::map<std::string, std::uint64_t>& sums,
                                          const std::vector<std::string>& names) {
  std::map<std::string, std::uint64_t> picked;
  for (const std::string& name : names) {
    auto it = sums.find(name);
    if (it != sums.end()) picked.insert(*it);
  }
  return picked;
}

// Output bytes with the converter's DATE card masked: two runs on either
// side of midnight differ there and nowhere else.
std::string comparable(const Program& p, std::string bytes) {
  const std::size_t at = (kDateCard - 1) * 80;
  if (isConverter(p) && bytes.size() >= at + 80) bytes.replace(at, 80, 80, kConvertedCard54Mask);
  return bytes;
}

std::string outputOf(const Program& p, const std::string& path) {
  return comparable(p, slurp(path));
}

e2e::RunResult run(const Program& p, const std::string& dir, const std::string& answers = "") {
  return e2e::runProgram(p.exe, dir, answers, {}, 120);
}

// Runs the program through /bin/sh after the shell commands `limits`.
e2e::RunResult runLimited(const Program& p, const std::string& dir, const std::string& limits,
                          const std::string& answers = "") {
  return e2e::runProgram("/bin/sh", dir, answers, {"-c", limits + "; exec \"$0\"", p.exe}, 120);
}

// The console text before `mark`; the whole text (and a failure) without it.
std::string upTo(const std::string& text, const std::string& mark) {
  const std::size_t at = text.find(mark);
  EXPECT_NE(at, std::string::npos) << "no '" << mark << "' in:\n" << text;
  return text.substr(0, at);
}

// The console text through the summary line of the entry for `name`.
std::string throughSummaryOf(const std::string& text, const std::string& name) {
  const std::size_t entry = text.find(name + " --> ");
  const std::size_t summary = text.find(" (RA=", entry);
  const std::size_t end = text.find('\n', summary);
  EXPECT_NE(end, std::string::npos) << "no summary line of " << name << " in:\n" << text;
  return end == std::string::npos ? text : text.substr(0, end + 1);
}

// The lines of an error log that name one of `names`.
std::string logLinesOf(const std::string& log, const std::vector<std::string>& names) {
  std::istringstream lines(log);
  std::string line, picked;
  while (std::getline(lines, line))
    for (const std::string& name : names)
      if (line.rfind("cannot open '" + name + "'", 0) == 0) picked += line + "\n";
  return picked;
}

std::string logOf(const std::string& dir) {
  const std::string path = dir + "/tarnfits.log";
  return e2e::fileExists(path) ? e2e::readFile(path) : std::string();
}

std::string banner(const std::string& out) {
  std::size_t end = out.find('\n');
  end = end == std::string::npos ? end : out.find('\n', end + 1);
  return out.substr(0, end == std::string::npos ? end : end + 1);
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ---------------------------------------------------------------------------
// Background programs

// Every wait of these tests: generous for a busy machine, and never longer.
constexpr std::chrono::seconds kLongestWait{20};

// Polls `ready` until it holds (true) or kLongestWait has passed: then the
// test fails, naming `what` it waited for.
template <typename Predicate>
bool waitUntil(Predicate ready, const std::string& what) {
  const auto end = std::chrono::steady_clock::now() + kLongestWait;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) {
      ADD_FAILURE() << "waited " << kLongestWait.count() << " s for " << what;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A program started without waiting: standard input from a pipe the test
// holds (or /dev/null), standard output and error into `outputPath`.
class Background {
 public:
  Background(const std::string& exe, const std::string& dir, bool pipeInput,
             const std::string& outputPath = "/dev/null",
             const std::vector<std::string>& args = {})
      : exe_(args.empty() ? exe : args.back()) {
    int pipeFds[2] = {-1, -1};
    if (pipeInput && ::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    const int in = pipeInput ? pipeFds[0] : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) throw std::runtime_error("cannot open the program's files");
    std::vector<std::string> words = {exe};
    words.insert(words.end(), args.begin(), args.end());
    const char* jobs = std::getenv("TARNFITS_TEST_JOBS");
    if (args.empty() && jobs != nullptr && *jobs != '\0') words.insert(words.end(), {"-j", jobs});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 ||
          ::chdir(dir.c_str()) != 0)
        ::_exit(127);
      ::execv(exe.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in);
    ::close(out);
    input_ = pipeFds[1];
    if (pid_ < 0) throw std::runtime_error("fork");
  }
  ~Background() {
    closeInput();
    if (pid_ > 0) {
      if (!status_) ::kill(pid_, SIGKILL);
      wait();
    }
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  pid_t pid() const { return pid_; }
  void closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }
  // Whether the program has ended; its wait status is kept for wait().
  bool ended() {
    if (pid_ > 0 && !status_ && ::wait4(pid_, &status_.emplace(), WNOHANG, &usage_) != pid_)
      status_.reset();
    return status_.has_value();
  }
  // Waits for the end, at most kLongestWait, and gives the wait status (and
  // the program's own resource usage). One still running then is killed,
  // and the test fails saying so.
  int wait(struct rusage* usage = nullptr) {
    if (!waitUntil([this] { return ended(); }, "the end of " + exe_)) {
      ::kill(pid_, SIGKILL);
      while (::wait4(pid_, &status_.emplace(), 0, &usage_) < 0 && errno == EINTR) {
      }
    }
    if (usage) *usage = usage_;
    pid_ = -1;
    return *status_;
  }

 private:
  std::string exe_;
  pid_t pid_ = -1;
  int input_ = -1;
  std::optional<int> status_;
  struct rusage usage_ {};
};

// ---------------------------------------------------------------------------
// A full disk

// Names in a folder that hold the marker of a temporary output.
std::vector<std::string> temporariesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir))
    if (item.path().filename().string().find(".Partial-") != std::string::npos)
      names.push_back(item.path().filename().string());
  return names;
}

// A tmpfs of a given size on a fresh folder, for the scope; path() is empty
// where this process may not mount one (then the test skips, or fails under
// TARNFITS_NO_SKIP).
class SmallFileSystem {
 public:
  explicit SmallFileSystem(long long bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = ::mount("tmpfs", folder_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    // Where a missing tool fails instead of skipping, so does a refused mount.
    if (!mounted_ && std::getenv("TARNFITS_NO_SKIP"))
      ADD_FAILURE() << "cannot mount a tmpfs on " << folder_.path() << ": " << std::strerror(errno);
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.path().c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  std::string path() const { return mounted_ ? folder_.path() : std::string(); }

 private:
  e2e::ScopedTempDir folder_;
  bool mounted_ = false;
};

// Runs the night once untouched and once in `folder` (a fresh folder when
// empty) under the shell commands `limits`, where the output of the entry
// for `failing` cannot be written whole. The faulty run must stop there with
// "Cannot write. (<failing>.fit)\n" and status 1, leave the older output of
// that name as it was and no temporary file, keep every earlier output as
// the untouched run wrote it, write nothing for the entries after it, and
// change no input; standard error and the run record name the `cause`.
void expectWriteFailureStops(const Program& p, const std::vector<Camera>& cameras,
                             const std::string& failing, const std::string& limits,
                             const std::string& cause, const std::string& folder = "") {
  std::string list = kDirectives;
  for (const Camera& c : cameras) list += c.name + " M42 1 0.0 1 0.20 1 R\n";
  e2e::ScopedTempDir reference, fresh;
  const std::string dir = folder.empty() ? fresh.path() : folder;
  writeNight(reference, cameras, list);
  writeNightAt(dir, cameras, list);
  const e2e::RunResult good = run(p, reference.path());
  ASSERT_EQ(good.exitStatus, 0) << good.out << good.err;

  const std::string failingOutput = dir + "/" + failing + ".fit";
  e2e::writeFile(failingOutput, "an older output\n");
  const auto inputs = checksums(dir);
  const e2e::RunResult bad = limits.empty() ? run(p, dir) : runLimited(p, dir, limits);

  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_EQ(bad.err, std::string(p.name) + ": " + failing + ".fit: " + cause + "\n");
  EXPECT_TRUE(
      endsWith(e2e::runRecord(dir, p.name), ",stopped," + failing + ".fit: " + cause + "\r\n"));
  EXPECT_EQ(bad.out, throughSummaryOf(good.out, failing + ".fts") + "Cannot write. (" +
                         failing + ".fit)\n");
  EXPECT_EQ(temporariesIn(dir), std::vector<std::string>{});
  std::vector<std::string> earlier;
  bool after = false;
  for (const Camera& c : cameras) {
    const std::string output = c.name.substr(0, c.name.size() - 3) + "fit";
    if (c.name == failing + ".fts") {
      after = true;
    } else if (after) {
      EXPECT_FALSE(nameExists(dir + "/" + output)) << "the run went on to " << c.name;
    } else {
      earlier.push_back(c.name);
      if (!nameExists(reference.file(output))) continue;  // refused
      EXPECT_TRUE(outputOf(p, dir + "/" + output) == outputOf(p, reference.file(output)))
          << "earlier output " << output << " differs";
    }
  }
  EXPECT_EQ(logOf(dir), logLinesOf(logOf(reference.path()), earlier));
  EXPECT_EQ(only(checksums(dir), namesOf(inputs)), inputs)
      << "an input or the older output changed";
}

// "ulimit -f" counts blocks of 512 bytes in dash and of 1024 in bash: either
// way the limit lies between the 0.53 MB of an S5 output and the 2 MB of a
// T5 or Andor output, so the first fits whole and the second does not.
// SIGXFSZ is ignored, so the write fails with EFBIG instead of killing the
// program.
const char kFileSizeLimit[] = "trap '' XFSZ; ulimit -f 1600";

TEST(DiskFull, AFileSizeLimitStopsTheRunWithNothingLost) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    expectWriteFailureStops(p,
                            {{"first.fts", Kind::S5, 1},
                             {"big.fts", p.andorKind, 2},
                             {"third.fts", Kind::S5, 3}},
                            "big", kFileSizeLimit, "File too large");
  }
}

// A file system that fills up: room for the inputs and the first output,
// not for the second.
TEST(DiskFull, AFullFileSystemStopsTheRunWithNothingLost) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    // The first output is one the program writes (the editors refuse S5): it stays whole.
    // Every output has samples of 2 bytes.
    const std::vector<Camera> night = {
        {"first.fts", smallKind(p), 1}, {"full.fts", p.andorKind, 2}, {"third.fts", Kind::S5, 3}};
    long long room = 1024 * 1024 + 2 * nightgen::pixelCountOf(smallKind(p));
    for (const Camera& c : night)
      room += 2880 + nightgen::pixelCountOf(c.kind) * nightgen::bytesPerSample(c.kind);
    SmallFileSystem small(room);
    if (small.path().empty()) GTEST_SKIP() << "no tmpfs can be mounted here (not root?)";
    expectWriteFailureStops(p, night, "full", "", "No space left on device", small.path());
    EXPECT_TRUE(nameExists(small.path() + "/first.fit")) << "no earlier output to keep";
  }
}

// ---------------------------------------------------------------------------
// Folders where files should be

TEST(FoldersInTheWay, AnInputThatIsAFolderIsSkipped) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const std::string entry = "first.fts M42 1 0.0 1 0.20 1 R\n";
    e2e::ScopedTempDir reference, dir;
    writeNight(reference, {{"first.fts", smallKind(p)}}, kDirectives + entry);
    writeNight(dir, {{"first.fts", smallKind(p)}},
               kDirectives + std::string("dir.fts M42 1 0.0 1 0.20 1 R\n") + entry);
    fs::create_directory(dir.file("dir.fts"));
    const e2e::RunResult good = run(p, reference.path());
    const e2e::RunResult r = run(p, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    const std::string head = banner(good.out);
    EXPECT_EQ(r.out, head + "Cannot open. (dir.fts)  Skipped\n" + good.out.substr(head.size()));
    EXPECT_EQ(logOf(dir.path()), "cannot open 'dir.fts'  (open)\n" + logOf(reference.path()));
    EXPECT_TRUE(outputOf(p, dir.file("first.fit")) == outputOf(p, reference.file("first.fit")))
        << "first.fit differs";
    EXPECT_TRUE(fs::is_directory(dir.file("dir.fts")));
    EXPECT_FALSE(nameExists(dir.file("dir.fit")));
  }
}

TEST(FoldersInTheWay, AnOutputThatIsAFolderStopsTheRunAndStays) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const std::string list = kDirectives + std::string("first.fts M42 1 0.0 1 0.20 1 R\n");
    e2e::ScopedTempDir reference, dir;
    writeNight(reference, {{"first.fts", smallKind(p)}}, list);
    writeNight(dir, {{"first.fts", smallKind(p)}}, list);
    fs::create_directory(dir.file("first.fit"));
    e2e::writeFile(dir.file("first.fit/keep.txt"), "kept\n");
    const auto inputs = checksums(dir.path());
    const e2e::RunResult good = run(p, reference.path());
    const e2e::RunResult r = run(p, dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, std::string(p.name) + ": first.fit: Is a directory\n");
    EXPECT_EQ(r.out, throughSummaryOf(good.out, "first.fts") + "Cannot open. (first.fit)\n");
    EXPECT_EQ(e2e::readFile(dir.file("first.fit/keep.txt")), "kept\n");
    EXPECT_EQ(checksums(dir.path()), inputs);
    EXPECT_FALSE(nameExists(dir.file("tarnfits.log")));
  }
}

TEST(FoldersInTheWay, AnErrorLogThatIsAFolderOnlyWarns) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const std::string entry = "first.fts M42 1 0.0 1 0.20 1 R\n";
    e2e::ScopedTempDir reference, dir;
    writeNight(reference, {{"first.fts", smallKind(p)}}, kDirectives + entry);
    writeNight(dir, {{"first.fts", smallKind(p)}},
               kDirectives + std::string("missing.fts M42 1 0.0 1 0.20 1 R\n") + entry);
    fs::create_directory(dir.file("tarnfits.log"));
    const e2e::RunResult good = run(p, reference.path());
    const e2e::RunResult r = run(p, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    // One warning for each line the log did not get: the skipped entry's,
    // and those of the untouched run.
    std::string warnings = "# Warning! Cannot write the error log (tarnfits.log)\n";
    for (char c : logOf(reference.path()))
      if (c == '\n') warnings += "# Warning! Cannot write the error log (tarnfits.log)\n";
    EXPECT_EQ(r.err, warnings);
    const std::string head = banner(good.out);
    EXPECT_EQ(r.out,
              head + "Cannot open. (missing.fts)  Skipped\n" + good.out.substr(head.size()));
    EXPECT_TRUE(outputOf(p, dir.file("first.fit")) == outputOf(p, reference.file("first.fit")))
        << "first.fit differs";
    EXPECT_TRUE(fs::is_directory(dir.file("tarnfits.log")));
    EXPECT_TRUE(fs::is_empty(dir.file("tarnfits.log")));
  }
}

// A night folder the user may not write: the run stops at the first output
// with the system's reason, and warns that its record cannot be written.
TEST(FoldersInTheWay, AFolderTheUserMayNotWriteStopsWithTheCause) {
  if (::geteuid() != 0 && std::getenv("TARNFITS_NO_SKIP")) FAIL() << "runs the programs as nobody: needs root";
  if (::geteuid() != 0) GTEST_SKIP() << "runs the programs as nobody: needs root";
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    e2e::ScopedTempDir dir;
    writeNight(dir, {{"first.fts", smallKind(p)}},
               kDirectives + std::string("first.fts M42 1 0.0 1 0.20 1 R\n"));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const e2e::RunResult r = e2e::runProgram(
        "/usr/bin/setpriv", dir.path(), "",
        {"--reuid=nobody", "--regid=nogroup", "--clear-groups", p.exe});
    EXPECT_EQ(r.exitStatus, 1) << r.out;
    EXPECT_EQ(r.err, std::string(p.name) + ": first.fit: Permission denied\n" +
                         "# Warning! Cannot write the run record (" + p.name +
                         "-run.csv: Permission denied)\n");
  }
}

// ---------------------------------------------------------------------------
// A run killed half way

// A night of four Andor files of the program's kind.
std::vector<Camera> andorNight(const Program& p) {
  return {{"an1.fts", p.andorKind, 1}, {"an2.fts", p.andorKind, 2},
          {"an3.fts", p.andorKind, 3}, {"an4.fts", p.andorKind, 4}};
}
const char kAndorList[] =
    "an1.fts M42 1 0.0 1 0.20 1 R\n"
    "an2.fts Sirius 1 22.5 2 0.10 1 R\n"
    "an3.fts M1 1 45.0 3 0.04 2 V\n"
    "an4.fts M42 5 0.0 9 0.00 1 0\n";

// Shell commands that preload the fault seam (tests/support/faultfs.cpp)
// in `mode` into the program the shell then becomes; the seam's proof of
// each fault goes to the file `proof`.
std::string seam(const std::string& mode, const std::string& proof) {
  return "export FAULTFS=" + mode + " FAULTFS_PROOF=" + proof + " LD_PRELOAD=" + FAULTFS_LIB +
         " ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\"";
}

// Starts the program on the night in `dir`, held by the seam inside its
// first transfer of samples, and waits until it is held there. False (and a
// failure) when it ended or never got there.
bool startHeldInTransfer(std::optional<Background>& program, const Program& p,
                         const std::string& dir, const std::string& proof,
                         const std::string& shellFirst = ":", const std::string& args = "") {
  program.emplace("/bin/sh", dir, false, "/dev/null",
                  std::vector<std::string>{"-c", shellFirst + "; " + seam("hold", proof) +
                                                     "; exec \"$0\" " + args, p.exe});
  return waitUntil([&] { return e2e::fileExists(proof) || program->ended(); },
                   "the program held in a transfer") &&
         !program->ended();
}

TEST(Killed, ARunKilledInATransferIsMadeWholeByTheNextRun) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    e2e::ScopedTempDir referenceNight, night;
    writeNight(referenceNight, andorNight(p), kDirectives + std::string(kAndorList));
    writeNight(night, andorNight(p), kDirectives + std::string(kAndorList));
    const std::string reference = referenceNight.path();
    const std::string dir = night.path();
    const auto inputs = checksums(dir);
    const e2e::RunResult good = run(p, reference);
    ASSERT_EQ(good.exitStatus, 0) << good.out;
    std::map<std::string, long long> completeSizes;
    for (const auto& item : fs::directory_iterator(reference)) {
      const std::string name = item.path().filename().string();
      if (inputs.count(name) == 0 && !isRunRecord(name))
        completeSizes[name] = e2e::fileSize(item.path().string());
    }
    ASSERT_EQ(completeSizes.size(), 4u) << good.out;

    e2e::ScopedTempDir scratch;
    std::optional<Background> program;
    ASSERT_TRUE(startHeldInTransfer(program, p, dir, scratch.file("proof")));
    ASSERT_EQ(::kill(program->pid(), SIGKILL), 0);
    program->wait();
    std::string caught;  // the temporaries left, with their sizes
    bool inSamples = false;
    for (const std::string& name : temporariesIn(dir)) {
      const long long size = e2e::fileSize(dir + "/" + name);
      caught += name + " (" + std::to_string(size) + " bytes) ";
      inSamples = inSamples || size > 2880;
    }
    ASSERT_TRUE(inSamples) << "no temporary holds samples: " << caught;
    ::testing::Test::RecordProperty(std::string("killed_") + p.name, caught);
    EXPECT_EQ(only(checksums(dir), namesOf(inputs)), inputs)
        << "an input changed under the killed run (killed with " << caught << ")";

    const e2e::RunResult again = run(p, dir);
    EXPECT_EQ(again.exitStatus, 0) << "killed with " << caught;
    EXPECT_EQ(again.out, good.out);
    EXPECT_EQ(again.err, "");
    for (const auto& output : completeSizes) {
      EXPECT_TRUE(outputOf(p, dir + "/" + output.first) ==
                  outputOf(p, reference + "/" + output.first))
          << output.first << " differs after the run killed with " << caught;
    }
    auto after = checksums(dir);
    for (const auto& output : completeSizes) after.erase(output.first);
    EXPECT_EQ(after, inputs) << "the folder holds other files or an input changed";
  }
}

// SIGINT while the first entry is held in its transfer: the run's record
// says so, with that entry and the three lines not yet read not reached, and
// no temporary is left.
TEST(Killed, SigintLeavesARecordThatSaysSo) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    e2e::ScopedTempDir night, scratch;
    writeNight(night, andorNight(p), kDirectives + std::string(kAndorList));
    std::optional<Background> program;
    // One entry in flight: the first is held, and no later line is read yet.
    ASSERT_TRUE(startHeldInTransfer(program, p, night.path(), scratch.file("proof"), ":", "-j 1"));
    ASSERT_EQ(::kill(program->pid(), SIGINT), 0);
    const int status = program->wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(temporariesIn(night.path()), std::vector<std::string>{});
    EXPECT_EQ(e2e::runRecord(night.path(), p.name),
              "130,4,an1.fts,,not reached,\r\n130,5,an2.fts,,not reached,\r\n130,6,an3.fts,,not reached,"
              "\r\n130,7,an4.fts,,not reached,\r\n130,,,,stopped,interrupted by SIGINT\r\n");
  }
}

// SIGKILL at random moments of a night of large files: after every kill,
// each output name holds nothing, the older output it held, or exactly what
// an uninterrupted run writes; a rerun then completes the night and leaves
// no temporary file.
TEST(Killed, AtAnyMomentEveryOutputIsWholeOrAbsent) {
  using std::chrono::microseconds;
  std::mt19937 random(20261207);
  constexpr int kKillsPerProgram = 20;
  const std::string older = "an older output\n";
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    e2e::ScopedTempDir referenceNight, night;
    writeNight(referenceNight, andorNight(p), kDirectives + std::string(kAndorList));
    writeNight(night, andorNight(p), kDirectives + std::string(kAndorList));
    e2e::writeFile(night.file("an2.fit"), older);
    const auto start = std::chrono::steady_clock::now();
    const e2e::RunResult good = run(p, referenceNight.path());
    ASSERT_EQ(good.exitStatus, 0) << good.out;
    const auto runTime = std::chrono::steady_clock::now() - start;
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<microseconds>(runTime).count());
    for (int kill = 0; kill < kKillsPerProgram; ++kill) {
      {
        Background program(p.exe, night.path(), false);
        std::this_thread::sleep_for(microseconds(moment(random)));
      }  // killed with SIGKILL here, if still running
      for (const char* name : {"an1.fit", "an2.fit", "an3.fit", "an4.fit"}) {
        if (!nameExists(night.file(name))) continue;
        const std::string bytes = slurp(night.file(name));
        EXPECT_TRUE((bytes == older && std::string(name) == "an2.fit") ||
                    comparable(p, bytes) == outputOf(p, referenceNight.file(name)))
            << name << " is part of an output after kill " << kill;
      }
      EXPECT_TRUE(nameExists(night.file("an2.fit"))) << "the older output went";
    }
    const e2e::RunResult again = run(p, night.path());
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(again.out, good.out);
    for (const char* name : {"an1.fit", "an2.fit", "an3.fit", "an4.fit"})
      EXPECT_TRUE(outputOf(p, night.file(name)) == outputOf(p, referenceNight.file(name))) << name;
    EXPECT_EQ(temporariesIn(night.path()), std::vector<std::string>{});
  }
}

// The threads of a running process other than its main one, each with
// whether it blocks all four signals of the clean-up (SIGINT, SIGTERM,
// SIGHUP, SIGPIPE), so that they reach the main thread only.
std::map<std::string, bool> workersBlockingTheCleanUpSignals(pid_t pid) {
  const unsigned long long cleanUp = 1ull << (SIGINT - 1) | 1ull << (SIGTERM - 1) |
                                     1ull << (SIGHUP - 1) | 1ull << (SIGPIPE - 1);
  std::map<std::string, bool> workers;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : fs::directory_iterator(tasks)) {
    if (task.path().filename() == std::to_string(pid)) continue;
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);)
      if (line.compare(0, 7, "SigBlk:") == 0)
        workers[task.path().filename()] = (std::stoull(line.substr(7), nullptr, 16) & cleanUp) == cleanUp;
  }
  return workers;
}

// SIGINT, SIGTERM and SIGHUP at random moments of a night (most land after
// the run has ended), then each of them while the seam holds the program
// inside a transfer, where it must land: the run dies of that signal (or,
// at a random moment, had finished before it came), no temporary is left,
// and each output name holds the older output or a whole new one. Last,
// held, SIGHUP ignored from the start (nohup) stays ignored: the SIGTERM
// sent after it ends the run. The workers block the signals, so the
// clean-up runs on the main thread.
TEST(Killed, ASignalEndsTheRunCleanAndByThatSignal) {
  using std::chrono::microseconds;
  std::mt19937 random(20261208);
  constexpr int kRandomRounds = 9, kRounds = kRandomRounds + 4;
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    e2e::ScopedTempDir referenceNight;
    writeNight(referenceNight, andorNight(p), kDirectives + std::string(kAndorList));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run(p, referenceNight.path()).exitStatus, 0);
    std::uniform_int_distribution<long> moment(0, std::chrono::duration_cast<microseconds>(
                                                      std::chrono::steady_clock::now() - start)
                                                      .count());
    int landed = 0;
    for (int round = 0; round < kRounds; ++round) {
      const bool held = round >= kRandomRounds;
      const bool ignored = round == kRounds - 1;  // SIGHUP, as under nohup
      const int signal = ignored || round % 3 == 1 ? SIGTERM : round % 3 == 0 ? SIGINT : SIGHUP;
      SCOPED_TRACE("round " + std::to_string(round) + ", signal " + std::to_string(signal));
      e2e::ScopedTempDir night, scratch;
      writeNight(night, andorNight(p), kDirectives + std::string(kAndorList));
      e2e::writeFile(night.file("an2.fit"), "an older output\n");
      const std::string nohup = ignored ? "trap '' HUP" : ":";
      std::optional<Background> program;
      if (held) {
        ASSERT_TRUE(startHeldInTransfer(program, p, night.path(), scratch.file("proof"), nohup,
                                        "-j 2"));
        const auto workers = workersBlockingTheCleanUpSignals(program->pid());
        EXPECT_FALSE(workers.empty()) << "no worker thread with two entries in flight";
        for (const auto& [thread, blocks] : workers) EXPECT_TRUE(blocks) << "thread " << thread;
      } else {
        program.emplace("/bin/sh", night.path(), false, "/dev/null",
                        std::vector<std::string>{"-c", nohup + "; exec \"$0\"", p.exe});
        // The trap is set once the shell has become the program.
        const std::string exe = "/proc/" + std::to_string(program->pid()) + "/exe";
        waitUntil([&] {
          std::error_code e;
          return program->ended() || fs::read_symlink(exe, e) == fs::path(p.exe);
        }, "the shell to become " + std::string(p.exe));
        std::this_thread::sleep_for(microseconds(moment(random)));
      }
      if (ignored) ::kill(program->pid(), SIGHUP);
      const bool sent = !program->ended() && ::kill(program->pid(), signal) == 0;
      const int status = program->wait();
      const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      const bool byThatSignal = WIFSIGNALED(status) && WTERMSIG(status) == signal && sent;
      landed += byThatSignal ? 1 : 0;
      EXPECT_TRUE(byThatSignal || (finished && !held))
          << "wait status " << status << (sent ? "" : ", the run ended before the signal");
      // The record, once the run has one, tells the end it had, with the four lines.
      const std::string recordName = night.file(p.name + std::string("-run.csv"));
      const std::string record = nameExists(recordName) ? slurp(recordName) : "";
      const bool interrupted = record.find(std::string(",stopped,interrupted by SIG") +
                                           sigabbrev_np(signal) + "\r\n") != std::string::npos;
      const bool finishedRecord = record.find(",finished,") != std::string::npos;
      EXPECT_TRUE(record.empty() ? byThatSignal && !held
                                 : std::count(record.begin(), record.end(), '\n') == 6 &&
                                       (interrupted ? byThatSignal : finishedRecord && !held))
          << record;
      EXPECT_EQ(temporariesIn(night.path()), std::vector<std::string>{});
      for (const char* name : {"an1.fit", "an2.fit", "an3.fit", "an4.fit"}) {
        if (!nameExists(night.file(name))) continue;
        const std::string bytes = slurp(night.file(name));
        EXPECT_TRUE((bytes == "an older output\n" && std::string(name) == "an2.fit") ||
                    comparable(p, bytes) == outputOf(p, referenceNight.file(name)))
            << name << " is part of an output";
      }
    }
    EXPECT_GE(landed, kRounds - kRandomRounds) << "every held round must land";
    ::testing::Test::RecordProperty(std::string("signals_landed_") + p.name, landed);
  }
}

// The console is written line by line whatever it is connected to: the
// lines of the entries done reach a file or a pipe while an entry waits to
// open a named pipe. Then SIGTERM ends the run, or, when the console's
// reader has gone, its next line ends it by SIGPIPE.
TEST(Killed, TheLinesOfEntriesDoneSurviveASignal) {
  for (const bool piped : {false, true}) {
    SCOPED_TRACE(piped ? "console a pipe" : "console a file");
    e2e::ScopedTempDir night, console;
    writeNight(night, andorNight(kConverter),
               kDirectives + std::string(kAndorList) +
                   "gone.fts M42 1 0.0 1 0.20 1 R\nfifo.fts M42 1 0.0 1 0.20 1 R\n");
    ASSERT_EQ(::mkfifo(night.file("fifo.fts").c_str(), 0644), 0);
    const std::string out = console.file("out");
    if (piped) {
      ASSERT_EQ(::mkfifo(out.c_str(), 0644), 0);
    }
    int reader = piped ? ::open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    Background program(kConverter.exe, night.path(), false, out);
    std::string seen;
    ASSERT_TRUE(waitUntil([&] {
      char bytes[4096];
      for (ssize_t n; piped && (n = ::read(reader, bytes, sizeof bytes)) > 0;) seen.append(bytes, n);
      if (!piped) seen = e2e::readFile(out);
      return seen.find("(gone.fts)  Skipped\n") != std::string::npos || program.ended();
    }, "the lines before the named pipe")) << seen;
    ASSERT_FALSE(program.ended()) << "the run ended without waiting at the named pipe";
    if (piped) {
      ::close(reader);
      // Opens the named pipe once the program waits at it to read.
      int writer = -1;
      waitUntil([&] {
        writer = ::open(night.file("fifo.fts").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return writer >= 0 || program.ended();
      }, "the program to open the named pipe");
      if (writer >= 0) ::close(writer);
    } else {
      ::kill(program.pid(), SIGTERM);
    }
    const int status = program.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == (piped ? SIGPIPE : SIGTERM)) << status;
    EXPECT_NE(seen.find("an4.fts --> an4.fit"), std::string::npos) << seen;
    EXPECT_EQ(temporariesIn(night.path()), std::vector<std::string>{});
  }
}

// An output name that is a link to a file is replaced, the linked file left
// alone; a folder where no file can be created stops the run before any
// sample is read, even where the older output itself could be written.
TEST(FoldersInTheWay, ALinkIsReplacedAndAReadOnlyFolderStops) {
  const std::string list = kDirectives + std::string("first.fts M42 1 0.0 1 0.20 1 R\n");
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    e2e::ScopedTempDir reference, linked;
    writeNight(reference, {{"first.fts", smallKind(p)}}, list);
    writeNight(linked, {{"first.fts", smallKind(p)}}, list);
    e2e::writeFile(linked.file("kept.bin"), "kept\n");
    ASSERT_EQ(::symlink("kept.bin", linked.file("first.fit").c_str()), 0);
    const e2e::RunResult good = run(p, reference.path());
    EXPECT_EQ(run(p, linked.path()).out, good.out);
    EXPECT_TRUE(isRegularFile(linked.file("first.fit")));
    EXPECT_TRUE(outputOf(p, linked.file("first.fit")) == outputOf(p, reference.file("first.fit")));
    EXPECT_EQ(e2e::readFile(linked.file("kept.bin")), "kept\n");

    SmallFileSystem readOnly(8 * 1024 * 1024);
    if (readOnly.path().empty()) GTEST_SKIP() << "no tmpfs can be mounted here (not root?)";
    writeNightAt(readOnly.path(), {{"first.fts", smallKind(p)}}, list);
    e2e::writeFile(readOnly.path() + "/first.fit", "an older output\n");
    ASSERT_EQ(::chmod((readOnly.path() + "/first.fit").c_str(), 0666), 0);
    ASSERT_EQ(::mount(nullptr, readOnly.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const e2e::RunResult r = run(p, readOnly.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, throughSummaryOf(good.out, "first.fts") + "Cannot open. (first.fit)\n");
    EXPECT_EQ(e2e::readFile(readOnly.path() + "/first.fit"), "an older output\n");
  }
}

// ---------------------------------------------------------------------------
// Entries in flight

// Runs the program with N entries in flight, after the shell commands
// `limits`.
e2e::RunResult runInFlight(const Program& p, const std::string& dir, int entries,
                           const std::string& limits = ":") {
  return e2e::runProgram("/bin/sh", dir, "",
                         {"-c", limits + "; exec \"$0\" -j " + std::to_string(entries), p.exe},
                         120);
}

// Console, error log and every file, DATE masked, of a night run with one
// entry in flight and with several: the same to the byte, in run-list order.
// The night mixes refusals, a directive's warning, a short input, large
// files and names that reach one file by two spellings ("./", a link to an
// earlier entry's output or input, a link to the folder, an earlier output
// as an input, the upper-case name where the lower-case one is a folder),
// reads the error log (a short camera file) while lines for it are pending,
// and ends at an output name taken by a folder, with a later entry already
// read.
TEST(InFlight, EverythingAppearsInRunListOrder) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const std::vector<Camera> cameras = {{"a1.fts", p.andorKind, 1},
                                         {"a2.fts", p.andorKind, 2, 100000},
                                         {"s1.fts", Kind::S5, 3},
                                         {"t1.fts", Kind::T5, 4},
                                         {"x.fts", p.andorKind, 5},
                                         {"a3.fts", p.andorKind, 6},
                                         {"tarnfits.log", Kind::S5, 7, 9000}};
    const std::string list = std::string(kDirectives) + "gone.fts M42 1 0.0 1 0.20 1 R\n" +
                             "a1.fts M42 1 0.0 1 0.20 1 R\na2.fts Vega 1 0.0 1 0.20 1 R\n" +
                             "tarnfits.log M1 1 0.0 1 0.20 1 R\na2.fts M1 1 0.0 1 0.20 1 R\n" +
                             "up.fts M42 1 0.0 1 0.20 1 R\n# WEATHER\n" +
                             "s1.fts M42 7 0.0 1 0.20 1 R\ns1.fts M42 1 0.0 1 0.20 1 R\n" +
                             "t1.fts M42 1 0.0 1 0.20 1 R\n./a1.fts M1 1 0.0 1 0.20 1 R\n" +
                             "ln1.fts M42 1 0.0 1 0.20 1 R\nln2.fts M1 1 0.0 1 0.20 1 R\n" +
                             "./a1.fit M42 1 0.0 1 0.20 1 R\nhere/t1.fts M1 1 0.0 1 0.20 1 R\n" +
                             "t1.fts M1 1 0.0 1 0.20 1 R\nx.fts M42 1 0.0 1 0.20 1 R\n" +
                             "a3.fts M42 1 0.0 1 0.20 1 R\n";
    std::map<std::string, std::string> files[3];
    std::string consoles[3];
    for (int entries : {1, 2, 8}) {
      e2e::ScopedTempDir dir;
      writeNight(dir, cameras, list);
      fs::create_directory(dir.file("x.fit"));
      fs::create_symlink("a1.fit", dir.file("ln1.fts"));
      fs::create_symlink("s1.fts", dir.file("ln2.fts"));
      fs::create_directory_symlink(".", dir.file("here"));
      fs::create_directory(dir.file("up.fts"));
      fs::create_symlink("a2.fit", dir.file("UP.FTS"));
      const e2e::RunResult r = runInFlight(p, dir.path(), entries);
      EXPECT_EQ(r.exitStatus, 1) << r.out;
      EXPECT_TRUE(endsWith(r.out, "Cannot open. (x.fit)\n")) << r.out;
      const int at = entries == 1 ? 0 : entries == 2 ? 1 : 2;
      consoles[at] = r.out + r.err;
      for (const auto& item : fs::directory_iterator(dir.path()))
        if (isRegularFile(item.path().string()) && !isRunRecord(item.path().string()))
          files[at][item.path().filename().string()] = outputOf(p, item.path().string());
    }
    for (int at : {1, 2}) {
      EXPECT_EQ(consoles[at], consoles[0]);
      EXPECT_EQ(files[at].size(), files[0].size());
      for (const auto& [name, bytes] : files[0])
        EXPECT_TRUE(files[at].count(name) && files[at][name] == bytes) << name << " differs";
    }
    EXPECT_EQ(files[0].count("a3.fit"), 0u);
  }
}

// A write that fails at an entry while the next one is in flight ends the
// run there: nothing of the next entry shows, is logged or stays.
TEST(InFlight, AFailedWriteHidesTheEntryAlreadyInFlight) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const std::vector<Camera> cameras = {
        {"first.fts", Kind::S5, 1}, {"big.fts", p.andorKind, 2}, {"next.fts", Kind::S5, 3, 9000}};
    const std::string list = std::string(kDirectives) + "first.fts M42 1 0.0 1 0.20 1 R\n" +
                             "big.fts M42 1 0.0 1 0.20 1 R\nnext.fts M42 1 0.0 1 0.20 1 R\n";
    e2e::ScopedTempDir alone, inFlight;
    writeNight(alone, cameras, list);
    writeNight(inFlight, cameras, list);
    const e2e::RunResult one = runInFlight(p, alone.path(), 1, kFileSizeLimit);
    const e2e::RunResult two = runInFlight(p, inFlight.path(), 2, kFileSizeLimit);
    EXPECT_EQ(two.exitStatus, 1);
    EXPECT_TRUE(endsWith(two.out, "Cannot write. (big.fit)\n")) << two.out;
    EXPECT_EQ(two.out, one.out);
    EXPECT_EQ(logOf(inFlight.path()), logOf(alone.path()));
    EXPECT_FALSE(nameExists(inFlight.file("next.fit")));
    EXPECT_EQ(temporariesIn(inFlight.path()), std::vector<std::string>{});
  }
}

// Runs the night that `make` writes into a fresh folder, once with one
// entry in flight and once with `entries`, after the shell commands
// `limits`: both must leave the same console, standard error, exit status
// and files (DATE masked), no temporary, and end by no signal. Returns the
// console and standard error of the first.
// A file `proof` is removed before each run, so that it holds the seam's
// proof of the second.
std::string expectAsOneAtATime(const Program& p, const std::function<void(const std::string&)>& make,
                               int entries, const std::string& limits,
                               const std::string& proof = "/nonexistent") {
  std::string consoles[2];
  int statuses[2];
  std::map<std::string, std::string> files[2];
  for (int i : {0, 1}) {
    e2e::ScopedTempDir dir;
    fs::remove(proof);
    make(dir.path());
    const e2e::RunResult r = runInFlight(p, dir.path(), i == 0 ? 1 : entries, limits);
    consoles[i] = r.out + "\n-- stderr --\n" + r.err;
    statuses[i] = r.exitStatus;
    EXPECT_NE(r.exitStatus, -1) << "ended by signal " << r.signal << " with " << entries;
    for (const auto& item : fs::directory_iterator(dir.path()))
      if (isRegularFile(item.path().string()) && !isRunRecord(item.path().string()))
        files[i][item.path().filename().string()] = outputOf(p, item.path().string());
    EXPECT_EQ(temporariesIn(dir.path()), std::vector<std::string>{});
  }
  EXPECT_EQ(consoles[1], consoles[0]);
  EXPECT_EQ(statuses[1], statuses[0]);
  EXPECT_TRUE(files[1] == files[0]) << "the files differ";
  return consoles[0];
}

// The recovery paths of entries in flight, each reached on purpose through
// the fault seam (tests/support/faultfs.cpp) or a folder in the way: two in
// flight must end exactly as one at a time, and the seam must have fired.
TEST(Recovery, EveryRecoveryPathGivesTheOneAtATimeResult) {
  struct Case {
    const char* what;
    const char* seam;    // FAULTFS, or "" for none
    bool logIsAFolder;
    int entries;         // of the night's run list
    const char* fires;   // the seam's proof: each of these faults fired
    const char* ending;  // the end of the console, before standard error
  };
  const Case cases[] = {
      // The first write fails for want of the room the next entry's
      // temporary took: written again alone, later entries restarted.
      {"room taken by a later entry", "room-for-one", false, 6, "room-for-one", "---- FINISHED ----\n"},
      {"room taken by the only other entry", "room-for-one", false, 2, "room-for-one", "---- FINISHED ----\n"},
      // A later entry's temporary cannot be made again after that: it is
      // made and written alone at its turn.
      {"no room for a restarted entry", "room-twice", false, 6, "room-for-one open-room", "---- FINISHED ----\n"},
      // A temporary that finds no room while entries are in flight is made
      // once they are committed.
      {"no room for a temporary", "open-room", false, 6, "open-room", "---- FINISHED ----\n"},
      // Two transfers at once, or the write fails: as many workers as asked.
      {"two workers for two entries", "two-at-once", false, 6, "two-at-once", "---- FINISHED ----\n"},
      // A close that fails loses the data: never renamed. The run's end
      // waits for the next entry's transfer, held until then.
      {"close fails", "close-eio FAULTFS_LATE=an2.fit", false, 6, "close-eio", "Cannot write. (an1.fit)\n"},
      // Log lines that find no room drop the later entries and restart them;
      // a half-written line is cut off first.
      {"error log a folder", "", true, 6, "", "---- FINISHED ----\n"},
      {"log line cut short", "log-room", false, 6, "log-room", "---- FINISHED ----\n"},
  };
  const std::string list = std::string(kDirectives) + "an1.fts M42 1 0.0 1 0.20 1 R\n" +
                           "an2.fts Vega 1 0.0 1 0.20 1 R\n" + kAndorList;
  const std::string twoEntries = std::string(kDirectives) + "an1.fts M42 1 0.0 1 0.20 1 R\n" +
                                 "an2.fts Sirius 1 22.5 2 0.10 1 R\n";
  for (const Program& p : kPrograms) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(p.name) + ": " + c.what);
      e2e::ScopedTempDir scratch;
      const std::string proof = scratch.file("proof");
      const std::string console = expectAsOneAtATime(p, [&](const std::string& dir) {
        writeNightAt(dir, andorNight(p), c.entries == 2 ? twoEntries : list);
        e2e::writeFile(dir + "/an1.fit", "an older output\n");
        if (c.logIsAFolder) fs::create_directory(dir + "/tarnfits.log");
      }, 2, *c.seam == '\0' ? ":" : seam(c.seam, proof), proof);
      EXPECT_NE(console.find(std::string(c.ending) + "\n-- stderr --"), std::string::npos) << console;
      const std::string fired = e2e::fileExists(proof) ? e2e::readFile(proof) : "";
      for (int k = 1; !e2e::wordAt(c.fires, k).empty(); ++k)
        EXPECT_NE(fired.find(e2e::wordAt(c.fires, k) + "\n"), std::string::npos) << fired;
      for (const char* fault : {"timed out", "stray write"})
        EXPECT_EQ(fired.find(fault), std::string::npos) << fired;
    }
  }
}

// ---------------------------------------------------------------------------
// Hostile texts

// A night described with placeholders, built once with hostile texts and
// once with harmless twins of the same length. The programs must treat a
// hostile text exactly as its twin: the console, the error log and every
// output of the hostile night equal those of the twin night with each twin
// replaced by its hostile text.
struct TextPair {
  std::string hostile;
  std::string twin;
};

std::string fill(std::string text, const std::vector<TextPair>& pairs, bool hostile) {
  for (std::size_t i = 0; i < pairs.size(); ++i)
    text = replaceAll(text, "{" + std::to_string(i) + "}",
                      hostile ? pairs[i].hostile : pairs[i].twin);
  return text;
}

std::string twinToHostile(std::string text, const std::vector<TextPair>& pairs) {
  for (const TextPair& pair : pairs) text = replaceAll(text, pair.twin, pair.hostile);
  return text;
}

struct NightPlan {
  struct File {
    std::string name;  // with placeholders
    Kind kind;
    std::string card7Comment;  // placed in columns 61 to 80 of card 7
    std::string adcSpeed;      // T5/S5 settings block
    std::string readoutWord;   // Andor READTIME
  };
  std::vector<File> files;
  std::string catalogue, list, answers;
};

struct NightResult {
  e2e::RunResult run;
  std::string log;
  std::map<std::string, std::string> outputs;  // by name
};

NightResult runPlan(const Program& p, const NightPlan& plan, const std::vector<TextPair>& pairs,
                    bool hostile) {
  e2e::ScopedTempDir dir;
  std::vector<std::string> inputs = {"object.lst", "tarnlist.dat"};
  for (const NightPlan::File& f : plan.files) {
    nightgen::CameraSpec camera;
    camera.kind = f.kind;
    if (!f.adcSpeed.empty()) camera.adcSpeed = fill(f.adcSpeed, pairs, hostile);
    if (!f.readoutWord.empty()) camera.readoutWord = fill(f.readoutWord, pairs, hostile);
    const std::string name = fill(f.name, pairs, hostile);
    std::string bytes = nightgen::headerBlock(camera);
    const std::string comment = fill(f.card7Comment, pairs, hostile);
    bytes.replace(6 * 80 + 60, comment.size(), comment);
    bytes += nightgen::sampleData(camera, 1, 0, nightgen::fullFileSize(camera) - nightgen::kBlock);
    e2e::writeFile(dir.file(name), bytes);
    inputs.push_back(name);
  }
  e2e::writeFile(dir.file("object.lst"), fill(plan.catalogue, pairs, hostile));
  e2e::writeFile(dir.file("tarnlist.dat"), fill(plan.list, pairs, hostile));
  const auto before = checksums(dir.path());

  NightResult result;
  result.run = run(p, dir.path(), fill(plan.answers, pairs, hostile));
  result.log = logOf(dir.path());
  for (const auto& item : fs::directory_iterator(dir.path())) {
    const std::string name = item.path().filename().string();
    if (endsWith(name, "fit")) result.outputs[name] = outputOf(p, item.path().string());
  }
  EXPECT_EQ(only(checksums(dir.path()), inputs), before) << "an input changed";
  return result;
}

// Runs the plan with hostile texts and with their twins and compares.
// Returns the hostile run, for checks that the texts did reach it.
NightResult expectTreatedAsTwins(const Program& p, const NightPlan& plan,
                                 const std::vector<TextPair>& pairs) {
  const NightResult twin = runPlan(p, plan, pairs, false);
  const NightResult hostile = runPlan(p, plan, pairs, true);
  EXPECT_EQ(hostile.run.exitStatus, twin.run.exitStatus);
  EXPECT_EQ(hostile.run.err, "");
  EXPECT_EQ(twin.run.err, "");
  EXPECT_EQ(hostile.run.out, twinToHostile(twin.run.out, pairs));
  EXPECT_EQ(hostile.log, twinToHostile(twin.log, pairs));
  std::map<std::string, std::string> expected;
  for (const auto& output : twin.outputs)
    expected[twinToHostile(output.first, pairs)] = twinToHostile(output.second, pairs);
  EXPECT_EQ(hostile.outputs.size(), expected.size());
  for (const auto& output : expected) {
    auto it = hostile.outputs.find(output.first);
    if (it == hostile.outputs.end()) {
      ADD_FAILURE() << "no output " << output.first;
    } else {
      EXPECT_TRUE(it->second == output.second) << "output " << output.first << " differs";
    }
  }
  return hostile;
}

// Each hostile text names where it goes; every twin is a word of the same
// length that no program output holds by itself. File names stay lower case
// in both, as the programs lower-case them.
const std::vector<TextPair> kFormatTexts = {
    {"%s%n%x", "Qk7Zp2"},                // 0: object name, run list and catalogue
    {"h%s%n%x", "hqqqqqq"},              // 1: S5 file name
    {"a%n%x%s", "azzzzzz"},              // 2: Andor file name
    {"m%n%s", "mvvvv"},                  // 3: missing file name
    {"%x%x%n", "Yy3Yy4"},                // 4: object missing from the catalogue
    {"%n%s", "Fk3j"},                    // 5: filter
    {"%s%s%s%n", "Wq1Wq2Wq"},            // 6: WEATHER directive value
    {"%n%x%s%n%n", "Ob1Ob2Ob3X"},        // 7: observer, answered at the prompt
    {"%s%n%x%s%n%x", "Cc1Cc2Cc3Cc4"},    // 8: camera card 7 comment
    {"%n%s%x", "Ad1Ad2"},                // 9: A/D speed of the S5 camera
    {"%x%n%s%x%n%s", "Rd1Rd2Rd3Rd4"},    // 10: readout time of the Andor camera
    {"%s%n%s%n%s", "Ob4Ob5Ob6Z"},        // 11: OBSERVER directive value
    {"%n%n%n", "Sx1Sx2"},                // 12: SEEING directive value (no number)
};

NightPlan formatNight(const Program& p) {
  NightPlan plan;
  plan.files = {{"{1}.fts", smallKind(p), "{8}", "{9}", ""},
                {"{2}.fts", p.andorKind, "{8}", "", "{10}"}};
  plan.catalogue = std::string(kCatalogue) + "{0} 2000.0 05 35 17.3 -05 23 28\n";
  plan.list =
      "# WEATHER {6}\n"
      "# SEEING {12}\n"
      "{1}.fts {0} 1 0.0 1 0.20 1 {5}\n"
      "# OBSERVER {11}\n"
      "{2}.fts {0} 1 0.0 1 0.20 2 {5}\n"
      "{3}.fts {0} 1 0.0 1 0.20 1 R\n"
      "{1}.fts {4} 1 0.0 1 0.20 1 R\n";
  plan.answers = "{7}\n";
  return plan;
}

TEST(HostileTexts, FormatDirectivesReachConsoleLogAndCardsLiterally) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const NightResult r = expectTreatedAsTwins(p, formatNight(p), kFormatTexts);
    EXPECT_EQ(r.run.exitStatus, 0);
    // Not a vacuous comparison: the texts did reach every place.
    EXPECT_NE(r.run.out.find(std::string("h%s%n%x.fts --> h%s%n%x.fit  ") +
                             (isConverter(p) ? "(S5 RUVUZOR mode)\n" : "(Andor CCD mode)\n")),
              std::string::npos);
    EXPECT_NE(r.run.out.find("    %s%n%x (RA=05:35:17"), std::string::npos);
    EXPECT_NE(r.run.out.find("Cannot open. (m%n%s.fts)  Skipped\n"), std::string::npos);
    EXPECT_NE(r.run.out.find("CANNOT FIND '%x%x%n'.  Skipped\n"), std::string::npos);
    EXPECT_NE(r.log.find("cannot open 'm%n%s.fts'  (open)\n"
                         "cannot open 'h%s%n%x.fts'  (OBJECT not find)\n"),
              std::string::npos);
    ASSERT_EQ(r.outputs.count("a%n%x%s.fit"), 1u);
    const std::string andor = r.outputs.at("a%n%x%s.fit");
    if (isConverter(p)) {
      const std::string s5 = r.outputs.at("h%s%n%x.fit");
      EXPECT_EQ(e2e::cardAt(s5, 15).substr(0, 20), "OBJECT  = '%s%n%x  '");
      EXPECT_EQ(e2e::cardAt(s5, 30).substr(0, 20), "WEATHER = '%s%s%s%n'");
      EXPECT_EQ(e2e::cardAt(s5, 49).substr(0, 22), "OBSERVER= '%n%x%s%n%n'");
      EXPECT_EQ(e2e::cardAt(andor, 49).substr(0, 22), "OBSERVER= '%s%n%s%n%s'");
      EXPECT_EQ(e2e::cardAt(s5, 63).substr(0, 20), "ADCSPEED= '%n%s%x  '");
      EXPECT_EQ(e2e::cardAt(andor, 63).substr(0, 24), "ADCSPEED= '%x%n%s%x%n%s'");
      EXPECT_EQ(e2e::cardAt(s5, 66).substr(0, 20), "FILTER  = '%n%s    '");
      EXPECT_EQ(e2e::cardAt(s5, 8).substr(60, 12), "%s%n%x%s%n%x");   // input card 7
      EXPECT_EQ(e2e::cardAt(andor, 32).substr(60, 12), "%s%n%x%s%n%x");  // input card 7
    } else {
      EXPECT_EQ(e2e::cardAt(andor, 7).substr(60, 12), "%s%n%x%s%n%x");
    }
  }
}

// The lines an S5 entry prints when it converts, from a run of that entry
// alone with the given directives; and that run's output.
struct Converted {
  std::string lines;
  std::string log;
  std::string output;
};

Converted convertedAlone(const Program& p, const std::string& directives,
                         const std::string& entry) {
  e2e::ScopedTempDir dir;
  writeNight(dir, {{"s5.fts", smallKind(p)}}, directives + entry);
  const e2e::RunResult r = run(p, dir.path());
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  const std::string head = banner(r.out);
  return {upTo(r.out, "---- FINISHED ----\n").substr(head.size()), logOf(dir.path()),
          outputOf(p, dir.file("s5.fit"))};
}

std::string cannotOpen(const std::string& name) {
  return "Cannot open. (" + name + ")  Skipped\n";
}
std::string logOpen(const std::string& name) { return "cannot open '" + name + "'  (open)\n"; }

TEST(HostileTexts, TwoHundredCharacterWordsAreCutInto99CharacterPieces) {
  const std::string observer28 = repeat('o', 28);
  const std::string list = "# WEATHER CLEAR\n# SEEING 1.5\n"
                           "# OBSERVER " + repeat('o', 200) + "\n"
                           "s5.fts M42 1 0.0 1 0.20 1 R\n" +
                           repeat('F', 200) + ".fts M42 1 0.0 1 0.20 1 R\n"
                           "s5.fts " + repeat('X', 200) + " 1 0.0 1 0.20 1 R\n"
                           "s5.fts M42 1 0.0 1 0.20 1 " + repeat('R', 200) + "\n"
                           "# WEATHER " + repeat('W', 200) + "\n"
                           "s5.fts M42 1 0.0 1 0.20 2 R\n";
  const std::string catalogue =
      repeat('N', 200) + " 2000.0 01 02 03.0 +04 05 06\n" + kCatalogue;
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const Converted alone = convertedAlone(
        p, "# WEATHER CLEAR\n# SEEING 1.5\n# OBSERVER " + observer28 + "\n",
        "s5.fts M42 1 0.0 1 0.20 1 R\n");
    // The converter refuses the entries whose filter or weather would not
    // fit their card; the editors write neither and convert them.
    const std::string tooLong =
        isConverter(p) ? alone.lines + "Header card too long. (s5.fts)  Skipped\n" : alone.lines;
    const std::string tooLongLog =
        isConverter(p) ? "cannot open 's5.fts'  (header card too long)\n" : alone.log;

    e2e::ScopedTempDir dir;
    writeNight(dir, {{"s5.fts", smallKind(p)}}, list, catalogue);
    const e2e::RunResult r = run(p, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(banner(r.out).size()),
              // "# OBSERVER " and 88 letters, then 99 and 13 letters
              cannotOpen(repeat('o', 99)) + cannotOpen(repeat('o', 13)) +
              alone.lines +
              // 99, 99 and 2 letters of the file name
              cannotOpen(repeat('f', 99)) + cannotOpen(repeat('f', 99)) +
              cannotOpen("ff.fts") +
              // "s5.fts " and 92 letters: two fields only
              "ERROR in entry line. (s5.fts)  Skipped\n" + cannotOpen(repeat('x', 99)) +
              cannotOpen(repeat('x', 9)) +
              // a 73-letter filter, then 99 and 28 letters
              tooLong + cannotOpen(repeat('r', 99)) + cannotOpen(repeat('r', 28)) +
              // an 89-letter weather, then 99 and 12 letters
              cannotOpen(repeat('w', 99)) + cannotOpen(repeat('w', 12)) +
              tooLong + "---- FINISHED ----\n");
    EXPECT_EQ(e2e::readFile(dir.file("tarnfits.log")),
              logOpen(repeat('o', 99)) + logOpen(repeat('o', 13)) + alone.log +
                  logOpen(repeat('f', 99)) + logOpen(repeat('f', 99)) + logOpen("ff.fts") +
                  "cannot open 's5.fts'  (entry line is not valid)\n" +
                  logOpen(repeat('x', 99)) + logOpen(repeat('x', 9)) + tooLongLog +
                  logOpen(repeat('r', 99)) + logOpen(repeat('r', 28)) +
                  logOpen(repeat('w', 99)) + logOpen(repeat('w', 12)) + tooLongLog);
    // The observer was cut to 28 letters and nothing else reached the file.
    EXPECT_TRUE(outputOf(p, dir.file("s5.fit")) == alone.output) << "s5.fit differs";
  }
}

TEST(HostileTexts, TwoHundredCharacterAnswersAreHandled) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const Converted alone = convertedAlone(p, "# WEATHER FAIR\n# SEEING 1.5\n# OBSERVER Yamada\n",
                                           "s5.fts M42 1 0.0 1 0.20 1 R\n");
    e2e::ScopedTempDir dir;
    writeNight(dir, {{"s5.fts", smallKind(p)}}, "s5.fts M42 1 0.0 1 0.20 1 R\n");
    // A 200-digit weather number is out of range and asked again; a
    // 200-letter observer does not fit the converter's card.
    const e2e::RunResult r =
        run(p, dir.path(), repeat('9', 200) + "\n2\n1.5\n" + repeat('o', 200) + "\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    const char weather[] = "WEATHER (1:CLEAR 2:FAIR 3:HAZY 4:CLOUDY) >> ";
    EXPECT_EQ(r.out.substr(banner(r.out).size()),
              std::string(weather) + weather + "SEEING SIZE (arcsec) >> WHO ARE YOU? >> " +
                  alone.lines +
                  (isConverter(p) ? "Header card too long. (s5.fts)  Skipped\n" : "") +
                  "---- FINISHED ----\n");
    EXPECT_EQ(e2e::fileExists(dir.file("s5.fit")), !isConverter(p));
    if (!isConverter(p)) {
      EXPECT_TRUE(outputOf(p, dir.file("s5.fit")) == alone.output) << "s5.fit differs";
    }
  }
}

TEST(HostileTexts, NulAndHighBytesInTheRunListAndCatalogue) {
  using namespace std::string_literals;
  const std::vector<TextPair> pairs = {
      {"CAF\xc9\xe9", "CAFQQ"},  // 0: file name as listed
      {"caf\xc9\xe9", "cafqq"},  // 1: the same, lower case, as on disk
      {"\xff\xfeM", "YyM"},      // 2: object name
      {"\x80\x81", "Rq"},        // 3: filter
  };
  NightPlan plan;
  plan.catalogue = "Vega\0 2000.0 18 36 56.3 +38 47 01\n"s + kCatalogue +
                   "{2} 2000.0 05 35 17.3 -05 23 28\n";
  plan.list = std::string(kDirectives) +
              "s5.fts\0 M42 1 0.0 1 0.20 1 R\n"s
              "{0}.FTS {2} 1 0.0 1 0.20 1 {3}\n"
              "s5.fts Vega 1 0.0 1 0.20 1 R\n"
              "\xff\xfe\xfd\n"
              "s5.fts M42 1 0.0 1 0.20 1 R\n";
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    plan.files = {{"s5.fts", smallKind(p), "", "", ""}, {"{1}.fts", smallKind(p), "", "", ""}};
    const NightResult r = expectTreatedAsTwins(p, plan, pairs);
    EXPECT_EQ(r.run.exitStatus, 0);
    // The NUL byte ends the line: one field.
    EXPECT_NE(r.run.out.find("ERROR in entry line. (s5.fts)  Skipped\n"), std::string::npos);
    EXPECT_NE(r.run.out.find(std::string("caf\xc9\xe9.fts --> caf\xc9\xe9.fit  ") +
                             (isConverter(p) ? "(S5 RUVUZOR mode)\n" : "(Andor CCD mode)\n")),
              std::string::npos);
    // The NUL byte ends the catalogue line too: Vega is never found.
    EXPECT_NE(r.run.out.find("CANNOT FIND 'Vega'.  Skipped\n"), std::string::npos);
    EXPECT_NE(r.run.out.find(cannotOpen("\xff\xfe\xfd")), std::string::npos);
    EXPECT_EQ(r.outputs.size(), 2u);
    if (isConverter(p) && r.outputs.count("caf\xc9\xe9.fit") == 1) {
      const std::string& out = r.outputs.at("caf\xc9\xe9.fit");
      EXPECT_EQ(e2e::cardAt(out, 15).substr(0, 20), "OBJECT  = '\xff\xfeM     '");
      EXPECT_EQ(e2e::cardAt(out, 66).substr(0, 20), "FILTER  = '\x80\x81      '");
    }
  }
}

// ---------------------------------------------------------------------------
// Load

constexpr int kLongNightEntries = 2000;

struct LongNight {
  std::string list;
  int s5 = 0, t5 = 0, andor = 0, skipped = 0;
};

// Two S5 files converted in turn, with a T5 and an Andor file now and then,
// and between any two of them an entry that is skipped for one of four
// reasons. No two converted lines in a row are equal, so each converts.
LongNight longNight() {
  const char* const skips[] = {
      "gone.fts M42 1 0.0 1 0.20 1 R\n",   // no such file
      "a.fts M42 9 0.0 1 0.20 1 R\n",      // bad data type
      "a.fts NGC9999 1 0.0 1 0.20 1 R\n",  // object missing
      "odd.fts M42 1 0.0 1 0.20 1 R\n",    // image size unknown
  };
  LongNight night;
  night.list = kDirectives;
  for (int i = 0; i < kLongNightEntries; ++i) {
    if (i % 2 == 1) {
      night.list += skips[(i / 2) % 4];
      ++night.skipped;
    } else if (i % 100 == 0) {
      night.list += "t5.fts M1 1 0.0 1 0.20 1 R\n";
      ++night.t5;
    } else if (i % 100 == 50) {
      night.list += "an.fts Sirius 1 0.0 1 0.20 2 R\n";
      ++night.andor;
    } else {
      night.list += (i / 2) % 2 == 0 ? "a.fts M42 1 0.0 1 0.20 1 R\n"
                                     : "b.fts M42 1 0.0 1 0.20 1 R\n";
      ++night.s5;
    }
  }
  return night;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void expectLongNightFinishes(const std::string& limits) {
  const LongNight night = longNight();
  e2e::ScopedTempDir dir;
  writeNight(dir,
             {{"a.fts", Kind::S5, 1}, {"b.fts", Kind::S5, 2}, {"t5.fts", Kind::T5, 3},
              {"an.fts", Kind::Andor16, 4}},
             night.list);
  nightgen::CameraSpec odd;  // an S5 header whose axes say 512 by 511
  odd.kind = Kind::S5;
  odd.naxis2 = 511;
  e2e::writeFile(dir.file("odd.fts"), nightgen::headerBlock(odd));
  const auto inputs = checksums(dir.path());
  const auto start = std::chrono::steady_clock::now();
  const e2e::RunResult r = runLimited(kConverter, dir.path(), limits);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.exitStatus, 0) << r.err
                             << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(endsWith(r.out, "\n---- FINISHED ----\n"));
  EXPECT_EQ(count(r.out, "(S5 RUVUZOR mode)\n"), static_cast<std::size_t>(night.s5));
  EXPECT_EQ(count(r.out, "(T5 RUVUZOR mode)\n"), static_cast<std::size_t>(night.t5));
  EXPECT_EQ(count(r.out, "(Andor CCD mode)\n"), static_cast<std::size_t>(night.andor));
  EXPECT_EQ(count(e2e::readFile(dir.file("tarnfits.log")), "\n"),
            static_cast<std::size_t>(night.skipped));
  // 72 header cards, the samples, the zero fill to a multiple of 2880.
  EXPECT_EQ(e2e::fileSize(dir.file("a.fit")), 5760 + 2 * 512 * 512 + 2752);
  EXPECT_EQ(e2e::fileSize(dir.file("t5.fit")), 5760 + 2 * 1000 * 1018 + 160);
  EXPECT_EQ(e2e::fileSize(dir.file("an.fit")), 5760 + 2 * 2048 * 512 + 2368);
  EXPECT_EQ(only(checksums(dir.path()), namesOf(inputs)), inputs);
  EXPECT_LT(seconds, 60.0) << "the long night took " << seconds << " s";
  ::testing::Test::RecordProperty("seconds", std::to_string(seconds));
}

// Descriptors: the run list, one input, one output and the log at most are
// open at a time; a descriptor lost per entry would end the night within
// its first 30 entries.
constexpr int kFewDescriptors = 32;

TEST(Load, TwoThousandEntriesWithFewDescriptors) {
  expectLongNightFinishes("ulimit -n " + std::to_string(kFewDescriptors));
}

// The program's peak virtual size while it waits at its first question,
// before any entry, in KiB.
long idleVirtualKiB(const Program& p) {
  e2e::ScopedTempDir dir, console;
  writeNight(dir, {}, "x.fts M42 1 0.0 1 0.20 1 R\n");
  Background program(p.exe, dir.path(), true, console.file("out"));
  if (!waitUntil([&] {
        return e2e::readFile(console.file("out")).find("WEATHER") != std::string::npos ||
               program.ended();
      }, "the first question") || program.ended())
    return -1;
  std::ifstream status("/proc/" + std::to_string(program.pid()) + "/status");
  std::string line;
  long kib = -1;
  while (std::getline(status, line))
    if (line.compare(0, 7, "VmPeak:") == 0) kib = std::stol(line.substr(7));
  program.closeInput();
  program.wait();
  return kib;
}

// Memory: a few tens of MiB above the idle size; a leak of a block buffer
// per entry, or an image held whole, would not fit.
constexpr long kMemoryHeadroomKiB = 32 * 1024;

TEST(Load, TwoThousandEntriesInLittleMemory) {
  if (sanitizedBuild())
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no virtual-memory "
                    "limit can apply (its leak checker covers memory instead)";
  const long idle = idleVirtualKiB(kConverter);
  ASSERT_GT(idle, 0);
  ::testing::Test::RecordProperty("idle_kib", std::to_string(idle));
  expectLongNightFinishes("ulimit -n " + std::to_string(kFewDescriptors) + "; ulimit -v " +
                          std::to_string(idle + kMemoryHeadroomKiB));
}

// Eight entries asked for under virtual-memory limits from next to nothing
// up: never an abort or a temporary left, and wherever one entry at a time
// finishes, eight finish with the same console and outputs (with fewer
// workers). Below the main thread's own buffer both stop with the same
// message.
TEST(Load, EightInFlightFinishWhereOneDoes) {
  if (sanitizedBuild())
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no virtual-memory "
                    "limit can apply";
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const long idle = idleVirtualKiB(p);
    ASSERT_GT(idle, 0);
    int finished = 0, stopped = 0;
    e2e::ScopedTempDir scratch;
    const std::string proof = scratch.file("proof");
    for (long extraKiB : {0, 2048, 6144, 8192, 10240, 16384, 30720}) {
      // With the most room, two transfers must be under way at once.
      const std::string limit = "ulimit -v " + std::to_string(idle + extraKiB) +
                                (extraKiB == 30720 ? "; " + seam("two-at-once", proof) : "");
      SCOPED_TRACE(limit);
      const std::string console = expectAsOneAtATime(p, [&p](const std::string& dir) {
        writeNightAt(dir, andorNight(p), kDirectives + std::string(kAndorList));
      }, 8, limit, proof);
      finished += console.find("---- FINISHED ----\n\n-- stderr --") != std::string::npos;
      stopped += console.find("Out of memory. (an1.fit)\n") != std::string::npos;
    }
    EXPECT_TRUE(finished > 0 && stopped > 0) << finished << " limits finished, " << stopped << " stopped";
    EXPECT_EQ(e2e::fileExists(proof) ? e2e::readFile(proof) : "", "two-at-once\n");
  }
}

// Peak resident size, in KiB, from the program's own resource usage, of a
// night of `frames` entries that cycles through a T5, an S5 and the
// program's Andor file (hard links to three camera files, one name each);
// for the editors, which refuse T5 and S5 files, Andor files only.
long nightPeakResidentKiB(const Program& p, int frames) {
  e2e::ScopedTempDir dir;
  const Kind kinds[] = {isConverter(p) ? Kind::T5 : p.andorKind, smallKind(p), p.andorKind};
  std::string list = kDirectives;
  std::vector<Camera> cameras;
  for (int i = 0; i < frames; ++i) {
    const std::string name = "f" + std::to_string(i) + ".fts";
    if (i < 3) cameras.push_back({name, kinds[i], static_cast<unsigned>(i + 1)});
    list += name + " M42 1 0.0 1 0.20 1 R\n";
  }
  writeNight(dir, cameras, list);
  for (int i = 3; i < frames; ++i)
    fs::create_hard_link(dir.file("f" + std::to_string(i % 3) + ".fts"),
                         dir.file("f" + std::to_string(i) + ".fts"));
  // Two entries in flight, the default on a machine of two CPUs or more.
  Background program(p.exe, dir.path(), false, "/dev/null", {"-j", "2"});
  struct rusage usage;
  const int status = program.wait(&usage);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(e2e::fileExists(dir.file("f" + std::to_string(frames - 1) + ".fit")));
  return usage.ru_maxrss;
}

// Memory does not grow with the length of a night, and stays small.
TEST(Load, MemoryDoesNotGrowWithTheNight) {
  if (sanitizedBuild())
    GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine decide the resident size";
  constexpr long kMostGrowthKiB = 512;
  constexpr long kMostPeakKiB = 16 * 1024;
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const long shortNight = nightPeakResidentKiB(p, 3);
    const long longNight = nightPeakResidentKiB(p, 40);
    EXPECT_LT(std::labs(longNight - shortNight), kMostGrowthKiB)
        << "3 frames " << shortNight << " KiB, 40 frames " << longNight << " KiB";
    EXPECT_LT(std::max(shortNight, longNight), kMostPeakKiB);
  }
}

}  // namespace
