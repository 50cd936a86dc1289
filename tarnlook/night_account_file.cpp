// The run list and the error log, read for the night's account.
#include "night_account_file.h"

#include <fstream>
#include <vector>

#include "files.h"
#include "night_files.h"
#include "obslib.h"
#include "records.h"
#include "runlist.h"

namespace tarnlook {

namespace {

// The entry lines of the run list, piece by piece and line by line as the
// converters' main loop takes them; false when there is no run list.
bool readRunList(std::vector<RunListInput>& inputs) {
  FilePtr list = openLowerOrUpper(kRunListName, "rt");
  if (!list) return false;
  std::string piece;
  while (readListPiece(list.get(), piece)) {
    // A line equal to the last one converted is the same input again: it
    // counts once either way.
    if (classifyLine(piece, "") != LineKind::Entry) continue;
    ListEntry entry;
    parseEntryLine(piece, entry);
    const std::string input = chartolower(entry.fileName.c_str());
    // The converters refuse an input without an output of its own.
    inputs.push_back({input, hasOwnOutput(input) ? outputNameFor(input) : std::string()});
  }
  return true;
}

// The last reason the error log gives for each input.
std::map<std::string, std::string> readLogReasons() {
  std::map<std::string, std::string> reasons;
  std::ifstream log(kErrorLogName);
  std::string line, name, reason;
  while (std::getline(log, line)) {
    if (errlistline(line, name, reason)) reasons[name] = reason;
  }
  return reasons;
}

}  // namespace

std::optional<NightAccount> readAccount(const std::set<std::string>& drawn,
                                        const std::map<std::string, std::string>& passedOver) {
  std::vector<RunListInput> inputs;
  if (!readRunList(inputs)) return std::nullopt;
  return accountOf(inputs, drawn, passedOver, readLogReasons());
}

}  // namespace tarnlook
