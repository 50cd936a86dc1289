// A run of tarnindex over a root: the nights found, looked at when asked,
// read again where their files changed, removed where they went, and the
// pages and the table written from the index.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <regex>

#include "index.h"
#include "leftovers.h"
#include "temporary_file.h"

namespace tarnindex {

namespace {

bool sameFiles(const std::vector<FileStamp>& a, const std::vector<FileStamp>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FileStamp& x, const FileStamp& y) {
    return x.name == y.name && x.size == y.size && x.mtimeNs == y.mtimeNs;
  });
}

// Looks at the nights that need it, then finds the nights again.
std::vector<FoundNight> lookFirst(const std::string& root, std::vector<FoundNight> found,
                                  const UpdateOptions& options, UpdateReport& report) {
  std::vector<std::string> paths;
  for (const FoundNight& night : found) {
    if (night.passedOver.empty() && night.framesNewer) paths.push_back(night.path);
  }
  if (paths.empty()) return found;
  report.lookFailed = lookAtNights(root, paths, options.scaleArguments, options.jobs);
  return findNights(root);
}

// Puts one night found into the index, read again when its files changed.
std::string indexNight(Index& index, const std::string& root, const FoundNight& night,
                       const Index::Stored* stored, const UpdateOptions& options, UpdateReport& report) {
  ++report.nights;
  if (!night.passedOver.empty()) {
    report.passedOver.push_back(night.path + ": " + night.passedOver);
    return index.putNight(night, nullptr, "passed over", night.passedOver);
  }
  if (!night.looked) {
    report.notLookedAt.push_back(night.path);
    return stored && sameFiles(stored->files, night.files) ? "" : index.putNight(night, nullptr, "not looked at", "");
  }
  if (stored && stored->state != "not looked at" && sameFiles(stored->files, night.files)) {
    if (stored->state == "passed over") report.passedOver.push_back(night.path + ": " + stored->reason);
    return "";
  }
  NightTexts texts;
  NightContent content;
  std::string reason = readTexts(root, night, texts);
  if (reason.empty()) reason = readNight(texts, content);
  ++report.read;
  const int number = report.read;
  const auto seam = [&options, number] { if (options.beforeCommit) options.beforeCommit(number); };
  if (!reason.empty()) {
    report.passedOver.push_back(night.path + ": " + reason);
    return index.putNight(night, nullptr, "passed over", reason, seam);
  }
  return index.putNight(night, &content, "indexed", "", seam);
}

// Writes the pages and the table, and removes the year pages of years gone.
std::string writeOutputs(Index& index, const std::string& root, UpdateReport& report) {
  std::string error;
  const std::vector<NightRow> nights = index.nights(error);
  if (!error.empty()) return error;
  const auto measures = index.measures(error);
  if (!error.empty()) return error;
  auto outputs = archivePages(nights, measures);
  outputs.emplace_back(kTableName, nightsTable(nights));
  LeftoverTemporaries leftovers;
  for (const auto& [name, bytes] : outputs) {
    if (const int failure = replaceFileWith(root + "/" + name, bytes.data(), bytes.size(), leftovers)) {
      return root + "/" + name + ": " + std::strerror(failure);
    }
    report.written.push_back(name);
  }
  static const std::regex yearPage("tarnindex-\\d{4}\\.html");
  if (DIR* dir = opendir(root.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      const bool ours = std::any_of(outputs.begin(), outputs.end(), [&](const auto& o) { return o.first == name; });
      if (!ours && std::regex_match(name, yearPage)) unlink((root + "/" + name).c_str());
    }
    closedir(dir);
  }
  return "";
}

}  // namespace

std::string updateIndex(const std::string& root, const UpdateOptions& options, UpdateReport& report) {
  std::string error;
  const std::unique_ptr<Index> index = Index::open(root, options.lockSeconds, error);
  if (!index) return error;
  std::vector<FoundNight> found = findNights(root);
  if (options.look) found = lookFirst(root, std::move(found), options, report);
  std::map<std::string, Index::Stored> stored = index->stored(error);
  if (!error.empty()) return error;
  for (const FoundNight& night : found) {
    const auto before = stored.find(night.path);
    error = indexNight(*index, root, night, before == stored.end() ? nullptr : &before->second, options, report);
    if (!error.empty()) return night.path + ": " + error;
    if (before != stored.end()) stored.erase(before);
  }
  report.indexed = report.nights - static_cast<int>(report.notLookedAt.size() + report.passedOver.size());
  for (const auto& [path, night] : stored) {  // the nights no longer under the root
    if (error = index->removeNight(path); !error.empty()) return path + ": " + error;
    ++report.removed;
  }
  return writeOutputs(*index, root, report);
}

}  // namespace tarnindex
