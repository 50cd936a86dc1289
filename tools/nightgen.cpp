// Generator of camera FITS files and sample observing nights.
#include "nightgen.h"

#include "drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace nightgen {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string format(const char* fmt, ...) {
  char buffer[256];
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
    throw std::invalid_argument("nightgen: formatted text too long");
  }
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string padRight(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string padLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string keywordField(const std::string& keyword) {
  if (keyword.size() > 8) {
    throw std::invalid_argument("nightgen: keyword longer than 8: " + keyword);
  }
  return padRight(keyword, 8);
}

// A comment card in the camera's style: keyword COMMENT, text from column 10.
std::string commentCard(const std::string& text) {
  return card("COMMENT  " + text);
}

std::string exponential(double value) { return format("%.6E", value); }

void checkField(int value, int low, int high, const char* what) {
  if (value < low || value > high) {
    throw std::invalid_argument(std::string("nightgen: ") + what +
                                " does not fit its columns");
  }
}

void checkStart(const CameraSpec& camera) {
  checkField(camera.year, 0, 9999, "year");
  checkField(camera.month, 0, 99, "month");
  checkField(camera.day, 0, 99, "day");
  checkField(camera.hour, 0, 99, "hour");
  checkField(camera.minute, 0, 99, "minute");
  checkField(camera.second, 0, 99, "second");
}

int axis1(const CameraSpec& camera) {
  return camera.naxis1 != 0 ? camera.naxis1 : naxis1Of(camera.kind);
}
int axis2(const CameraSpec& camera) {
  return camera.naxis2 != 0 ? camera.naxis2 : naxis2Of(camera.kind);
}

// Cards 1 to 5, common to all set-ups.
void structuralCards(const CameraSpec& camera, std::vector<std::string>& cards) {
  cards.push_back(keyCard("SIMPLE", "T", "file does conform to FITS standard"));
  cards.push_back(keyCard("BITPIX", camera.kind == Kind::Andor32 ? "32" : "16",
                          "number of bits per data pixel"));
  cards.push_back(keyCard("NAXIS", "2", "number of data axes"));
  cards.push_back(keyCard("NAXIS1", std::to_string(axis1(camera)),
                          "length of data axis 1"));
  cards.push_back(keyCard("NAXIS2", std::to_string(axis2(camera)),
                          "length of data axis 2"));
}

// The T5 and S5 controller writes the start as a quoted text with leading
// blanks: two of them before the day without binning cards, one with.
std::string dateObsCard(const CameraSpec& camera, int leadingBlanks) {
  return card(format("DATE-OBS= '%s%02d/%02d/%04d %02d:%02d:%02d' / START TIME (JST)",
                     std::string(static_cast<std::size_t>(leadingBlanks), ' ').c_str(),
                     camera.day, camera.month, camera.year, camera.hour, camera.minute,
                     camera.second));
}

// The controller writes its 8-character binning keywords with a blank
// before the equals sign ("BIN-FCT1 =" in columns 1 to 10), so the value is
// the third word of the card; the value still ends in column 30.
std::string binningCard(int axis, int factor) {
  return card(format("BIN-FCT%d =%20d / BINNING FACTOR AXIS %d", axis, factor, axis));
}

void settingsBlock(const CameraSpec& camera, std::vector<std::string>& cards) {
  cards.push_back(commentCard(format("PRE AMP GAIN SETTING : %d", camera.preGain)));
  cards.push_back(commentCard(format("POST AMP GAIN SETTING : %d", camera.postGain)));
  cards.push_back(commentCard(format("OFFSET LEVEL SETTING : %d", camera.offset)));
  cards.push_back(commentCard("INTEGRATION MODE : NORMAL"));
  cards.push_back(commentCard("A/D CONVERSION SPEED : " + camera.adcSpeed));
  cards.push_back(commentCard(format("CCD TEMPERATURE (deg C) : %.1f",
                                     camera.ccdTemperature)));
}

void ruvuzorCards(const CameraSpec& camera, std::vector<std::string>& cards) {
  cards.push_back(keyCard("BSCALE", "1.0", "REAL = TAPE*BSCALE + BZERO"));
  cards.push_back(keyCard("BZERO", "32768.0", "OFFSET OF DATA"));
  const std::string exposure =
      keyCard("EXPTIME", format("%.3f", camera.exposureSeconds),
              "EXPOSURE TIME (SEC)");
  if (camera.kind == Kind::T5) {
    cards.push_back(exposure);
    cards.push_back(dateObsCard(camera, 2));
    cards.push_back(stringCard("CAMERA", "T5", "CAMERA HEAD"));
    cards.push_back(commentCard("CCD CHIP : TC215"));
  } else {
    cards.push_back(binningCard(1, camera.binning1));
    cards.push_back(binningCard(2, camera.binning2));
    cards.push_back(exposure);
    cards.push_back(dateObsCard(camera, 1));
    if (camera.kind == Kind::T5BinnedShifted) {
      cards.push_back(commentCard(format("ON-CHIP BINNING %d x %d", camera.binning1,
                                         camera.binning2)));
      cards.push_back(commentCard("BINNING AREA : FULL CHIP"));
    }
  }
  settingsBlock(camera, cards);
}

void andorCards(const CameraSpec& camera, std::vector<std::string>& cards) {
  cards.push_back(keyCard("EXTEND", "T", "FITS dataset may contain extensions"));
  cards.push_back(stringCard("HEAD", "DV440", "Head model"));
  cards.push_back(stringCard("ACQMODE", "Single Scan", "Acquisition mode"));
  cards.push_back(keyCard("ACT", exponential(camera.exposureSeconds + 0.38556),
                          "Integration cycle time"));
  cards.push_back(keyCard("KCT", exponential(camera.exposureSeconds + 0.38556),
                          "Kinetic cycle time"));
  switch (camera.kind) {
    case Kind::Andor32:
      cards.push_back(keyCard("BZERO", "2147483648",
                              "offset data range to that of unsigned long"));
      cards.push_back(keyCard("BSCALE", "1", "default scaling factor"));
      break;
    case Kind::Andor16Raw:
      cards.push_back(keyCard("NUMACC", "1", "Number of integrations"));
      cards.push_back(keyCard("NUMKIN", "1", "Series length"));
      break;
    default:
      cards.push_back(keyCard("BZERO", "32768",
                              "offset data range to that of unsigned short"));
      cards.push_back(keyCard("BSCALE", "1", "default scaling factor"));
      break;
  }
  cards.push_back(stringCard("DATATYPE", "Counts", "Data type"));
  cards.push_back(keyCard("PREAMPGN", exponential(1.0), "Pre Amplifier Gain"));
  cards.push_back(keyCard("VSSPEED", exponential(1.6e-5), "Vertical Shift Speed"));
  cards.push_back(keyCard("HSSPEED", exponential(1.0e-6), "Horizontal Shift Speed"));
  cards.push_back(keyCard("HBIN", std::to_string(camera.binning1), "Horizontal binning"));
  cards.push_back(keyCard("VBIN", std::to_string(camera.binning2), "Vertical binning"));
  cards.push_back(keyCard("XSTART", "1", "Start pixel (X)"));
  cards.push_back(keyCard("XEND", "2048", "End pixel (X)"));
  cards.push_back(keyCard("YSTART", "1", "Start pixel (Y)"));
  cards.push_back(keyCard("YEND", "512", "End pixel (Y)"));
  cards.push_back(keyCard("CLOCKAMP", "0", "Output amplifier"));
  cards.push_back(keyCard("DTNWLGTH", exponential(0.0), "Detection wavelength"));
  cards.push_back(keyCard("EXPOSURE", exponential(camera.exposureSeconds),
                          "Total Exposure Time"));
  cards.push_back(keyCard("TEMP", exponential(camera.ccdTemperature), "Temperature"));
  cards.push_back(keyCard("READTIME", camera.readoutWord, "Pixel readout time"));
  cards.push_back(keyCard("OPERATN", "4", "Operation mode"));
  cards.push_back(card(format("DATE    = '%04d-%02d-%02dT%02d:%02d:%02d' / "
                              "File Creation Date (YYYY-MM-DDThh:mm:ss)",
                              camera.year, camera.month, camera.day, camera.hour,
                              camera.minute, camera.second)));
}

// ---------------------------------------------------------------------------
// Night planning

// Days since 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

constexpr long long kJstOffset = 9 * 3600;

// Sets the start fields from a UT instant (seconds since 1970), in the time
// zone the kind's camera writes.
void setStart(CameraSpec& camera, long long utSeconds) {
  const long long t = isAndor(camera.kind) ? utSeconds : utSeconds + kJstOffset;
  const long long days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  const long long rest = t - days * 86400;
  civilFromDays(days, camera.year, camera.month, camera.day);
  camera.hour = static_cast<int>(rest / 3600);
  camera.minute = static_cast<int>(rest / 60 % 60);
  camera.second = static_cast<int>(rest % 60);
}

std::string startText(const CameraSpec& camera) {
  return format("%04d-%02d-%02dT%02d:%02d:%02d %s", camera.year, camera.month,
                camera.day, camera.hour, camera.minute, camera.second,
                isAndor(camera.kind) ? "UT" : "JST");
}

struct Planned {
  std::string name;
  CameraSpec camera;
  std::string object;
  int dataType = 1;
  double hwpAngle = 0.0;
  int diaphragm = 1;
  double slitWidth = 0.2;
  int clump = 1;
  std::string filter = "R";
  std::string problem;  // NightFile::problem
};

// The sky of the sample nights: the seeing wanders by up to 15 % about the
// camera's (CameraSpec::seeingSigma) from frame to frame, and the target
// stands at the centre of every frame of the sky, well exposed.
constexpr double kSeeingWander = 0.15;    // fraction of the camera's seeing
constexpr double kTargetPeak = 8000.0;    // ADU
// The planted problems (NightOptions::problems).
constexpr double kTrailPixels = 12.0;     // elongation about 2.2
constexpr double kDefocus = 2.5;          // times the seeing
constexpr double kCloudSky = 5.0;         // times the sky
constexpr double kCloudStars = 0.25;      // times the stars' light
constexpr double kSaturatedPeak = 4.0 * 65535.0;
constexpr double kFaintFlatLevel = 300.0;
constexpr double kSaturatedFlatLevel = 80000.0;
constexpr double kBiasShift = 100.0;      // ADU, 25 read noises
// The opt-in sky (NightOptions::moffat and the options after it).
constexpr double kBetaLow = 2.5, kBetaHigh = 5.0;   // Moffat beta per frame
constexpr double kDefocusFirst = 2.2;     // times the seeing at the series' middle
constexpr double kDefocusLast = 3.6;      // ... and at its last frame
constexpr double kCloudyLossLow = 1.0 / 3.0, kCloudyLossHigh = 0.5;  // of the stars' light
constexpr int kSkyGradientIndex = 5;      // frame 6 of the Andor series
constexpr int kThinCloudIndex = 18;       // frame 19: M42 in R, as frame 1
constexpr unsigned kSkySeed = 0x5C1Eu;

void addProblem(std::string& problem, const char* name) {
  problem = problem.empty() ? name : problem + ", " + name;
}

// The seed of a target's star field: the same for every frame of it in
// a night, never 0.
unsigned fieldSeedOf(const std::string& object, unsigned nightSeed) {
  std::uint64_t h = drawing::mix(nightSeed);
  for (unsigned char c : object) h = drawing::mix(h ^ c);
  return static_cast<unsigned>(h % 0xFFFFFFFEu) + 1u;
}

// What a frame of the run-list data type shows: 2 DARK, 4 BIAS, 5 FLAT,
// every other type the sky.
Scene sceneOf(int dataType) {
  switch (dataType) {
    case 2: return Scene::Dark;
    case 4: return Scene::Bias;
    case 5: return Scene::Flat;
    default: return Scene::Sky;
  }
}

std::string entryLine(const Planned& p) {
  return format("%s %s %d %.1f %d %.2f %d %s", p.name.c_str(), p.object.c_str(),
                p.dataType, p.hwpAngle, p.diaphragm, p.slitWidth, p.clump,
                p.filter.c_str());
}

struct CatalogueLine {
  const char* name;
  double equinox;
  int raH, raM;
  double raS;
  char sign;
  int decD, decM, decS;
};

// Targets of the sample nights, south and north of the equator, one near
// it, one at another equinox, and the names used for calibration frames.
const CatalogueLine kCatalogue[] = {
    {"M42", 2000.0, 5, 35, 17.3, '-', 5, 23, 28},
    {"M1", 2000.0, 5, 34, 31.9, '+', 22, 0, 52},
    {"M31", 2000.0, 0, 42, 44.3, '+', 41, 16, 9},
    {"Sirius", 2000.0, 6, 45, 8.9, '-', 16, 42, 58},
    {"Betelgeuse", 2000.0, 5, 55, 10.3, '+', 7, 24, 25},
    {"SA98", 2000.0, 6, 52, 0.0, '-', 0, 20, 0},
    {"M44", 2000.0, 8, 40, 24.0, '+', 19, 40, 0},
    {"CygX-1", 1950.0, 19, 56, 28.9, '+', 35, 3, 55},
    {"BIAS", 2000.0, 0, 0, 0.0, '+', 0, 0, 0},
    {"DARK", 2000.0, 0, 0, 0.0, '+', 0, 0, 0},
    {"FLAT", 2000.0, 0, 0, 0.0, '+', 0, 0, 0},
};

const char* const kAndorTargets[] = {"M42", "Sirius", "M1", "SA98", "Betelgeuse",
                                     "M44"};
const char* const kReadouts[] = {"3.200000E-05", "1.600000E-05", "1.000000E-06",
                                 "2.000000E-06"};
const char* const kFilters[] = {"R", "V", "B", "I"};
const double kAngles[] = {0.0, 22.5, 45.0, 67.5};
const double kSlits[] = {0.20, 0.10, 0.04};
const double kExposures[] = {10.0, 30.0, 60.0, 20.0, 120.0};

class NightWriter {
 public:
  NightWriter(const std::string& folder, const NightOptions& options,
              std::vector<NightFile>& written)
      : folder_(folder), options_(options), written_(written) {
    std::filesystem::create_directories(folder_);
    // The evening's 00:00 JST as a UT instant.
    eveningUt_ = daysFromCivil(options.year, static_cast<unsigned>(options.month),
                               static_cast<unsigned>(options.day)) * 86400 -
                 kJstOffset;
    const int n = std::max(0, options.count);
    defocusFromUt_ = seriesStartUt() + n / 2 * seriesStep(n);
    defocusToUt_ = seriesStartUt() + std::max(0, n - 1) * seriesStep(n);
  }

  // Seconds of JST clock time after the evening's 00:00 (may pass 24 h).
  long long utAtJst(int hour, int minute, int second) const {
    return eveningUt_ + hour * 3600LL + minute * 60LL + second;
  }

  void add(Planned p, long long utStart) {
    setStart(p.camera, utStart);
    if (p.camera.scene == Scene::Pattern) p.camera.scene = sceneOf(p.dataType);
    const unsigned seed = options_.seed * 1000u + ++fileCount_;
    if (p.camera.scene == Scene::Sky || p.camera.scene == Scene::Dark) {
      p.camera.cosmicTracks = options_.cosmicTracks;
    }
    if (p.camera.scene == Scene::Sky) {
      p.camera.seeingSigma *= 1.0 + kSeeingWander * std::sin(0.9 * fileCount_ + options_.seed);
      if (p.camera.targetPeak == 0.0) p.camera.targetPeak = kTargetPeak;
      applyNightSky(p, utStart, seed);
    }
    const std::string path = folder_ + "/" + p.name;
    writeCameraFile(path, p.camera, -1, seed);
    NightFile file{path,
                   format("%-16s %-10s %s", kindName(p.camera.kind), p.object.c_str(),
                          startText(p.camera).c_str()),
                   fullFileSize(p.camera), p.camera, seed, p.problem};
    if (p.camera.scene == Scene::Sky) {
      file.fwhmPixels = starFwhm(p.camera);
      file.beta = p.camera.moffatBeta;
      file.transparency = p.camera.starFactor;
    }
    written_.push_back(file);
    entries_.push_back(entryLine(p));
  }

  // The night-wide opt-in sky of a sky frame: Moffat stars, the target's
  // field, a cloudy night, a night defocused from the series' middle.
  void applyNightSky(Planned& p, long long utStart, unsigned seed) const {
    const std::uint64_t h = drawing::hashOf(seed ^ kSkySeed, 0);
    if (options_.moffat) {
      p.camera.moffatBeta = kBetaLow + (kBetaHigh - kBetaLow) * drawing::uniform(h);
    }
    if (fields()) p.camera.fieldSeed = fieldSeedOf(p.object, options_.seed);
    if (options_.cloudyNight) {
      const double loss = kCloudyLossLow + (kCloudyLossHigh - kCloudyLossLow) *
                                               drawing::uniform(drawing::mix(h));
      p.camera.starFactor *= 1.0 - loss;
      addProblem(p.problem, kCloudyNight);
    }
    if (options_.defocusedNight && utStart >= defocusFromUt_) {
      const double span = static_cast<double>(std::max(1LL, defocusToUt_ - defocusFromUt_));
      const double progress = std::min(1.0, static_cast<double>(utStart - defocusFromUt_) / span);
      p.camera.seeingSigma *= kDefocusFirst + (kDefocusLast - kDefocusFirst) * progress;
      addProblem(p.problem, kDefocusedNight);
    }
  }

  bool fields() const { return options_.fields || options_.thinCloud || options_.cloudyNight; }

  // Three biases, the last shifted, a faint and a saturated flat, from
  // 22:00 JST, before the Andor series.
  void addProblemCalibrations(Kind kind, const std::string& prefix) {
    for (int i = 0; i < 5; ++i) {
      Planned p;
      p.name = format("%s%04d.fts", prefix.c_str(), 9101 + i);
      p.camera.kind = kind;
      p.camera.ccdTemperature = -60.0;
      const bool bias = i < 3;
      p.camera.exposureSeconds = bias ? 0.0 : 5.0;
      p.object = bias ? "BIAS" : "FLAT";
      p.dataType = bias ? 4 : 5;
      p.filter = bias ? "0" : "R";
      if (i == 2) p.camera.levelShift = kBiasShift, p.problem = kShiftedBias;
      if (i == 3) p.camera.flatLevel = kFaintFlatLevel, p.problem = kFaintFlat;
      if (i == 4) p.camera.flatLevel = kSaturatedFlatLevel, p.problem = kSaturatedFlat;
      add(p, utAtJst(22, 0, 0) + i * 120);
    }
  }

  // Frames 2 to 5 of a series of five or more: trailed, out of focus,
  // cloudy, the target saturated.
  static void plantProblem(int i, Planned& p) {
    switch (i) {
      case 1: p.camera.trailPixels = kTrailPixels, p.problem = kTrailed; break;
      case 2: p.camera.seeingSigma *= kDefocus, p.problem = kOutOfFocus; break;
      case 3:
        p.camera.skyFactor = kCloudSky, p.camera.starFactor = kCloudStars, p.problem = kCloudy;
        break;
      case 4: p.camera.targetPeak = kSaturatedPeak, p.problem = kSaturatedTarget; break;
      default: break;
    }
  }

  // Frame i of a series of n: thin cloud, a sky gradient, and with the
  // target's field the target's exposure.
  void planSeriesSky(int i, Planned& p) const {
    if (fields()) p.camera.exposureSeconds = kExposures[(i % 6) % 5];
    if (options_.skyGradient && i == kSkyGradientIndex) {
      p.camera.skyGradient = kSkyGradientFrame;
      addProblem(p.problem, kSkyGradient);
    }
    if (options_.thinCloud && i == kThinCloudIndex) {
      p.camera.starFactor *= kThinCloudTransparency;
      addProblem(p.problem, kThinCloud);
    }
  }

  // The first Andor frame's start (23:00 JST) and the seconds between
  // frames, so that a long series runs past local midnight.
  long long seriesStartUt() const { return utAtJst(23, 0, 0); }
  static long long seriesStep(int n) { return n > 0 ? std::min(1200LL, 8LL * 3600 / n) : 0; }

  // An Andor series every seriesStep seconds from seriesStartUt.
  void addAndorSeries(Kind kind, const std::string& prefix) {
    const int n = std::max(0, options_.count);
    const long long step = seriesStep(n);
    const bool problems = options_.problems && n >= 5;
    if (problems) addProblemCalibrations(kind, prefix);
    for (int i = 0; i < n; ++i) {
      Planned p;
      p.name = format("%s%04d.fts", prefix.c_str(), i + 1);
      p.camera.kind = kind;
      p.camera.exposureSeconds = kExposures[i % 5];
      p.camera.readoutWord = kReadouts[i % 4];
      p.camera.ccdTemperature = -60.0 + 0.1 * (i % 3);
      p.object = kAndorTargets[i % 6];
      p.hwpAngle = kAngles[i % 4];
      p.diaphragm = 1 + i % 9;
      p.slitWidth = kSlits[i % 3];
      p.clump = 1 + (i / 4) % 2;
      p.filter = kFilters[(i / 4) % 4];
      if (problems) plantProblem(i, p);
      planSeriesSky(i, p);
      add(p, seriesStartUt() + i * step);
    }
  }

  void addFaults(bool converter) {
    // The last entry again: ignored once it has been converted.
    if (!entries_.empty()) entries_.push_back(entries_.back());
    entries_.push_back("t5_0099.fts M42 1 0.0 1 0.20 1 R");
    entries_.push_back("s5_0001.fts NGC9999 1 0.0 1 0.20 1 R");
    entries_.push_back("s5_0001.fts FLAT 7 0.0 9 0.00 1 1");
    Planned swapped;
    swapped.name = "odd_0001.fts";
    swapped.camera.kind = Kind::T5;
    swapped.camera.naxis1 = 1018;
    swapped.camera.naxis2 = 1000;
    swapped.object = "M42";
    add(swapped, utAtJst(21, 30, 0));
    if (converter) {
      Planned unknown;
      unknown.name = "an9001.fts";
      unknown.camera.kind = Kind::Andor16;
      unknown.camera.readoutWord = "3.2E-05";
      unknown.camera.ccdTemperature = -60.0;
      unknown.object = "M42";
      add(unknown, utAtJst(21, 45, 0));
    }
  }

  void finish() {
    std::string catalogue;
    for (const CatalogueLine& c : kCatalogue) {
      catalogue += format("%-11s %6.1f %02d %02d %04.1f %c%02d %02d %02d\n", c.name,
                          c.equinox, c.raH, c.raM, c.raS, c.sign, c.decD, c.decM,
                          c.decS);
    }
    writeText("object.lst", catalogue, "object catalogue");

    std::string list;
    if (options_.directives) {
      list += "# WEATHER " + options_.weather + "\n";
      list += "# SEEING " + options_.seeing + "\n";
      list += "# OBSERVER " + options_.observer + "\n";
    }
    for (const std::string& line : entries_) list += line + "\n";
    writeText("tarnlist.dat", list,
              format("run list, %zu entries", entries_.size()));
  }

 private:
  void writeText(const std::string& name, const std::string& text,
                 const std::string& description) {
    const std::string path = folder_ + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("nightgen: cannot write " + path);
    written_.push_back({path, description, static_cast<long long>(text.size()), std::nullopt, 0, ""});
  }

  std::string folder_;
  const NightOptions& options_;
  std::vector<NightFile>& written_;
  std::vector<std::string> entries_;
  long long eveningUt_ = 0;
  // NightOptions::defocusedNight: from the start of the Andor series'
  // middle frame to that of its last.
  long long defocusFromUt_ = 0, defocusToUt_ = 0;
  unsigned fileCount_ = 0;
};

// One T5 file with binning cards and one S5 file, as the editors' nights
// carry besides their Andor files.
void addEditorRuvuzor(NightWriter& night) {
  Planned t5;
  t5.name = "t5_0001.fts";
  t5.camera.kind = Kind::T5Binned;
  t5.camera.binning1 = t5.camera.binning2 = 2;
  t5.camera.exposureSeconds = 60.0;
  t5.object = "M42";
  night.add(t5, night.utAtJst(19, 5, 30));

  Planned s5;
  s5.name = "s5_0001.fts";
  s5.camera.kind = Kind::S5;
  s5.camera.exposureSeconds = 5.0;
  s5.object = "FLAT";
  s5.dataType = 5;
  s5.diaphragm = 9;
  s5.slitWidth = 0.0;
  s5.filter = "1";
  night.add(s5, night.utAtJst(18, 20, 5));
}

void converterNight(const std::string& folder, const NightOptions& options,
                    std::vector<NightFile>& written) {
  NightWriter night(folder, options, written);

  Planned flat;  // evening twilight flat
  flat.name = "s5_0001.fts";
  flat.camera.kind = Kind::S5;
  flat.camera.exposureSeconds = 5.0;
  flat.camera.adcSpeed = "FAST";
  flat.object = "FLAT";
  flat.dataType = 5;
  flat.diaphragm = 9;
  flat.slitWidth = 0.0;
  flat.filter = "1";
  night.add(flat, night.utAtJst(18, 20, 5));

  Planned bias;
  bias.name = "t5_0001.fts";
  bias.camera.kind = Kind::T5;
  bias.camera.exposureSeconds = 0.0;
  bias.object = "BIAS";
  bias.dataType = 4;
  bias.filter = "0";
  night.add(bias, night.utAtJst(18, 35, 12));

  Planned binned;
  binned.name = "t5_0002.fts";
  binned.camera.kind = Kind::T5Binned;
  binned.camera.binning1 = binned.camera.binning2 = 2;
  binned.camera.exposureSeconds = 60.0;
  binned.camera.ccdTemperature = -110.0;
  binned.object = "M42";
  binned.diaphragm = 2;
  night.add(binned, night.utAtJst(19, 5, 30));

  Planned shifted;
  shifted.name = "t5_0003.fts";
  shifted.camera.kind = Kind::T5BinnedShifted;
  shifted.camera.binning1 = 2;
  shifted.camera.binning2 = 4;
  shifted.camera.exposureSeconds = 120.0;
  shifted.camera.preGain = 3;
  shifted.camera.postGain = 2;
  shifted.camera.offset = 150;
  shifted.object = "M1";
  shifted.diaphragm = 3;
  shifted.hwpAngle = 45.0;
  shifted.clump = 2;
  shifted.filter = "V";
  night.add(shifted, night.utAtJst(19, 40, 2));

  Planned m31;
  m31.name = "s5_0002.fts";
  m31.camera.kind = Kind::S5;
  m31.camera.binning1 = m31.camera.binning2 = 2;
  m31.camera.exposureSeconds = 300.0;
  m31.camera.ccdTemperature = -95.5;
  m31.object = "M31";
  m31.clump = 2;
  m31.filter = "B";
  night.add(m31, night.utAtJst(20, 10, 44));

  night.addAndorSeries(Kind::Andor16, "an");

  Planned late;  // after local midnight: the camera writes the next date
  late.name = "t5_0004.fts";
  late.camera.kind = Kind::T5;
  late.camera.exposureSeconds = 30.5;
  late.object = "SA98";
  late.filter = "0";
  late.diaphragm = 8;
  late.slitWidth = 0.04;
  night.add(late, night.utAtJst(24, 40, 10));

  Planned dark;  // at the end of the night, as long as the longest exposure
  dark.name = "t5_0005.fts";
  dark.camera.kind = Kind::T5;
  dark.camera.exposureSeconds = 300.0;
  dark.object = "DARK";
  dark.dataType = 2;
  dark.filter = "0";
  night.add(dark, night.utAtJst(29, 15, 0));

  if (options.faults) night.addFaults(true);
  night.finish();
}

void editorNight(const std::string& folder, const NightOptions& options,
                 Kind andorKind, const std::string& prefix,
                 std::vector<NightFile>& written) {
  NightWriter night(folder, options, written);
  addEditorRuvuzor(night);
  night.addAndorSeries(andorKind, prefix);
  if (options.faults) night.addFaults(false);
  night.finish();
}

}  // namespace

