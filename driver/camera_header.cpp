// The camera header reader: recognises the camera set-up from the image size
// and walks the header card by card in that set-up's fixed order.
#include "camera_header.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "files.h"
#include "messages.h"
#include "obslib.h"

namespace {

// The n-th card (from 1) of the header block.
std::string cardOf(const std::string& block, int n) {
  return block.substr(static_cast<std::size_t>(n - 1) * kCardLength, kCardLength);
}

// The card's text as the word readers see it: up to a NUL byte.
std::string cardText(const std::string& card) {
  return card.substr(0, card.find('\0'));
}

// Word k (from 1) of a card, blank-separated; empty when it has fewer words.
std::string wordOf(const std::string& card, int k) {
  std::string text = cardText(card), word;
  FieldScanner scan(text);
  for (int i = 0; i < k; ++i)
    if (!scan.word(word)) return std::string();
  return word;
}

// A decimal integer from the beginning of a text, as atoi reads it, but held
// within the range of int.
int leadingInt(const std::string& text) {
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int intWord(const std::string& card, int k) { return leadingInt(wordOf(card, k)); }

double realWord(const std::string& card, int k) {
  return std::atof(wordOf(card, k).c_str());
}

// Columns first..last (from 1) as a decimal integer; 0 without digits.
int columnValue(const std::string& card, int first, int last) {
  std::string piece = cardText(card.substr(static_cast<std::size_t>(first - 1),
                                           static_cast<std::size_t>(last - first + 1)));
  return leadingInt(piece);
}

// Columns of day, month, year, hour, minute, second in a date card.
struct DateColumns {
  int day[2], month[2], year[2], hour[2], minute[2], second[2];
};
constexpr DateColumns kLayoutA = {{14, 15}, {17, 18}, {20, 23}, {24, 26}, {28, 29}, {31, 32}};
constexpr DateColumns kLayoutB = {{13, 14}, {16, 17}, {19, 22}, {23, 25}, {27, 28}, {30, 31}};
constexpr DateColumns kLayoutC = {{20, 21}, {17, 18}, {12, 15}, {23, 24}, {26, 27}, {29, 30}};

void readStart(const std::string& card, const DateColumns& c, ObservationRecord& rec) {
  rec.startDay = columnValue(card, c.day[0], c.day[1]);
  rec.startMonth = columnValue(card, c.month[0], c.month[1]);
  rec.startYear = columnValue(card, c.year[0], c.year[1]);
  rec.startHour = columnValue(card, c.hour[0], c.hour[1]);
  rec.startMinute = columnValue(card, c.minute[0], c.minute[1]);
  rec.startSecond = columnValue(card, c.second[0], c.second[1]);
}

// The Andor camera writes its start in UT; the record keeps JST. Only the day
// moves on (the 31st may become the 32nd); the MJD arithmetic counts on.
void shiftUtToJst(ObservationRecord& rec) {
  rec.startHour += kJstHoursAheadOfUt;
  if (rec.startHour > 23) {
    rec.startDay += 1;
    rec.startHour -= 24;
  }
}

void readSettingsBlock(const std::string& block, int k, ObservationRecord& rec) {
  rec.preGain = intWord(cardOf(block, k), 7);
  rec.postGain = intWord(cardOf(block, k + 1), 7);
  rec.offsetSetting = intWord(cardOf(block, k + 2), 6);
  rec.adcSpeed = wordOf(cardOf(block, k + 4), 6);
  rec.ccdTemperature = static_cast<float>(realWord(cardOf(block, k + 5), 7));
}

void keepCards(const std::string& block, int first, int last, ObservationRecord& rec) {
  for (int n = first; n <= last; ++n) rec.savedCards[n] = cardOf(block, n);
}

// The cards after the kept ones when the camera writes binning cards (S5
// always, T5 when card 8 is BIN-FCT1): binning from cards 8 and 9, exposure
// from card 10, start from card 11 (layout B).
void readBinnedLayout(const std::string& block, ObservationRecord& rec) {
  rec.binning1 = intWord(cardOf(block, 8), 3);
  rec.binning2 = intWord(cardOf(block, 9), 3);
  rec.exposureSeconds = realWord(cardOf(block, 10), 3);
  readStart(cardOf(block, 11), kLayoutB, rec);
}

void readT5(const std::string& block, ObservationRecord& rec) {
  std::string card8 = cardOf(block, 8);
  if (card8.compare(0, 8, "BIN-FCT1") != 0) {
    rec.exposureSeconds = realWord(card8, 3);
    readStart(cardOf(block, 9), kLayoutA, rec);
    readSettingsBlock(block, 12, rec);
    return;
  }
  readBinnedLayout(block, rec);
  bool shifted = wordOf(cardOf(block, 12), 3) == "BINNING";
  readSettingsBlock(block, shifted ? 14 : 12, rec);
}

void readS5(const std::string& block, ObservationRecord& rec) {
  readBinnedLayout(block, rec);
  readSettingsBlock(block, 12, rec);
}

// Gain (e-/ADU) of the Andor readout time, compared as text.
std::optional<float> gainForReadTime(const std::string& word) {
  static const struct {
    const char* readTime;
    float gain;
  } kTable[] = {{"1.600000E-05", 0.5f},
                {"3.200000E-05", 1.005f},
                {"1.000000E-06", 0.361f},
                {"2.000000E-06", 0.356f}};
  for (const auto& row : kTable)
    if (word == row.readTime) return row.gain;
  return std::nullopt;
}

// Returns true when the readout time is not in the table.
bool readAndor(const std::string& block, AndorRule rule, ObservationRecord& rec) {
  const std::string card25 = cardOf(block, 25), card29 = cardOf(block, 29);
  if (rule != AndorRule::Full) {
    // The editors keep the cards and read no values, but their summary line
    // shows the same mid-exposure time as the converter's.
    keepCards(block, 6, rule == AndorRule::KeepTo36 ? 36 : 30, rec);
    rec.exposureSeconds = realWord(card25, 2);
    readStart(card29, kLayoutC, rec);
    shiftUtToJst(rec);
    return false;
  }
  keepCards(block, 6, 16, rec);
  rec.binning1 = intWord(cardOf(block, 17), 3);
  rec.binning2 = intWord(cardOf(block, 18), 3);
  rec.exposureSeconds = realWord(card25, 2);
  rec.ccdTemperature = static_cast<float>(realWord(cardOf(block, 26), 3));
  rec.adcSpeed = wordOf(cardOf(block, 27), 2);
  rec.gain = gainForReadTime(rec.adcSpeed);
  readStart(card29, kLayoutC, rec);
  shiftUtToJst(rec);
  return !rec.gain.has_value();
}

// The camera set-ups, told apart by the image size that the last four
// columns of the NAXIS1 and NAXIS2 values give, tested in this order.
struct CameraSetup {
  int size1, size2;
  CameraMode mode;
  const char* detectorName;
};
const CameraSetup kCameraSetups[] = {
    {1000, 1018, CameraMode::T5, "T5 RUVUZOR (TC215)"},
    {512, 512, CameraMode::S5, "S5 RUVUZOR (SITe)"},
    {2048, 512, CameraMode::Andor, "Andor DV440"},
};

const CameraSetup* setupOfSize(int size1, int size2) {
  for (const CameraSetup& setup : kCameraSetups)
    if (setup.size1 == size1 && setup.size2 == size2) return &setup;
  return nullptr;
}

}  // namespace

HeaderParse parseCameraHeader(const std::string& block, AndorRule rule,
                              ObservationRecord& rec) {
  HeaderParse result;
  rec.binning1 = rec.binning2 = 1;
  keepCards(block, 1, 5, rec);
  const CameraSetup* setup = setupOfSize(columnValue(rec.savedCards[4], 27, 30),
                                         columnValue(rec.savedCards[5], 27, 30));
  if (!setup) return result;
  rec.cameraMode = setup->mode;
  rec.detectorName = setup->detectorName;
  rec.pixelCount = setup->size1 * setup->size2;
  switch (setup->mode) {
    case CameraMode::T5:
      keepCards(block, 6, 7, rec);
      readT5(block, rec);
      break;
    case CameraMode::S5:
      keepCards(block, 6, 7, rec);
      readS5(block, rec);
      break;
    case CameraMode::Andor:
      result.readTimeUnknown = readAndor(block, rule, rec);
      break;
  }
  result.recognised = true;
  return result;
}

Outcome readCameraHeader(const std::string& block, AndorRule rule, ObservationRecord& rec) {
  if (block.size() < kBlockLength) return msg::headerTooShort();
  HeaderParse parse = parseCameraHeader(block, rule, rec);
  if (!parse.recognised) return msg::imageSizeStrange();
  // The editors edit Andor headers only: a T5 or S5 file has none to edit.
  if (rule != AndorRule::Full && rec.cameraMode != CameraMode::Andor)
    return msg::notAndorFile(rec.cameraMode);
  return msg::cameraRecognised(rec.cameraMode, parse.readTimeUnknown);
}

long long largestImagePixels() {
  long long largest = 0;
  for (const CameraSetup& setup : kCameraSetups)
    largest = std::max(largest, static_cast<long long>(setup.size1) * setup.size2);
  return largest;
}
