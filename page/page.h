// page: the night drawn and written: the zscale stretch and thumbnails,
// the contact sheets (libgd), the report page, its charts and the tables.
#ifndef PAGE_PAGE_H
#define PAGE_PAGE_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "account.h"
#include "frames.h"
#include "leftovers.h"
#include "measure.h"

namespace tarnlook {

// ---------------------------------------------------------------------------
// The zscale display interval: the limits between which an astronomical
// image is stretched linearly for display, found from a line fitted to the
// sorted values of a sample of its pixels.

constexpr long long kZscaleSamples = 1000;  // samples taken at most
constexpr double kZscaleContrast = 0.25;    // the fitted slope is divided by it
constexpr double kZscaleRejectSigmas = 2.5; // rejection beyond this many deviations
constexpr int kZscaleIterations = 5;        // fitting passes at most
constexpr long long kZscaleMinSamples = 5;  // fewer good samples: fall back

// The two limits, in the image's scaled units (BZERO/BSCALE applied);
// low <= high. Equal limits mean an image without contrast.
struct DisplayLimits {
  double low = 0.0;
  double high = 0.0;
};

// Picks the samples while the pixels stream past in storage order (FITS row
// 1 first): every s-th finite value, counting finite values only, from the
// first one on, with s = max(1, floor(N / 1000)) for an image of N pixels,
// and at most 1000 of them.
class ZscaleSampler {
 public:
  explicit ZscaleSampler(long long pixelCount);
  // Offers the next `count` values; `finite` of them are finite (neither NaN
  // nor infinite), as the caller counted them. When finite == count the
  // values are not looked at again, except those sampled.
  void add(const float* values, std::size_t count, std::size_t finite);
  // The samples taken so far, sorted ascending.
  std::vector<double> sortedSamples() const;

 private:
  long long stride_;
  long long finiteSeen_ = 0;
  std::vector<double> samples_;
};

// The zscale limits of samples sorted ascending (n of them):
//  1. fallback limits: the smallest and the largest sample;
//  2. fit a line to sample value against index by least squares over the
//     samples not rejected; reject each sample whose residual is beyond 2.5
//     standard deviations (population form) of the residuals of the samples
//     not rejected before this pass; widen every rejected sample to a run of
//     g = max(1, floor(n/100)) samples (floor((g-1)/2) before it, floor(g/2)
//     after it); at most 5 passes, stopping before a pass when the previous
//     one rejected nothing new or fewer than max(5, floor(n/2)) remain;
//  3. if at least max(5, floor(n/2)) samples remain, with the slope of the
//     last fit divided by the contrast 0.25, c = floor((n-1)/2) and m the
//     median of all samples: low = max(smallest, m - (c-1) slope) and
//     high = min(largest, m + (n-c) slope); otherwise the fallback limits.
// Returns nothing for no samples. All samples equal give equal limits.
std::optional<DisplayLimits> zscaleLimits(const std::vector<double>& sorted);

// ---------------------------------------------------------------------------
// Thumbnails of FITS images: the pixels averaged in square blocks, then
// stretched linearly between display limits to grey levels.

constexpr int kThumbnailMax = 256;  // pixels, the longer side at most
constexpr unsigned char kMidGrey = 128;  // an image without contrast

// A thumbnail of an image of naxis1 x naxis2 pixels: blocks of block x block
// pixels, block = max(1, ceil(max(naxis1, naxis2) / 256)), so that
// width = ceil(naxis1 / block) and height = ceil(naxis2 / block) are at most
// 256 and the aspect ratio is kept (the last block of a row or column may be
// cut short). zoom enlarges an image smaller than 256 on both sides by
// pixel repetition, zoom = max(1, floor(256 / max(naxis1, naxis2))), so
// that a tiny image is seen; it is 1 whenever block > 1.
struct ThumbnailSize {
  long long block = 1;
  int width = 0;
  int height = 0;
  int zoom = 1;
};

// Requires naxis1 >= 1 and naxis2 >= 1.
ThumbnailSize thumbnailSize(long long naxis1, long long naxis2);

// Averages the pixels of an image in the blocks of its thumbnail while the
// rows stream past in storage order (FITS row 1 first). Only finite values
// count; a block without any is NaN. Memory: one thumbnail and one row of
// block sums, whatever the image size.
class BlockAverager {
 public:
  BlockAverager(long long naxis1, long long naxis2);
  // Adds `rowCount` whole rows of naxis1 values each. Returns how many of
  // the values are finite.
  std::size_t addRows(const float* rows, long long rowCount);
  const ThumbnailSize& size() const { return size_; }
  // The block averages, width x height, top row first: FITS row 1 is at the
  // bottom, as image viewers show it. Valid once every row was added.
  const std::vector<float>& averages() const { return averages_; }

