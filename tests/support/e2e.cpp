#include "e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace {

// Owns a file descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// An unlinked temporary file: it lives as long as its descriptor.
UniqueFd anonymousFile() {
  char name[] = "/tmp/e2e_io_XXXXXX";
  // Close-on-exec: the child gets only the copies made by dup2.
  const int fd = ::mkostemp(name, O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(std::string("mkostemp: ") + std::strerror(errno));
  ::unlink(name);
  return UniqueFd(fd);
}

void writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("write: ") + std::strerror(errno));
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string readAllFrom(int fd) {
  std::string text;
  if (::lseek(fd, 0, SEEK_SET) < 0) return text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

void childFail(const char* what) {
  const char* reason = std::strerror(errno);
  // Only async-signal-safe calls between fork and exec.
  ssize_t ignored = ::write(2, what, std::strlen(what));
  ignored = ::write(2, ": ", 2);
  ignored = ::write(2, reason, std::strlen(reason));
  ignored = ::write(2, "\n", 1);
  (void)ignored;
  ::_exit(127);
}

}  // namespace

ScopedTempDir::ScopedTempDir(bool enter) {
  char name[] = "/tmp/e2e_XXXXXX";
  if (::mkdtemp(name) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  path_ = name;
  if (enter) {
    try {
      previous_ = std::filesystem::current_path().string();
      std::filesystem::current_path(path_);
    } catch (...) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
      throw;
    }
  }
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ec;
  if (!previous_.empty()) std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ScopedTempDir::file(const std::string& name) const {
  return path_ + "/" + name;
}

RunResult runProgram(const std::string& exe, const std::string& workDir,
                     const std::string& stdinText,
                     const std::vector<std::string>& args, double timeoutSeconds) {
  UniqueFd in = anonymousFile();
  UniqueFd out = anonymousFile();
  UniqueFd err = anonymousFile();
  writeAll(in.get(), stdinText);
  if (::lseek(in.get(), 0, SEEK_SET) < 0) throw std::runtime_error("lseek failed");

  // Everything the child needs is prepared before the fork.
  std::vector<std::string> argvText;
  argvText.push_back(exe);
  argvText.insert(argvText.end(), args.begin(), args.end());
  const char* jobs = std::getenv("TARNFITS_TEST_JOBS");
  const bool converter = exe.find("tarnfits", exe.rfind('/') + 1) != std::string::npos;
  if (converter && args.empty() && jobs != nullptr && *jobs != '\0')
    argvText.insert(argvText.end(), {"-j", jobs});
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    if (::dup2(err.get(), 2) < 0) ::_exit(127);
    if (::dup2(in.get(), 0) < 0) childFail("dup2");
    if (::dup2(out.get(), 1) < 0) childFail("dup2");
    if (::chdir(workDir.c_str()) != 0) childFail("chdir");
    ::execv(exe.c_str(), argv.data());
    childFail(exe.c_str());
  }

  RunResult result;
  int status = 0;
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000));
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      result.timedOut = true;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  result.out = readAllFrom(out.get());
  result.err = readAllFrom(err.get());
  if (result.timedOut)
    result.err += "\n[killed by the test: " + exe + " ran longer than " +
                  std::to_string(timeoutSeconds) + " s]\n";
  return result;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

long long fileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

std::string cardAt(const std::string& fileBytes, int n) {
  if (n < 1) return {};
  const std::size_t start = static_cast<std::size_t>(n - 1) * 80;
  if (start >= fileBytes.size()) return {};
  return fileBytes.substr(start, 80);
}

std::string wordAt(const std::string& text, int k) {
  std::istringstream words(text);
  std::string word;
  for (int i = 0; i < k; ++i) {
    if (!(words >> word)) return {};
  }
  return k >= 1 ? word : std::string();
}

std::string columns(const std::string& cardText, int first, int last) {
  if (first < 1 || last < first) return {};
  const std::size_t start = static_cast<std::size_t>(first - 1);
  if (start >= cardText.size()) return {};
  return cardText.substr(start, static_cast<std::size_t>(last - first + 1));
}

std::string runRecord(const std::string& dir, const std::string& program) {
  const std::string text = readFile(dir + "/" + program + "-run.csv");
  const std::string header =
      "program,version,started_ut,ended_ut,exit_status,line,input,output,outcome,reason\r\n";
  if (text.compare(0, header.size(), header) != 0) throw std::runtime_error("no record header");
  std::string rows;
  for (std::size_t at = header.size(), end; at < text.size(); at = end + 2) {
    end = text.find("\r\n", at);
    std::size_t cut = at;
    for (int column = 0; column < 4 && cut != std::string::npos; ++column)
      cut = text.find(',', cut + 1);
    if (end == std::string::npos || cut > end ||
        text.compare(at, program.size() + 1, program + ",") != 0)
      throw std::runtime_error("a record row of another program, or cut: " + text.substr(at));
    rows += text.substr(cut + 1, end + 2 - cut - 1);
  }
  return rows;
}

std::string todayLocalDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  if (std::strftime(text, sizeof text, "%Y-%m-%d", &local) == 0) return {};
  return text;
}

std::string probeInChromium(const std::string& pagePath, int width, const std::string& probe) {
  std::string page = readFile(pagePath), frame = "<iframe width=" + std::to_string(width) + " height=900 srcdoc=\"";
  page.replace(page.find("'none'"), 6, "'unsafe-inline'").insert(page.rfind("</body>"),
      "<script>onload=()=>{const e=document.documentElement,q=s=>document.querySelectorAll(s);"
      "parent.document.body.dataset.fit=" + probe + "}</script>");
  for (const char c : page) frame += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
  ScopedTempDir dir;  // under timeout, which ends Chromium's helpers too
  writeFile(dir.file("p.html"), frame + "\"></iframe>");
  const RunResult r = runProgram("/usr/bin/timeout", dir.path(), "", {"-k", "5", "90", "/usr/bin/chromium",
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-sync", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--user-data-dir=" + dir.path(),
      "--dump-dom", "file://" + dir.file("p.html")}, 100);
  const std::size_t at = r.out.find("data-fit=\"") + 10;
  if (r.exitStatus != 0 || at < 10) return "Chromium failed, or did not end within 90 s: " + r.err + r.out;
  return r.out.substr(at, r.out.find('"', at) - at);
}

}  // namespace e2e
