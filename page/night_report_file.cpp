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

std::optional<WriteFailure> writeReport(NightReport report, const std::string& into,
                                        LeftoverTemporaries& leftovers) {
  std::error_code error;
  const std::filesystem::path here = std::filesystem::current_path(error);
  report.folder = error ? "." : here.filename().empty() ? here.string() : here.filename().string();
  const std::string account = pathIn(into, kAccountTableName);
  if (auto failure = write(pathIn(into, kPageName), reportPage(report), leftovers)) return failure;
  if (auto failure = write(pathIn(into, kTableName), reportTable(report), leftovers))
    return failure;
  if (report.account) return write(account, accountTable(*report.account), leftovers);
  // unlink, not remove: a folder of that name is not ours, and stays.
  if (::unlink(account.c_str()) != 0 && errno != ENOENT && errno != EISDIR) {
    return WriteFailure{account, "cannot remove " + account + ": " + std::strerror(errno)};
  }
  return std::nullopt;
}

}  // namespace tarnlook