 private:
  void finishBlockRow();

  long long naxis1_;
  long long naxis2_;
  ThumbnailSize size_;
  long long rowsSeen_ = 0;
  long long rowsInBlock_ = 0;
  std::vector<double> sums_;
  std::vector<long long> counts_;
  std::vector<float> averages_;
};

// Grey levels 0 (at or below low) to 255 (at or above high), linear between
// the limits and rounded; NaN becomes 0. Equal limits give kMidGrey for
// every finite value.
std::vector<unsigned char> stretch(const std::vector<float>& values, const DisplayLimits& limits);

// ---------------------------------------------------------------------------
// Where the thumbnails and their labels go on a contact sheet, and the
// names of the sheets.

constexpr int kFramesAcross = 8;  // columns of a sheet at most
constexpr int kFramesDown = 6;    // rows of a sheet at most
constexpr int kFramesPerSheet = kFramesAcross * kFramesDown;
constexpr int kMargin = 8;        // pixels around the grid
constexpr int kGap = 8;           // pixels between columns and between rows
constexpr int kLabelGap = 2;      // pixels between a thumbnail and its label
constexpr int kLabelLines = 3;    // text lines reserved under each thumbnail

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
};

struct SheetLayout {
  int width = 0, height = 0;
  std::vector<Box> thumbnails;  // as drawn (zoom applied), one per frame
  std::vector<Box> labels;      // the text area under each thumbnail
};

// The grid of one sheet for thumbnails of the given sizes, in order, row by
// row: min(8, n) columns of 256 pixels, ceil(n / columns) rows. A row is as
// high as its highest thumbnail plus the label (kLabelGap + 3 lines of
// lineHeight pixels); each thumbnail is centred in its column and stands on
// its label. The sheet is width 2 x kMargin + columns x 256 + (columns-1) x
// kGap and height 2 x kMargin + the rows + (rows-1) x kGap. Requires
// 1 <= n <= 48.
SheetLayout layOutSheet(const std::vector<ThumbnailSize>& sizes, int lineHeight);

// The file name of sheet `index` (from 1): "tarnlook.png" for the only
// sheet of a run, else (numbered) "tarnlook-1.png", "tarnlook-2.png", ...
std::string sheetName(int index, bool numbered);

// `name` in `folder`: the name alone for "" or ".", else "folder/name".
std::string pathIn(const std::string& folder, const std::string& name);

// Whether `name` is one that sheetName can return: "tarnlook.png", or
// "tarnlook-N.png" with N a positive whole number in decimal without
// leading zeros ("tarnlook-01.png" and "tarnlook-0.png" are not).
bool isSheetName(const std::string& name);

// The sheets among `names` (the entries of a folder) that a run writing
// `count` sheets did not write: every sheet name but those of sheets 1 to
// count, numbered when count > 1. Nothing when count is 0 (a run without a
// frame leaves the folder as it is). Other names are never among them.
std::vector<std::string> staleSheets(const std::vector<std::string>& names, int count);

// ---------------------------------------------------------------------------
// The texts about a frame: its label on the sheet and its console line.

