// The page and the tables of a night, written as files.
#include "page.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>


namespace tarnlook {

namespace {

std::optional<WriteFailure> write(const std::string& name, const std::string& text,
                                  LeftoverTemporaries& leftovers) {
  const std::string error = replaceFile(name, text.data(), text.size(), leftovers);
  if (error.empty()) return std::nullopt;
  return WriteFailure{name, error};
}

}  // namespace

std::optional<WriteFailure> writeReport(NightReport report, LeftoverTemporaries& leftovers) {
  std::error_code error;
  const std::filesystem::path here = std::filesystem::current_path(error);
  report.folder = error ? "." : here.filename().empty() ? here.string() : here.filename().string();
  if (auto failure = write(kPageName, reportPage(report), leftovers)) return failure;
  if (auto failure = write(kTableName, reportTable(report), leftovers)) return failure;
  if (report.account) return write(kAccountTableName, accountTable(*report.account), leftovers);
  // unlink, not remove: a folder of that name is not ours, and stays.
  if (::unlink(kAccountTableName) != 0 && errno != ENOENT && errno != EISDIR) {
    return WriteFailure{kAccountTableName, std::string("cannot remove ") + kAccountTableName +
                                               ": " + std::strerror(errno)};
  }
  return std::nullopt;
}

}  // namespace tarnlook
