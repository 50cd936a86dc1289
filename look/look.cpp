// A night looked at: the frames read and measured on every core, judged
// against the night, drawn on the sheets, and the page and tables written.
#include "look.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <functional>
#include <future>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "account.h"
#include "leftovers.h"
#include "temporary_file.h"

namespace tarnlook {

namespace {

constexpr int kStatusWriteFailed = 1;  // a picture, the page, the table or the folder failed
constexpr int kMmapThresholdBytes = 1 << 20;  // blocks this large are mapped, not kept

// Puts into `frames` the *.fit files of the current folder (as a shell's
// *.fit finds them: no names starting with '.'), regular files only, in byte
// order of the names. Returns an empty text, else why the folder could not
// be read.
std::string framesOfFolder(std::vector<std::string>& frames) {
  std::vector<std::string> names;
  const std::string failure = listFolder(".", names);
  if (!failure.empty()) return failure;
  for (const std::string& name : names) {
    if (name.size() <= 4 || name[0] == '.' || name.compare(name.size() - 4, 4, ".fit") != 0) {
      continue;
    }
    std::error_code ignored;
    if (std::filesystem::is_regular_file(name, ignored)) frames.push_back(name);
  }
  std::sort(frames.begin(), frames.end());
  return "";
}

// The run-list line that made each output, as the account tells it before
// any frame is drawn: what the editors' outputs lack comes from there.
std::map<std::string, ListLine> makersOfOutputs(
    const std::optional<std::vector<ListLine>>& lines) {
  if (!lines) return {};
  std::set<std::string> outputs;
  for (const ListLine& line : *lines) outputs.insert(line.output);
  const auto account = readAccount(lines, outputs, {});
  return account ? makersOf(*account, *lines) : std::map<std::string, ListLine>{};
}

int runFailed(const std::string& message) {
  std::fprintf(stderr, "tarnlook: %s\n", message.c_str());
  return kStatusWriteFailed;
}

// Collects the frames of the run and writes them sheet by sheet, keeping at
// most one sheet's thumbnails (and the next frame) in memory: the report
// keeps each thumbnail as a PNG until the night is judged.
class SheetWriter {
 public:
  // Writes the sheets into the folder `into` ("" the current one).
  SheetWriter(const std::string& into, LeftoverTemporaries& leftovers)
      : into_(into), leftovers_(leftovers) {}

  // Takes a frame; false when an earlier full sheet could not be written.
  bool add(Frame&& frame) {
    if (pending_.size() == static_cast<std::size_t>(kFramesPerSheet)) {
      // Another frame after a full sheet: the sheets are numbered.
      if (!flush(sheetName(static_cast<int>(written_.size()) + 1, true))) return false;
    }
    pending_.push_back(std::move(frame));
    return true;
  }

  // Writes what is left; false on failure.
  bool finish() {
    if (pending_.empty()) return true;
    return flush(sheetName(static_cast<int>(written_.size()) + 1, !written_.empty()));
  }