// At most three lines, each cut to maxChars characters (a cut line ends in
// '~'), bytes outside printable ASCII shown as '?':
//   1. the frame's name (hduName);
//   2. OBJECT, DATA-TYP and FILTER, those present, two blanks apart; when
//      none is, the image size "NAXIS1 x NAXIS2";
//   3. "UT hh:mm:ss" and "airmass X" (shownAirmass; "airmass X impossible"
//      when it is), those present; left out when neither is.
std::vector<std::string> labelLines(const std::string& name, const FrameHeader& header,
                                    std::size_t maxChars);

// The AIRMASS shown for a frame: the header's value on an OBJECT frame;
// nothing on a calibration frame (BIAS, DARK, FLAT, COMPARISON, ...), where
// it means nothing, nor for exactly 0, a placeholder.
std::string shownAirmass(const FrameHeader& header);

// Whether the shown airmass is impossible: a number below 1 (the target
// below the horizon).
bool impossibleAirmass(const FrameHeader& header);

// "name  object  low..high": the OBJECT value or "-", the limits as
// limitText gives them; the name and the value in their visible() form
// (frames.h).
std::string consoleLine(const std::string& name, const FrameHeader& header,
                        const DisplayLimits& limits);

// A zscale limit with six significant digits (as %.6g in the C locale).
std::string limitText(double value);

// ---------------------------------------------------------------------------
// One frame read from a FITS file: header values, zscale limits and the
// grey thumbnail, made in one pass over the pixels, and its numbers. The image is the
// primary array or, when that holds none, the first image extension.

struct Frame {
  std::string name;   // the file's, as given or as listed in the folder
  int extension = 0;  // the HDU of the image: 0 the primary, n extension n
  FrameHeader header;
  DisplayLimits limits;
  ThumbnailSize size;
  std::vector<unsigned char> grey;  // size.width x size.height, top row first
  // Its numbers (measure.h, Measurement): the stars looked for when DATA-TYP is OBJECT;
  // "too large for the memory budget" (binning 0) when even a binned copy is.
  Measurement measurement;  // The reasons of its flags in few words (FrameQuality::briefs): the sheet
  // draws a red border around a flagged frame and its first reason on it.
  std::vector<std::string> marks{};
};

// ---------------------------------------------------------------------------
// Drawing a contact sheet with libgd and writing it as a PNG file.

// Draws the frames (1 to 48) on one sheet: a dark grey background, each
// thumbnail in grey levels where layOutSheet puts it, its label lines in
// white under it (libgd's small built-in font), a flagged frame (marks)
// with a red border and its first reason in red across its top. Writes the PNG beside
// `path` under a temporary name and renames it over `path` only when it is
// complete, so that an older picture is replaced whole or not at all.
// Returns an empty text on success, else what went wrong (the temporary
// file is then removed and `path` is left as it was).
std::string writeSheet(const std::vector<Frame>& frames, const std::string& path,
                       LeftoverTemporaries& leftovers);

// Writes `size` bytes to a new file beside `path` and renames it over
// `path` (temporary_file.h: the temporary names, the leftovers of killed
// runs, the clean-up on a signal); returns an empty text, else what went
// wrong (`path` unchanged).
std::string replaceFile(const std::string& path, const void* bytes, std::size_t size,
                        LeftoverTemporaries& leftovers);

// The thumbnail of a frame alone, at its own size (not zoomed), as the bytes
// of a PNG file for the page; empty when libgd cannot make it.
std::string thumbnailPng(const Frame& frame);

// A frame of the report as the sheet draws it: its thumbnail decoded from
// the report's PNG (mid-grey when that cannot be read), its flags' reasons
// as marks.
struct ReportFrame;
Frame sheetFrame(const ReportFrame& frame);

// The height in pixels of a label line, as writeSheet lays out the sheet.
int labelLineHeight();

