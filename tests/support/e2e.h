// Support for end-to-end tests: temporary folders, running the real
// programs with captured output, and small file helpers.
#ifndef TESTS_SUPPORT_E2E_H
#define TESTS_SUPPORT_E2E_H

#include <string>
#include <vector>

namespace e2e {

// A fresh folder /tmp/e2e_XXXXXX, removed with everything in it when the
// object goes out of scope (also after a failed assertion). With enter set,
// the process changes into it and back to the previous folder at the end.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(bool enter = false);
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
  std::string previous_;  // folder to return to; empty when not entered
};

struct RunResult {
  int exitStatus = -1;   // exit status, or -1 when ended by a signal
  int signal = 0;        // the signal that ended it, else 0
  bool timedOut = false; // killed with SIGKILL after the time limit
  std::string out;       // everything written to standard output
  std::string err;       // everything written to standard error
};

// Runs `exe` with `args` in `workDir`. Standard input is `stdinText`
// followed by end of file; standard output and error are captured in full
// (through temporary files, so nothing can block). Waits for the end, at
// most timeoutSeconds: a program that runs longer is killed, and `err` ends
// with a line that says so. A program
// that cannot be started ends with status 127 and a message in `err`. One
// of the converters started without arguments gets "-j $TARNFITS_TEST_JOBS"
// when that is set: the test command runs the end-to-end tests with one
// entry in flight too.
RunResult runProgram(const std::string& exe, const std::string& workDir,
                     const std::string& stdinText,
                     const std::vector<std::string>& args = {},
                     double timeoutSeconds = 60);

// Whole file as bytes; throws std::runtime_error when it cannot be read.
std::string readFile(const std::string& path);
// Creates or truncates the file; throws std::runtime_error on failure.
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// Size in bytes, -1 when the file does not exist.
long long fileSize(const std::string& path);

// The n-th 80-byte card (n from 1) of a file's bytes; shorter or empty when
// the bytes end before it.
std::string cardAt(const std::string& fileBytes, int n);
// Word k (from 1) of a text split at blanks; empty when there is none.
std::string wordAt(const std::string& text, int k);
// Columns first..last (from 1, inclusive) of a card.
std::string columns(const std::string& cardText, int first, int last);

// The run record "<program>-run.csv" in `dir`, after its header line, each
// row without the run's start columns (program, version, start, end): from
// exit_status on, CRLF line ends kept. Throws when the header or a row's
// program is not the expected one.
std::string runRecord(const std::string& dir, const std::string& program);

// Headless Chromium (under timeout, 90 s at most) shows the page in a
// frame `width` pixels wide, 900 high, and evaluates `probe` once it is
// loaded: a JavaScript expression over e (the document's element), q (its
// querySelectorAll) and the frame's window; its value is returned as text,
// Chromium's output when there is none. The page's "script-src 'none'" is
// lifted for the probe alone.
std::string probeInChromium(const std::string& pagePath, int width, const std::string& probe);

// Today's local date as "YYYY-MM-DD".
std::string todayLocalDate();

}  // namespace e2e

#endif  // TESTS_SUPPORT_E2E_H