  // Says which sheet could not be written, after add() or finish() failed.
  void reportFailure() const {
    std::printf("Cannot write. (%s)\n", failure_.first.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tarnlook: %s\n", failure_.second.c_str());
  }

  // The number of sheets written.
  int count() const { return static_cast<int>(written_.size()); }

  // "Picture: tarnlook.png (12 frames)", or every sheet after "Pictures:".
  std::string pictures() const {
    std::string text = written_.size() == 1 ? "Picture:" : "Pictures:";
    for (std::size_t i = 0; i < written_.size(); ++i) {
      text += (i == 0 ? " " : ", ") + written_[i];
    }
    return text;
  }

 private:
  bool flush(const std::string& sheet) {
    const std::string name = pathIn(into_, sheet);
    const std::string error = writeSheet(pending_, name, leftovers_);
    if (!error.empty()) {
      failure_ = {name, error};
      return false;
    }
    written_.push_back(name + " (" + std::to_string(pending_.size()) +
                       (pending_.size() == 1 ? " frame)" : " frames)"));
    pending_.clear();
    return true;
  }

  const std::string into_;
  LeftoverTemporaries& leftovers_;
  std::pair<std::string, std::string> failure_;  // the sheet and why, once one failed
  std::vector<Frame> pending_;
  std::vector<std::string> written_;
};

// The report's files on the last console line: "page: tarnlook.html;
// table: tarnlook.csv", the account's table after the other, in the folder
// `into`.
std::string reportLine(bool account, const std::string& into) {
  return "page: " + pathIn(into, kPageName) +
         (account ? "; tables: " + pathIn(into, kTableName) + ", " +
                        pathIn(into, kAccountTableName)
                  : "; table: " + pathIn(into, kTableName));
}

// The night folder as the page in `into` reaches it (NightReport::nightFolder):
// empty when the page is in it, else the path from `into` to it, both
// with their links resolved, ending in '/'.
std::string nightFolderFrom(const std::string& into) {
  std::error_code error;
  const std::filesystem::path here = std::filesystem::current_path(error);
  if (into.empty() || error) return "";
  const std::filesystem::path there = std::filesystem::canonical(into, error);
  if (error) return here.string() + "/";
  const std::filesystem::path path = here.lexically_relative(there);
  if (path == ".") return "";
  return (path.empty() ? here : path).string() + "/";
}

// What the run list and the camera's cards give the header of an output
// that lacks them (fillFromRunList), by the output's name.
using Fill = std::function<Filled(const std::string&, FrameHeader&)>;

// A frame read and measured, or why it was passed over.
struct Read {
  std::optional<PassedOver> passed;
  Frame frame;
  Filled filled;  // what `fill` gave its header
};

Read readFrame(const std::string& name, const Fill& fill) {
  Read read;
  FrameReader reader;
  read.passed = reader.read(name, read.frame, [&](FrameHeader& header) {
    read.filled = fill(name, header);
  });
  return read;
}

// Reads the frames `order` of `names` in that order, each on a thread of
// its own, at most one per core ahead of the one taken (frames are
// independent; CFITSIO and SEP keep no state between them, and `fill` only
// reads).
class FrameQueue {
 public:
  FrameQueue(const std::vector<std::string>& names, std::vector<std::size_t> order, const Fill& fill)
      : names_(names), order_(std::move(order)), fill_(fill),
        ahead_(std::max(1u, std::thread::hardware_concurrency())) {}

  bool done() const { return taken_ == order_.size(); }

  Read take() {
    while (pending_.size() < ahead_ && started_ < order_.size()) {
      pending_.push_back(std::async(std::launch::async, readFrame,
                                    std::cref(names_[order_[started_++]]), std::cref(fill_)));
    }
    Read read = pending_.front().get();
    pending_.pop_front();
    ++taken_;
    return read;
  }

