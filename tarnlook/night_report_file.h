// Writing the morning report beside the sheets.
#ifndef TARNLOOK_NIGHT_REPORT_FILE_H
#define TARNLOOK_NIGHT_REPORT_FILE_H

#include <optional>
#include <string>

#include "leftovers.h"
#include "night_report.h"

namespace tarnlook {

struct WriteFailure {
  std::string file;    // the file not written
  std::string reason;  // what went wrong
};

// Writes the page (kPageName) and the table (kTableName) of `report` in the
// current folder, whose name becomes the page's heading; each is written
// beside its name and renamed over it when complete, as the sheets are.
// Requires at least one frame. Returns nothing on success, else the first
// file that could not be written (it is left as it was; the page may then
// be new and the table old).
std::optional<WriteFailure> writeReport(NightReport report, LeftoverTemporaries& leftovers);

}  // namespace tarnlook

#endif  // TARNLOOK_NIGHT_REPORT_FILE_H