// ---------------------------------------------------------------------------

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::T5: return "t5";
    case Kind::T5Binned: return "t5binned";
    case Kind::T5BinnedShifted: return "t5shifted";
    case Kind::S5: return "s5";
    case Kind::Andor16: return "andor16";
    case Kind::Andor16Raw: return "andor16raw";
    case Kind::Andor32: return "andor32";
  }
  return "?";
}

std::optional<Kind> kindFromName(const std::string& name) {
  for (Kind k : {Kind::T5, Kind::T5Binned, Kind::T5BinnedShifted, Kind::S5,
                 Kind::Andor16, Kind::Andor16Raw, Kind::Andor32}) {
    if (name == kindName(k)) return k;
  }
  return std::nullopt;
}

bool isAndor(Kind kind) {
  return kind == Kind::Andor16 || kind == Kind::Andor16Raw || kind == Kind::Andor32;
}

int naxis1Of(Kind kind) {
  if (isAndor(kind)) return 2048;
  return kind == Kind::S5 ? 512 : 1000;
}

int naxis2Of(Kind kind) {
  if (isAndor(kind)) return 512;
  return kind == Kind::S5 ? 512 : 1018;
}

long long pixelCountOf(Kind kind) {
  return static_cast<long long>(naxis1Of(kind)) * naxis2Of(kind);
}