 private:
  const std::vector<std::string>& names_;
  std::vector<std::size_t> order_;
  const Fill& fill_;
  std::size_t ahead_;
  std::size_t started_ = 0, taken_ = 0;
  std::deque<std::future<Read>> pending_;
};

// A console line, at once: a run that is stopped shows what it has done.
void printNow(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// What the whole night says of its frames, after their lines: a heading,
// then "name  ! flag; flag" for each flagged frame, in the night's order.
void printFlags(const NightReport& report) {
  bool any = false;
  for (const ReportFrame& f : report.frames) {
    if (f.quality.flags.empty()) continue;
    if (!any) printNow("Flagged against the night:");
    any = true;
    // The end of a frame line without its measurement: the flags alone.
    printNow(hduName(f.name, f.extension) + consoleEnd({}, {}, f.quality));
  }
}

// The site file: the night folder's, else the user's, else the machine's;
// `path` tells which (empty: none). Why one that cannot be used is left
// aside goes to standard error.
Site readSiteFile(std::string& path) {
  Site site;
  std::vector<std::string> places{kSiteFileName};
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    places.push_back(std::string(home) + "/.config/tarnlook/" + kSiteFileName);
  places.push_back(std::string("/etc/tarnlook/") + kSiteFileName);
  for (const std::string& place : places) {
    std::ifstream file(place);
    if (!file) continue;
    std::ostringstream text;
    text << file.rdbuf();
    const std::string wrong = parseSite(text.str(), site);
    if (!wrong.empty()) {
      std::fprintf(stderr, "tarnlook: %s %s; judged without it\n", place.c_str(), wrong.c_str());
      return Site{};
    }
    path = place;
    return site;
  }
  return site;
}

// The scales given on the command line, then the site's for the other sizes.
std::vector<PixelScale> scalesOf(const std::vector<PixelScale>& given, const Site& site) {
  std::vector<PixelScale> scales = given;
  for (const CameraSite& camera : site.cameras) {
    FrameHeader size;
    size.naxis1 = camera.naxis1, size.naxis2 = camera.naxis2;
    if (camera.arcsecPerPixel && !scaleOf(given, size))
      scales.push_back({camera.naxis1, camera.naxis2, *camera.arcsecPerPixel});
  }
  return scales;
}

// A scale given for a size that no frame of the night has: a warning.
void warnUnusedScales(const std::vector<PixelScale>& given, const NightReport& report) {
  for (const PixelScale& scale : given) {
    const bool used = std::any_of(report.frames.begin(), report.frames.end(), [&](const ReportFrame& f) {
      return f.header.naxis1 == scale.naxis1 && f.header.naxis2 == scale.naxis2;
    });
    if (!used)
      std::fprintf(stderr, "tarnlook: warning: --scale %lldx%lld: no frame of the night is %lld x %lld pixels\n",
                   scale.naxis1, scale.naxis2, scale.naxis1, scale.naxis2);
  }
}

// The site's clear frames, read and measured as the night's are; one that
// cannot be read is named on standard error and left aside.
std::vector<Frame> readClearFrames(const Site& site) {
  std::vector<Frame> frames;
  FrameReader reader;
  for (const std::string& path : site.clearFrames) {
    Frame frame;
    if (const auto passed = reader.read(path, frame)) {
      std::fprintf(stderr, "tarnlook: clear frame %s: %s Left aside.\n", path.c_str(), passed->reason.c_str());
      continue;
    }
    frames.push_back(std::move(frame));
  }
  return frames;
}

void judge(NightReport& report, const Site& site) {
  std::vector<QualityInput> inputs, clear;
  for (const ReportFrame& f : report.frames)
    inputs.push_back({&f.header, &f.measurement, scaleOf(report.scales, f.header)});
  const std::vector<Frame> clearFrames = readClearFrames(site);
  for (const Frame& f : clearFrames) clear.push_back({&f.header, &f.measurement});
  const std::vector<FrameQuality> quality = judgeNight(inputs, site, clear);
  for (std::size_t i = 0; i < quality.size(); ++i) report.frames[i].quality = quality[i];
}

int sheetFailed(const SheetWriter& sheets) {
  sheets.reportFailure();
  return kStatusWriteFailed;
}

int run(const std::vector<std::string>& given, const std::vector<PixelScale>& scales,
        const std::string& into) {
  if (!into.empty()) {
    std::error_code error;
    std::filesystem::create_directories(into, error);
    if (error) return runFailed("cannot make the folder " + into + ": " + error.message());
  }
  std::string siteFile;
  const Site site = readSiteFile(siteFile);
  std::vector<std::string> names = given;
  if (given.empty()) {
    const std::string failure = framesOfFolder(names);
    if (!failure.empty()) return runFailed(failure);
  }
  const auto lines = given.empty() ? readRunListLines() : std::nullopt;
  const auto makers = makersOfOutputs(lines);
  // What an output's run-list line and its camera's cards give a header
  // that lacks them: before the night is ordered and the frame measured.
  const Fill fill = [&makers](const std::string& name, FrameHeader& header) {
    const auto maker = makers.find(name);
    if (maker == makers.end()) return Filled{};
    return fillFromRunList(header, maker->second);
  };
  // The night's order, from the headers alone: the sheets are drawn while
  // the pixels stream past in it.
  std::vector<std::optional<double>> times;
  {
    FrameReader reader;
    for (const std::string& name : names) {
      auto header = reader.header(name);
      if (header) fill(name, *header);
      times.push_back(header ? exposureTime(*header) : std::nullopt);
    }
  }
  // The temporaries of killed runs beside the pictures go as they are
  // written again; this run's own go if a signal ends it.
  removeTemporariesOnSignals();
  setSepLimits();
  LeftoverTemporaries leftovers;
  SheetWriter sheets(into, leftovers);
  NightReport report;
  report.scales = scalesOf(scales, site);
  report.siteFile = siteFile;
  report.nightFolder = nightFolderFrom(into);
  std::set<std::string> drawn;
  std::map<std::string, std::string> passedOver;  // file to reason
  for (FrameQueue queue(names, nightOrder(times), fill); !queue.done();) {
    Read read = queue.take();
    if (const auto& passed = read.passed) {
      const std::string note = noteOf(*passed);
      printNow(note);
      const std::string shown = hduName(passed->name, passed->extension);
      report.passedOver.push_back(visible(shown) + ": " + passed->reason);
      passedOver[passed->name] = passed->reason;
      continue;
    }
    Frame& frame = read.frame;
    printNow(consoleLine(hduName(frame.name, frame.extension), frame.header, frame.limits) +
             consoleEnd(frame.header, frame.measurement, {}));
    drawn.insert(frame.name);
    report.frames.push_back({frame.name, frame.extension, frame.header,
                             exposureTime(frame.header), frame.limits, frame.size,
                             thumbnailPng(frame), read.filled, frame.measurement, {}});
  }
  judge(report, site);
  warnUnusedScales(scales, report);
  printFlags(report);
  // The sheets mark the frames flagged: drawn once the night is judged.
  for (const ReportFrame& f : report.frames) {
    if (!sheets.add(sheetFrame(f))) return sheetFailed(sheets);
  }
  // The account belongs to the folder's night: not to frames picked by name.
  if (given.empty()) report.account = readAccount(lines, drawn, passedOver);
  const bool account = report.account.has_value();
  // Without a frame, the page still tells the night's account: a run may
  // have stopped before its first output.
  const bool drewNothing = report.frames.empty();
  if (drewNothing && !account) {
    std::puts(given.empty() ? "No frame (*.fit) in this folder; nothing written."
                            : "No frame to draw; nothing written.");
    return 0;
  }
  if (!drewNothing && !sheets.finish()) return sheetFailed(sheets);
  if (const auto failure = writeReport(std::move(report), into, leftovers)) {
    std::printf("Cannot write. (%s)\n", failure->file.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tarnlook: %s\n", failure->reason.c_str());
    return kStatusWriteFailed;
  }
  if (drewNothing) {
    std::printf("No frame (*.fit) in this folder; %s\n", reportLine(account, into).c_str());
    return 0;
  }
  std::printf("%s; %s\n", sheets.pictures().c_str(), reportLine(account, into).c_str());
  // Only now, with this run's sheets in place, do the older ones go.
  const std::string failure = removeStaleSheets(sheets.count(), into);
  return failure.empty() ? 0 : runFailed(failure);
}

}  // namespace

int lookAtNight(const LookOptions& options) {
  // A frame's pixels (megabytes) come straight from the system and go back
  // to it: else the allocator keeps them in each reading thread's heap, and
  // the memory grows with the threads the night has used.
  mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
  return run(options.files, options.scales, options.output);
}

}  // namespace tarnlook
