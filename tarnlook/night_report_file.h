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

// Writes the page (kPageName), the table (kTableName) and, when the report
// has an account, its table (kAccountTableName) in the current folder,
// whose name goes into the page's heading; each is written beside its name
// and renamed over it when complete, as the sheets are. Without an account
// the account table of an earlier run is removed, so that the report's
// files come from one run. Requires at least one frame. Returns nothing on
// success, else the first file that could not be written or removed (it is
// left as it was; the files before it are new, those after it old).
std::optional<WriteFailure> writeReport(NightReport report, LeftoverTemporaries& leftovers);

}  // namespace tarnlook

#endif  // TARNLOOK_NIGHT_REPORT_FILE_H