int bytesPerSample(Kind kind) { return kind == Kind::Andor32 ? 4 : 2; }

std::string card(const std::string& text) {
  if (text.size() > static_cast<std::size_t>(kCard)) {
    throw std::invalid_argument("nightgen: card longer than 80: " + text);
  }
  return padRight(text, kCard);
}

std::string keyCard(const std::string& keyword, const std::string& value,
                    const std::string& comment) {
  std::string text = keywordField(keyword) + "= " + padLeft(value, 20);
  if (!comment.empty()) text += " / " + comment;
  return card(text);
}

std::string stringCard(const std::string& keyword, const std::string& text,
                       const std::string& comment) {
  std::string line =
      keywordField(keyword) + "= " + padRight("'" + padRight(text, 8) + "'", 20);
  if (!comment.empty()) line += " / " + comment;
  return card(line);
}

std::vector<std::string> headerCards(const CameraSpec& camera) {
  checkStart(camera);
  std::vector<std::string> cards;
  cards.reserve(kCards);
  structuralCards(camera, cards);
  if (isAndor(camera.kind)) {
    andorCards(camera, cards);
  } else {
    ruvuzorCards(camera, cards);
  }
  cards.push_back(card("END"));
  while (cards.size() < static_cast<std::size_t>(kCards)) cards.push_back(card(""));
  return cards;
}

