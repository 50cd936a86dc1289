// The morning report of a night: the frames drawn as a web page beside the
// sheets, and as a CSV table for programs. Both are composed here as text;
// night_report_file.h writes them.
#ifndef TARNLOOK_NIGHT_REPORT_H
#define TARNLOOK_NIGHT_REPORT_H

#include <string>
#include <vector>

#include "label.h"
#include "layout.h"
#include "thumbnail.h"
#include "zscale.h"

namespace tarnlook {

constexpr const char* kPageName = "tarnlook.html";
constexpr const char* kTableName = "tarnlook.csv";

// What the report keeps of a frame drawn (its pixels are not kept).
struct ReportFrame {
  std::string name;  // as given or as listed in the folder
  FrameHeader header;
  DisplayLimits limits;
  ThumbnailSize size;
};

struct NightReport {
  std::string folder;                   // the folder's name, as bytes
  std::vector<ReportFrame> frames;      // in sheet order
  std::vector<std::string> passedOver;  // the console notes, in order (FrameReader::read)
};

// One sheet as writeSheet draws it: its file name and its layout.
struct ReportSheet {
  std::string name;
  SheetLayout layout;
};

// The sheets of the frames, 48 to a sheet, named by sheetName (numbered
// when there are more than 48 frames) and laid out by layOutSheet with
// label lines of lineHeight pixels. None for no frame.
std::vector<ReportSheet> reportSheets(const std::vector<ReportFrame>& frames, int lineHeight);

// The page, UTF-8 HTML without script or outside reference but the sheets:
// a heading with the folder's name and the UT of the first and the last
// frame; each sheet with an image map whose areas link its thumbnails to
// the rows of the table (ids "f1", "f2", ... in sheet order); the table of
// the frames (file, OBJECT, DATA-TYP, FILTER, EXPTIME, UT, AIRMASS and the
// two zscale limits); the notes of the files passed over. Every text taken
// from a file is shown in its visible() form, escaped as HTML. Empty for
// no frame.
std::string reportPage(const NightReport& report, int lineHeight);

// The same table as CSV (RFC 4180, CRLF line ends): the header line
//   file,OBJECT,DATA-TYP,FILTER,EXPTIME,UT,AIRMASS,zscale_low,zscale_high
// then one line per frame; texts in their visible() form, quoted where
// needed (csvField); a missing header value is an empty field.
std::string reportTable(const NightReport& report);

}  // namespace tarnlook

#endif  // TARNLOOK_NIGHT_REPORT_H