// Unlinks from the folder `into` ("" the current folder) every sheet that a
// run which has just written `count` sheets there did not write (staleSheets). A sheet that is gone
// already is no failure. Returns an empty text on success, else "cannot
// remove NAME: reason" for the first that stays (the others are still
// tried), or the listing's failure (then nothing is removed).
std::string removeStaleSheets(int count, const std::string& into);

// ---------------------------------------------------------------------------
// The morning report of a night: the frames on a web page, and as CSV
// tables for programs. All are composed here as text; writeReport
// writes them.

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
  std::string png;  // the thumbnail alone, a PNG file (thumbnailPng)
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

// A scale as the command line gives it, "NAXIS1xNAXIS2=ARCSEC" (2048x512=0.42),
// both sizes and the scale positive; nothing when the text is not one.
std::optional<PixelScale> scaleFrom(const std::string& text);

struct NightReport {
  std::string folder;                   // the folder's name, as bytes
  std::vector<ReportFrame> frames;      // in the night's order, as on the sheets
  std::vector<std::string> passedOver;  // "name: reason", in order
  std::optional<NightAccount> account;  // when the folder has a run list
  std::vector<PixelScale> scales{};     // the scales given, then the site file's
  std::string siteFile{};               // the site file the night was judged with; empty: none
  // The night folder as a link from the page's folder reaches it: empty
  // when the page is in it, else a path ending in '/' (relative where the
  // two folders allow it).
  std::string nightFolder{};
};

// The page: one UTF-8 HTML file without script or outside reference, the
// thumbnails in it as data: PNG images. In order:
//  - the heading: the dates and the UT span of the frames with a time
//    (the folder's name when none has one); the frames counted by DATA-TYP
//    (most first, then in the night's order); the total EXPTIME of the
//    OBJECT frames (and how many have none); the distinct OBSERVER,
//    WEATHER and SEEING values; how many frames have no time; the site
//    file the night was judged with;
//  - what to look at: the frames flagged (flaggedFrames), then the
//    night's account, when there is one: accountSummary, then each input
//    not converted, "input -> output: status"; "All well" only when
//    nothing at all is to be looked at; the lines that are information
//    (isInformation) after it, apart; then the night's summary line
//    (nightSummary);
//  - a grid of the thumbnails (ids "t1", "t2", ...) that wraps to the
//    window, each a link to its row, with the name, OBJECT, DATA-TYP,
//    FILTER and the UT of the exposure under it, then its flags;
//  - the night drawn over UT (nightChart);
//  - the table of the frames (file, OBJECT, DATA-TYP, FILTER, EXPTIME, UT,
//    AIRMASS, the two zscale limits, then the measurements and flags
//    (measureCells); rows "f1", "f2", ..., each file
//    name a link back to its thumbnail) in a box of its own that scrolls
//    sideways on a narrow screen; an AIRMASS below 1 marked as impossible
//    with a footnote;
//  - the notes of the files passed over, and the folder's name, a link to
//    the night folder.
// Each caption's file name is a link to the frame's file (nightFolder).
// Every text taken from a file is shown in its visible() form, escaped as
// HTML. Empty for no frame.
std::string reportPage(const NightReport& report);

// The same table as CSV (RFC 4180, CRLF line ends): the header line
//   file,OBJECT,DATA-TYP,FILTER,EXPTIME,UT,AIRMASS,zscale_low,zscale_high
// and the measured columns (measureCsvHeader), then one
// line per frame; texts in their visible() form, quoted where
// needed (csvField); a missing header value is an empty field.
std::string reportTable(const NightReport& report);

// The account as CSV, the same way: "input,output,status", then one line
// per input of the run list.
std::string accountTable(const NightAccount& account);

// ---------------------------------------------------------------------------
// The measurements and flags of the night's frames on the page and in the
// table: their columns, the flags under each thumbnail, and the scale that
// turns pixels into arcseconds.