CameraSpec cameraStartingAt(Kind kind, int year, int month, int day, int hour,
                            int minute, int second, double exposureSeconds) {
  CameraSpec camera;
  camera.kind = kind;
  camera.year = year;
  camera.month = month;
  camera.day = day;
  camera.hour = hour;
  camera.minute = minute;
  camera.second = second;
  camera.exposureSeconds = exposureSeconds;
  return camera;
}

std::string headerBlock(const CameraSpec& camera) {
  std::string block;
  block.reserve(kBlock);
  for (const std::string& c : headerCards(camera)) block += c;
  return block;
}

long long fullFileSize(const CameraSpec& camera) {
  long long data = pixelCountOf(camera.kind) * bytesPerSample(camera.kind);
  if (camera.padData && data % kBlock != 0) data += kBlock - data % kBlock;
  return kBlock + data;
}

std::uint16_t physicalValue(unsigned seed, long long index) {
  const std::uint64_t h = drawing::hashOf(seed, index);
  const unsigned pick = static_cast<unsigned>(h >> 52);  // 0..4095
  if (pick == 0) return 65535;                           // saturated
  if (pick < 5) return static_cast<std::uint16_t>(h);    // anything at all
  // Bias level with a gentle gradient along the rows, plus read noise.
  const unsigned bias = 600 + static_cast<unsigned>((index / 512) % 200);
  return static_cast<std::uint16_t>(bias + ((h >> 8) & 0x7F));
}

