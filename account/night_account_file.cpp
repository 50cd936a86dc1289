// The run list, the run records and the error log, read for the night's
// account.
#include "account.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include "files.h"
#include "frames.h"
#include "night_files.h"
#include "obslib.h"
#include "records.h"
#include "runlist.h"

namespace tarnlook {

namespace {

const char* const kRecordNames[] = {"tarnfits-run.csv", "tarnfits4-run.csv", "tarnfits4s-run.csv"};

// The run list's line for one entry: the converters' names for it.
ListLine listLine(int number, const std::string& piece) {
  ListEntry entry;
  parseEntryLine(piece, entry);
  const std::string input = chartolower(entry.fileName.c_str());
  ListLine line{number, piece, input, "", entry.objectName, "", filterNameFor(entry.filter)};
  // The converters refuse an input without an output of its own.
  if (hasOwnOutput(input)) line.output = outputNameFor(input);
  if (checkEntryCodes(entry).verdict != Verdict::Refused) line.dataType = entry.dataTypeName;
  return line;
}

// The error log's lines, file and reason, in order.
std::vector<std::pair<std::string, std::string>> readLog() {
  std::vector<std::pair<std::string, std::string>> lines;
  std::ifstream log(kErrorLogName);
  std::string line, name, reason;
  while (std::getline(log, line)) {
    if (errlistline(line, name, reason)) lines.emplace_back(name, reason);
  }
  return lines;
}

std::vector<std::vector<RecordRow>> readRecords() {
  std::vector<std::vector<RecordRow>> records;
  for (const char* name : kRecordNames) {
    std::ifstream file(name, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (auto rows = parseRunRecord(text)) records.push_back(std::move(*rows));
  }
  return records;
}

}  // namespace

std::optional<std::vector<ListLine>> readRunListLines() {
  FilePtr list = openLowerOrUpper(kRunListName, "rt");
  if (!list) return std::nullopt;
  std::vector<ListLine> lines;
  std::string piece;
  int number = 1;
  while (readListPiece(list.get(), piece)) {
    const int at = number;
    if (!piece.empty() && piece.back() == '\n') ++number;  // a longer line comes in pieces
    // A line equal to the one before stays: it may be a repeat to account for.
    if (classifyLine(piece, "") == LineKind::Entry) lines.push_back(listLine(at, piece));
  }
  return lines;
}

std::optional<NightAccount> readAccount(const std::optional<std::vector<ListLine>>& lines,
                                        const std::set<std::string>& drawn,
                                        const std::map<std::string, std::string>& passedOver) {
  const auto records = readRecords();
  if (!lines && records.empty()) return std::nullopt;
  NightAccount account = !records.empty() ? accountFromRecords(records, drawn, passedOver)
                                          : accountFromLog(*lines, readLog(), drawn, passedOver);
  if (!lines) return account;
  std::vector<std::string> names;
  listFolder(".", names);  // a folder that cannot be listed has failed already
  std::sort(names.begin(), names.end());
  account.unlisted = unlistedCameraFiles(names, *lines);
  return account;
}

}  // namespace tarnlook
