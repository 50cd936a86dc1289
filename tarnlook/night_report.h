// The morning report of a night: the frames on a web page, and as CSV
// tables for programs. All are composed here as text; night_report_file.h
// writes them.
#ifndef TARNLOOK_NIGHT_REPORT_H
#define TARNLOOK_NIGHT_REPORT_H

#include <optional>
#include <string>
#include <vector>

#include "frame_header.h"
#include "measure.h"
#include "night_account.h"
#include "quality.h"
#include "thumbnail.h"
#include "zscale.h"

namespace tarnlook {

constexpr const char* kPageName = "tarnlook.html";
constexpr const char* kTableName = "tarnlook.csv";

// What the report keeps of a frame drawn.
struct ReportFrame {
  std::string name;   // the file's, as given or as listed in the folder
  int extension = 0;  // the HDU of its image (hduName)
  FrameHeader header;
  std::optional<double> time;  // exposureTime(header)
  DisplayLimits limits;
  ThumbnailSize size;
  std::string png;  // the thumbnail alone, a PNG file (sheet.h: thumbnailPng)
  Filled filled{};  // what its run-list line and the camera's cards gave it
  Measurement measurement{};
  FrameQuality quality{};
};

// The sky's scale on a detector at a binning, known by its image size
// (tarnlook --scale NAXIS1xNAXIS2=ARCSEC).
struct PixelScale {
  long long naxis1 = 0, naxis2 = 0;
  double arcsecPerPixel = 0.0;
};

// The scale of the frames of this header's size; none when not given.
std::optional<double> scaleOf(const std::vector<PixelScale>& scales, const FrameHeader& header);

struct NightReport {
  std::string folder;                   // the folder's name, as bytes
  std::vector<ReportFrame> frames;      // in the night's order, as on the sheets
  std::vector<std::string> passedOver;  // "name: reason", in order
  std::optional<NightAccount> account;  // when the folder has a run list
  std::vector<PixelScale> scales{};     // the scales given
};

// The page: one UTF-8 HTML file without script or outside reference, the
// thumbnails in it as data: PNG images. In order:
//  - the heading: the dates and the UT span of the frames with a time
//    (the folder's name when none has one); the frames counted by DATA-TYP
//    (most first, then in the night's order); the total EXPTIME of the
//    OBJECT frames (and how many have none); the distinct OBSERVER,
//    WEATHER and SEEING values; how many frames have no time;
//  - the night's account, when there is one: accountSummary, then each
//    input not converted, "input -> output: status";
//  - a grid of the thumbnails (ids "t1", "t2", ...) that wraps to the
//    window, each a link to its row, with the name, OBJECT, DATA-TYP,
//    FILTER and the UT of the exposure under it, then its flags;
//  - the night drawn over UT (chart.h: nightChart);
//  - the table of the frames (file, OBJECT, DATA-TYP, FILTER, EXPTIME, UT,
//    AIRMASS, the two zscale limits, then the measurements and flags
//    (measure_report.h: measureCells); rows "f1", "f2", ..., each file
//    name a link back to its thumbnail) in a box of its own that scrolls
//    sideways on a narrow screen; an AIRMASS below 1 marked as impossible
//    with a footnote;
//  - the notes of the files passed over, and the folder's name.
// Every text taken from a file is shown in its visible() form, escaped as
// HTML. Empty for no frame.
std::string reportPage(const NightReport& report);

// The same table as CSV (RFC 4180, CRLF line ends): the header line
//   file,OBJECT,DATA-TYP,FILTER,EXPTIME,UT,AIRMASS,zscale_low,zscale_high
// and the measured columns (measure_report.h: measureCsvHeader), then one
// line per frame; texts in their visible() form, quoted where
// needed (csvField); a missing header value is an empty field.
std::string reportTable(const NightReport& report);

// The account as CSV, the same way: "input,output,status", then one line
// per input of the run list.
std::string accountTable(const NightAccount& account);

}  // namespace tarnlook

#endif  // TARNLOOK_NIGHT_REPORT_H
