// Nights brought up to date by tarnlook's library, each in a child process
// of its own that works in the night's folder, at most `jobs` at a time.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "index.h"
#include "look.h"

namespace tarnindex {

namespace {

constexpr int kChildFailed = 127;  // the child could not enter the night or open its console

// In the child: enters the night, sends the console to tarnlook.console
// there, and looks at the night. Never returns.
[[noreturn]] void lookInChild(const std::string& folder, const std::vector<std::string>& scaleArguments) {
  if (chdir(folder.c_str()) != 0) _exit(kChildFailed);
  const int console = ::open("tarnlook.console", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (console < 0 || dup2(console, STDOUT_FILENO) < 0) _exit(kChildFailed);
  ::close(console);
  tarnlook::LookOptions options;
  for (const std::string& text : scaleArguments) options.scales.push_back(*tarnlook::scaleFrom(text));
  const int status = tarnlook::lookAtNight(options);
  std::fflush(stdout);
  _exit(status);
}

std::string endOf(int status) {
  if (WIFSIGNALED(status)) return "tarnlook ended by signal " + std::to_string(WTERMSIG(status));
  if (WEXITSTATUS(status) == kChildFailed) return "the folder or its tarnlook.console could not be opened";
  return "tarnlook ended with status " + std::to_string(WEXITSTATUS(status)) + " (see tarnlook.console there)";
}

}  // namespace

bool isScale(const std::string& text) { return tarnlook::scaleFrom(text).has_value(); }

std::vector<std::string> lookAtNights(const std::string& root, const std::vector<std::string>& paths,
                                      const std::vector<std::string>& scaleArguments, int jobs) {
  std::vector<std::string> failed;
  std::map<pid_t, std::string> running;  // child: its night
  std::fflush(nullptr);                  // nothing buffered is written twice
  for (std::size_t next = 0; next < paths.size() || !running.empty();) {
    if (next < paths.size() && static_cast<int>(running.size()) < jobs) {
      const std::string& path = paths[next++];
      const pid_t child = fork();
      if (child == 0) lookInChild(path == "." ? root : root + "/" + path, scaleArguments);
      if (child < 0) failed.push_back(path + ": " + std::strerror(errno));
      else running.emplace(child, path);
      continue;
    }
    int status = 0;
    const pid_t ended = waitpid(-1, &status, 0);  // until one of them ends, however long it takes
    if (ended < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const auto night = running.find(ended);
    if (night == running.end()) continue;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failed.push_back(night->second + ": " + endOf(status));
    running.erase(night);
  }
  return failed;
}

}  // namespace tarnindex