std::string sampleData(const CameraSpec& camera, unsigned seed, long long offset,
                       long long count) {
  std::string out;
  if (count <= 0) return out;
  out.reserve(static_cast<std::size_t>(count));
  const int width = bytesPerSample(camera.kind);
  const long long samplesEnd = pixelCountOf(camera.kind) * width;
  const long long end = camera.padData ? std::min(offset + count, samplesEnd) : offset + count;
  const long long firstIndex = offset / width;
  const std::vector<std::uint16_t> values =
      end > offset ? physicalValues(camera, seed, firstIndex, (end - 1) / width - firstIndex + 1)
                   : std::vector<std::uint16_t>();
  unsigned char bytes[4] = {0, 0, 0, 0};
  long long cached = -1;
  for (long long pos = offset; pos < offset + count; ++pos) {
    if (pos >= end) {
      out.push_back('\0');
      continue;
    }
    const long long index = pos / width;
    if (index != cached) {
      cached = index;
      const std::uint16_t v = values[static_cast<std::size_t>(index - firstIndex)];
      const unsigned hi = v >> 8, lo = v & 0xFFu;
      switch (camera.kind) {
        case Kind::Andor32: {
          bytes[0] = 128;
          bytes[1] = 0;
          const std::uint64_t h = drawing::hashOf(seed ^ 0x5A5Au, index);
          if (camera.dirtyByte2 && h % 97 == 0) {
            bytes[1] = static_cast<unsigned char>(1 + (h >> 32) % 255);
          }
          bytes[2] = static_cast<unsigned char>(hi);
          bytes[3] = static_cast<unsigned char>(lo);
          break;
        }
        case Kind::Andor16Raw:
          bytes[0] = static_cast<unsigned char>(hi);
          bytes[1] = static_cast<unsigned char>(lo);
          break;
        default:  // stored as value - 32768: the top bit inverted
          bytes[0] = static_cast<unsigned char>(hi ^ 0x80u);
          bytes[1] = static_cast<unsigned char>(lo);
          break;
      }
    }
    out.push_back(static_cast<char>(bytes[pos % width]));
  }
  return out;
}

