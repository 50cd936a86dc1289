// The object catalogue: one target a line, name, equinox, RA and Dec.
#include "catalogue.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "files.h"
#include "messages.h"
#include "night_files.h"
#include "obslib.h"

namespace {
constexpr int kFieldsUpToSign = 6;  // name, equinox, h, m, s, sign
constexpr int kAllFields = 9;

bool earlier(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

CatalogueLine scanCatalogueLine(const std::string& line) {
  CatalogueLine c;
  FieldScanner scan(line);
  std::string sign;
  if (!scan.word(c.name)) return c;
  c.fields = 1;
  if (!scan.real(c.equinox)) return c;
  c.fields = 2;
  if (!scan.integer(c.raHours, 2)) return c;
  c.fields = 3;
  if (!scan.integer(c.raMinutes, 2)) return c;
  c.fields = 4;
  if (!scan.real(c.raSeconds)) return c;
  c.fields = 5;
  if (!scan.word(sign, 1)) return c;
  c.sign = sign[0];
  c.fields = 6;
  if (!scan.integer(c.decDegrees, 2)) return c;
  c.fields = 7;
  if (!scan.integer(c.decMinutes, 2)) return c;
  c.fields = 8;
  if (!scan.real(c.decSeconds)) return c;
  c.fields = 9;
  c.endsClean = scan.atBlankOrEnd();
  return c;
}

bool unreadablePosition(const CatalogueLine& line) {
  constexpr int kFieldsUpToEquinox = 2;
  return (line.fields >= kFieldsUpToEquinox && line.fields < kFieldsUpToSign) ||
         (line.fields == kAllFields && !line.endsClean);
}

CatalogueEntry catalogueEntryFrom(const CatalogueLine& line) {
  CatalogueEntry e;
  e.name = line.name;
  e.equinox = line.equinox;
  double hours = line.raHours + line.raMinutes / kMinutesPerHour + line.raSeconds / kSecondsPerHour;
  e.raRadians = hours * kRadiansPerHourOfRa;
  double degrees =
      line.decDegrees + line.decMinutes / kMinutesPerHour + line.decSeconds / kSecondsPerHour;
  e.decRadians = degrees * kRadiansPerDegree;
  if (line.sign == '-') e.decRadians = -e.decRadians;
  return e;
}

CatalogueLines readCatalogue(std::FILE* catalogue) {
  CatalogueLines lines;
  std::string text;
  for (int number = 1; readWholeLine(catalogue, text); ++number) {
    const CatalogueLine line = scanCatalogueLine(text);
    const bool unreadable = unreadablePosition(line);
    if (line.fields < kFieldsUpToSign) {  // blank line, remark or a line cut short
      if (unreadable) lines.entries.push_back({catalogueEntryFrom(line), number, true});
      continue;
    }
    if ((line.sign != '+' && line.sign != '-') || line.fields < kAllFields) {
      lines.brokenAfter = true;
      lines.brokenLine = number;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      lines.brokenText = text;
      break;
    }
    lines.entries.push_back({catalogueEntryFrom(line), number, unreadable});
  }
  return lines;
}

LookupResult findInCatalogue(const CatalogueLines& lines, const std::string& objectName,
                             CatalogueEntry& found, int* unreadableLine) {
  for (const CatalogueLines::Named& named : lines.entries) {
    if (named.entry.name != objectName) continue;
    if (named.unreadable) {
      if (unreadableLine != nullptr) *unreadableLine = named.line;
      return LookupResult::Unreadable;
    }
    found = named.entry;
    return LookupResult::Found;
  }
  return lines.brokenAfter ? LookupResult::Broken : LookupResult::Missing;
}

LookupResult searchCatalogue(std::FILE* catalogue, const std::string& objectName,
                             CatalogueEntry& found, int* unreadableLine) {
  return findInCatalogue(readCatalogue(catalogue), objectName, found, unreadableLine);
}

Outcome lookUpObject(const std::string& objectName, CatalogueEntry& found) {
  ObjectCatalogue catalogue;
  return catalogue.lookUp(objectName, found);
}

bool ObjectCatalogue::Identity::operator==(const Identity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

Outcome ObjectCatalogue::lookUp(const std::string& objectName, CatalogueEntry& found) {
  struct stat st;
  UniqueFd fd = openInputLowerOrUpper(kCatalogueName, &st);
  if (!fd) return msg::catalogueMissing(whyNotOpened(kCatalogueName));
  const Identity file{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  if (!settled_ || !(file == file_)) {
    // A file whose times are within the time stamps' resolution of this
    // moment may yet change without a new time: it is read again next time.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    settled_ = false;
    FilePtr catalogue(::fdopen(fd.get(), "r"));
    if (!catalogue) return msg::catalogueMissing(errno);
    fd.release();
    lines_ = readCatalogue(catalogue.get());
    file_ = file;
    const timespec latest = std::max(file.modified, file.changed, earlier);
    settled_ = file.inode != 0 && (latest.tv_sec + kSettledSeconds < now.tv_sec ||
                                   (latest.tv_sec + kSettledSeconds == now.tv_sec &&
                                    latest.tv_nsec < now.tv_nsec));
  }
  int unreadableLine = 0;
  switch (findInCatalogue(lines_, objectName, found, &unreadableLine)) {
    case LookupResult::Found:
      return Outcome::accepted();
    case LookupResult::Unreadable:
      return msg::objectLineUnreadable(objectName, unreadableLine);
    case LookupResult::Broken:
      return msg::catalogueBroken(lines_.brokenLine, lines_.brokenText);
    case LookupResult::Missing:
      break;
  }
  return msg::objectMissing(objectName);
}
