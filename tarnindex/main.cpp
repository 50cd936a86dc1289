// tarnindex: every night of the archive in one index, with its pages and
// its table of nights; `tarnindex find` lists the frames that match.
//
//   tarnindex [--look] [--scale NAXIS1xNAXIS2=ARCSEC]... [ROOT]
//   tarnindex find [--root ROOT] [--from DATE] [--to DATE] [--csv] TERM...
//   tarnindex -h | --help, tarnindex --version
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "index.h"
#include "temporary_file.h"

#ifndef TARNINDEX_VERSION
#define TARNINDEX_VERSION "unknown"
#endif

namespace {

constexpr int kStatusFailed = 1;  // the index, a page or the table could not be written, or a look failed
constexpr int kStatusUsage = 2;

const char* const kUsage =
    "Usage: tarnindex [--look] [--scale NAXIS1xNAXIS2=ARCSEC]... [ROOT]\n"
    "       tarnindex find [--root ROOT] [--from DATE] [--to DATE] [--csv] TERM...\n"
    "       tarnindex -h | --help\n"
    "       tarnindex --version\n"
    "\n"
    "Indexes every night folder under ROOT (default: the current folder): a\n"
    "folder holding tarnlook.csv, a run list or converted frames (*.fit). It\n"
    "reads what tarnlook and the converters wrote there (tarnlook.csv,\n"
    "tarnlook-runlist.csv, <program>-run.csv, the date in tarnlook.html) into\n"
    "the SQLite database ROOT/tarnindex.sqlite, one transaction a night; a\n"
    "night whose files have not changed is not read again, and a night gone\n"
    "from ROOT leaves the index. It then writes the archive's page\n"
    "ROOT/tarnindex.html (the newest year; tarnindex-YYYY.html for each year)\n"
    "and the table of nights ROOT/tarnindex.csv.\n"
    "\n"
    "  --look    first runs tarnlook on every night without its tables, or\n"
    "            whose frames are newer than them, on every core (console in\n"
    "            tarnlook.console in the night)\n"
    "  --scale NAXIS1xNAXIS2=ARCSEC\n"
    "            the sky's scale of frames of that size, for --look\n"
    "\n"
    "find lists the path of each frame that matches every TERM, one a line:\n"
    "  NAME=V1,V2   one of the values; a value with * ? or [...] is a pattern\n"
    "  NAME!=V      none of them\n"
    "  NAME<N NAME<=N NAME>N NAME>=N   numbers compared\n"
    "NAME is any column of tarnlook.csv, in any case (OBJECT, fwhm_px, DATA-TYP).\n"
    "  --from DATE, --to DATE   nights from, to that date (YYYY-MM-DD)\n"
    "  --csv                    whole rows, as CSV, instead of paths\n"
    "\n"
    "Exit status: 0 done; 1 the index, a page or the table could not be\n"
    "written, or another tarnindex kept ROOT for 10 s; 2 wrong command line.\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "tarnindex: %s\nTry 'tarnindex --help'.\n", message.c_str());
  return kStatusUsage;
}

int finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("tarnindex: cannot write to standard output\n", stderr);
    return kStatusFailed;
  }
  return status;
}

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The test seam: TARNINDEX_TEST_KILL_IN_NIGHT=N kills the run with SIGKILL
// inside the N-th night it reads, once its rows are in and before they are
// committed.
std::function<void(int)> killSeam() {
  const char* text = std::getenv("TARNINDEX_TEST_KILL_IN_NIGHT");
  if (!text) return nullptr;
  const int night = std::atoi(text);
  return [night](int number) {
    if (number == night) raise(SIGKILL);
  };
}

int index(const std::vector<std::string>& args) {
  tarnindex::UpdateOptions options;
  std::string root;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--look") {
      options.look = true;
    } else if (args[i] == "--scale") {
      if (i + 1 == args.size() || !tarnindex::isScale(args[i + 1])) {
        return usageError("--scale wants NAXIS1xNAXIS2=ARCSEC, as 2048x512=0.42");
      }
      options.scaleArguments.push_back(args[++i]);
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return usageError("unknown option " + args[i]);
    } else if (!root.empty()) {
      return usageError("one ROOT only");
    } else {
      root = args[i];
    }
  }
  if (root.empty()) root = ".";
  options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  options.beforeCommit = killSeam();
  removeTemporariesOnSignals();  // a page or the table half written goes with the run
  tarnindex::UpdateReport report;
  const std::string error = tarnindex::updateIndex(root, options, report);
  for (const std::string& path : report.notLookedAt) std::printf("%s: %s\n", path.c_str(), tarnindex::kNotLookedAt);
  for (const std::string& night : report.passedOver) std::printf("Passed over: %s\n", night.c_str());
  for (const std::string& night : report.lookFailed) std::fprintf(stderr, "tarnindex: look failed: %s\n", night.c_str());
  if (!error.empty()) {
    std::fprintf(stderr, "tarnindex: %s\n", error.c_str());
    return finish(kStatusFailed);
  }
  std::printf("%s: %d indexed (%s), %s, %s, %d removed\n", plural(static_cast<std::size_t>(report.nights), "night", "nights").c_str(),
              report.indexed, plural(static_cast<std::size_t>(report.read), "read", "read").c_str(),
              plural(report.notLookedAt.size(), "not looked at yet", "not looked at yet").c_str(),
              plural(report.passedOver.size(), "passed over", "passed over").c_str(), report.removed);
  std::printf("Index: %s; page: %s; table: %s\n", tarnindex::kIndexName, tarnindex::kPageName, tarnindex::kTableName);
  return finish(report.lookFailed.empty() ? 0 : kStatusFailed);
}

int find(const std::vector<std::string>& args) {
  std::string root = ".", from, to;
  bool csv = false;
  std::vector<std::string> terms;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool valued = args[i] == "--root" || args[i] == "--from" || args[i] == "--to";
    if (valued && i + 1 == args.size()) return usageError(args[i] + " wants a value");
    if (args[i] == "--root") root = args[++i];
    else if (args[i] == "--from") from = args[++i];
    else if (args[i] == "--to") to = args[++i];
    else if (args[i] == "--csv") csv = true;
    else if (args[i].size() > 1 && args[i][0] == '-') return usageError("unknown option " + args[i]);
    else terms.push_back(args[i]);
  }
  std::string error;
  const auto index = tarnindex::Index::openToRead(root, error);
  tarnindex::Index::Found found;
  if (index) {
    error = index->find(terms, from, to, !csv, found);
    if (!error.empty()) return usageError(error);
  }
  if (!error.empty()) {
    std::fprintf(stderr, "tarnindex: %s\n", error.c_str());
    return finish(kStatusFailed);
  }
  if (csv && !found.header.empty()) std::fputs(tarnindex::csvLine(found.header).c_str(), stdout);
  for (const auto& row : found.rows) {
    if (csv) {
      std::fputs(tarnindex::csvLine(row).c_str(), stdout);
      continue;
    }
    const std::string& night = row[1];  // night_date, night_path, file, ...
    std::string path = (root == "." ? "" : root + "/") + (night == "." ? "" : night + "/") + row[2];
    std::printf("%s\n", path.c_str());
  }
  return finish(0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fputs(kUsage, stdout);
    return finish(0);
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("tarnindex %s\n", TARNINDEX_VERSION);
    return finish(0);
  }
  if (!args.empty() && args[0] == "find") return find({args.begin() + 1, args.end()});
  return index(args);
}