void writeCameraFile(const std::string& path, const CameraSpec& camera,
                     long long fileBytes, unsigned seed) {
  const std::string header = headerBlock(camera);
  const long long total = fileBytes < 0 ? fullFileSize(camera) : fileBytes;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("nightgen: cannot create " + path);
  out.write(header.data(), static_cast<std::streamsize>(std::min<long long>(total, kBlock)));
  constexpr long long kChunk = 1 << 16;
  for (long long done = 0; kBlock + done < total;) {
    const long long n = std::min(kChunk, total - kBlock - done);
    const std::string chunk = sampleData(camera, seed, done, n);
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    done += n;
  }
  out.close();
  if (!out) throw std::runtime_error("nightgen: cannot write " + path);
}

std::vector<NightFile> writeSampleNight(const std::string& dir,
                                        const NightOptions& options) {
  std::vector<NightFile> written;
  std::filesystem::create_directories(dir);
  if (options.converter) {
    converterNight(dir + "/" + kConverterFolder, options, written);
  }
  if (options.editor32) {
    editorNight(dir + "/" + kEditor32Folder, options, Kind::Andor32, "a32_", written);
  }
  if (options.editor16) {
    editorNight(dir + "/" + kEditor16Folder, options, Kind::Andor16Raw, "a16_",
                written);
  }
  return written;
}

}  // namespace nightgen
