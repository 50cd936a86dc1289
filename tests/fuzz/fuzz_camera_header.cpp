// Fuzz target: the camera header reader. The input, cut or blank-filled to
// one 2880-byte block, is read under each program's Andor rule; a
// recognised header goes on to the mid-exposure time and the summary line
// as in the driver, which takes the start fields and the exposure of any
// header through the calendar arithmetic. The raw input is also taken as a
// file's first block, short files included.
#include <cstddef>
#include <cstdint>
#include <string>

#include "camera_header.h"
#include "catalogue.h"
#include "messages.h"
#include "mid_exposure.h"
#include "fuzz_support.h"
#include "obslib.h"

namespace {

const AndorRule kRules[] = {AndorRule::Full, AndorRule::KeepTo36, AndorRule::KeepTo30};

CatalogueEntry someTarget() {
  return catalogueEntryFrom(scanCatalogueLine("M42 2000.0 05 35 17.3 -05 23 28"));
}

ListEntry someEntry() {
  ListEntry entry;
  entry.fileName = "ob0001.fts";
  entry.objectName = "M42";
  entry.dataTypeName = "OBJECT";
  return entry;
}

// Within the range the calendar is right for, the fields of the mid
// exposure are a proper date and time, at most two seconds before the
// instant (the fields are cut, never rounded).
void checkMidFields(const ObservationRecord& rec) {
  static const double kFirstMjd = timetomjd(1, 1, 1, 0, 0, 0);
  static const double kEndMjd = timetomjd(10000, 1, 1, 0, 0, 0);
  if (!(rec.midMjd >= kFirstMjd && rec.midMjd < kEndMjd)) return;
  FUZZ_CHECK(rec.midYear >= 1 && rec.midYear <= 9999);
  FUZZ_CHECK(rec.midMonth >= 1 && rec.midMonth <= 12);
  FUZZ_CHECK(rec.midDay >= 1 && rec.midDay <= 31);
  FUZZ_CHECK(rec.midHour >= 0 && rec.midHour <= 23);
  FUZZ_CHECK(rec.midMinute >= 0 && rec.midMinute <= 59);
  FUZZ_CHECK(rec.midSecond >= 0 && rec.midSecond <= 59);
  const double back = timetomjd(rec.midYear, rec.midMonth, rec.midDay, rec.midHour,
                                rec.midMinute, rec.midSecond);
  constexpr double kTwoSecondsDays = 2.0 / 86400.0;
  constexpr double kRoundingDays = 1e-9;
  FUZZ_CHECK(back <= rec.midMjd + kRoundingDays);
  FUZZ_CHECK(back > rec.midMjd - kTwoSecondsDays);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silenceConsole();
  fuzz::enterScratchFolder("fuzz_camera_header");
  fuzz::discardErrorLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  std::string block = raw.substr(0, kBlockLength);
  block.resize(kBlockLength, ' ');

  static const CatalogueEntry target = someTarget();
  static const ListEntry entry = someEntry();
  for (AndorRule rule : kRules) {
    ObservationRecord rec;
    const HeaderParse parse = parseCameraHeader(block, rule, rec);
    if (!parse.recognised) continue;
    for (int n = 1; n <= 5; ++n) FUZZ_CHECK(rec.savedCards[n].size() == kCardLength);
    FUZZ_CHECK(rec.pixelCount > 0);
    computeMidExposure(rec, target);
    checkMidFields(rec);
    FUZZ_CHECK(!msg::summaryLine(entry, target, rec).empty());
  }

  ObservationRecord rec;
  const Outcome read = readCameraHeader(raw.substr(0, kBlockLength), AndorRule::Full, rec);
  FUZZ_CHECK(read.isAccepted() == (raw.size() >= kBlockLength && parseCameraHeader(block, AndorRule::Full, rec).recognised));
  return 0;
}