// The CSV columns, after the table's others, each named by its definition
// with its unit:
//   level_adu,noise_adu,maximum_adu,saturated_pixels,binning,stars,fwhm_px,
//   fwhm_arcsec,SEEING,elongation,sky_adu,sky_adu_per_s,saturated_stars,
//   target_saturated,beta,axis_ratio,stars_fitted,half_light_diameter_px,
//   cosmic_rays,transparency,background_gradient,flags,not_measured
// (measure.h defines them); ",level_adu,..." with its comma.
std::string measureCsvHeader();
// One frame's fields, ",..." with the leading comma; a value that does not
// apply is an empty field; numbers with their significant digits
// (measureText); flags "; " between them; target_saturated "yes", "no" or
// empty.
std::string measureCsvFields(const ReportFrame& frame);

// The page table's heading cells and one row's cells, after the others,
// each heading with its unit: the flags (or "not measured: <reason>", or
// "no stars") first, so that they are seen without scrolling; stars, FWHM
// (px, and arcsec beside SEEING where a scale is known), beta, a/b, stars
// fitted, half-light diameter, cosmic rays, sky per second, transparency,
// gradient, level, noise, maximum, saturated pixels.
std::string measureHeadCells();
std::string measureCells(const ReportFrame& frame);

// The flags of a frame for its thumbnail's caption: "<br><span class=
// "flag">reason</span>" for each; empty when it has none.
std::string flagCaption(const ReportFrame& frame);

// The frames flagged, for the box at the top of the page: "3 of 9 OBJECT
// frames flagged: an0002 trailed (a/b 2.3), ...", each frame by its name
// without ".fit" and its reasons in few words (FrameQuality::briefs, " and "
// between them), then "; " and the calibration frames flagged the same
// way. Plain text (names in their visible() form), empty when no frame is
// flagged.
std::string flaggedFrames(const NightReport& report);

// The line that sums the night up, a paragraph: "Usable OBJECT frames: U
// of N" (measured, with a FWHM, and not flagged), the median FWHM in px and
// arcsec (where a scale is known) against the median of the observer's
// SEEING, each filter's median sky per second, and the least transparency.
// Empty without a sky frame.
std::string nightSummary(const NightReport& report);

// The styles of the cells, the flags and the chart, for the page's <style>.
extern const char* const kMeasureStyle;

// ---------------------------------------------------------------------------
// The night drawn over time: inline SVG charts of the OBJECT frames'
// FWHM, sky and airmass against UT, for the page (no script, no outside
// reference; they scale down to a phone's width).

// The section "The night" with three charts sharing the UT axis:
//  - FWHM of each OBJECT frame in pixels; where a scale is known, the
//    observer's SEEING (arcseconds) is drawn beside it in pixels, squares;
//  - the sky per second (ADU/s) where the night has a bias, else the sky
//    level (ADU);
//  - the AIRMASS of the header.
// Each point is a link to its frame's row ("#fN") with a title naming the
// frame and the value; points go in the night's order (time). Empty when
// fewer than two OBJECT frames with a time have a value to draw.
std::string nightChart(const NightReport& report);

// ---------------------------------------------------------------------------
// Writing the morning report beside the sheets.

struct WriteFailure {
  std::string file;    // the file not written
  std::string reason;  // what went wrong
};

// Writes the page (kPageName), the table (kTableName) and, when the report
// has an account, its table (kAccountTableName) into the folder `into`
// ("" or "." the current folder); the current folder's name goes into the
// page's heading; each is written beside its name
// and renamed over it when complete, as the sheets are. Without an account
// the account table of an earlier run is removed, so that the report's
// files come from one run. Requires at least one frame. Returns nothing on
// success, else the first file that could not be written or removed (it is
// left as it was; the files before it are new, those after it old).
std::optional<WriteFailure> writeReport(NightReport report, const std::string& into,
                                        LeftoverTemporaries& leftovers);

}  // namespace tarnlook

#endif  // PAGE_PAGE_H
