// The outputs of tarnfits, tarnfits4 and tarnfits4s read back by readers
// that are not ours: CFITSIO opens each one, parses every keyword, finds the
// camera's image size and gives pixel values equal to those it reads from
// the camera file; fitsverify finds nothing in them but what the fixed cards
// of the header layouts cause by design.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "nightgen.h"

namespace {

using nightgen::CameraSpec;
using nightgen::Kind;

const char kFitsverify[] = "/usr/bin/fitsverify";
const char kDirectives[] = "# WEATHER CLEAR\n# SEEING 1.5\n# OBSERVER Yamada\n";

// HAND stands on the meridian 60 deg from the zenith at 2000-01-01 12:00:00
// UT, the mid exposure of every file here (tarnfits_e2e_test.cpp works the
// values out): JD 2451545.0 and airmass 1.9945.
const char kCatalogue[] = "HAND        2000.0013689253935 03 46 18.93 -24 00 00\n";

enum class Program { Tarnfits, Tarnfits4, Tarnfits4s };
constexpr int kPrograms = 3;

struct OutputCase {
  const char* name;  // input file name; the output ends in "fit"
  Program program;
  Kind kind;
  unsigned seed;
  int keywords;  // keywords before END, as CFITSIO counts them
};

// One output of every kind the programs write with a header (the editors'
// T5 and S5 outputs have none and are not FITS files).
const OutputCase kOutputs[] = {
    {"t5_0001.fts", Program::Tarnfits, Kind::T5, 21, 71},
    {"t5_0002.fts", Program::Tarnfits, Kind::T5Binned, 22, 71},
    {"t5_0003.fts", Program::Tarnfits, Kind::T5BinnedShifted, 23, 71},
    {"s5_0001.fts", Program::Tarnfits, Kind::S5, 24, 71},
    {"an0001.fts", Program::Tarnfits, Kind::Andor16, 25, 71},
    // The camera's END is its card 30; tarnfits4 keeps it there ...
    {"a32_0001.fts", Program::Tarnfits4, Kind::Andor32, 26, 29},
    // ... and tarnfits4s moves it two places down.
    {"a16_0001.fts", Program::Tarnfits4s, Kind::Andor16Raw, 27, 31},
};

const char* folderOf(Program p) {
  switch (p) {
    case Program::Tarnfits: return nightgen::kConverterFolder;
    case Program::Tarnfits4: return nightgen::kEditor32Folder;
    case Program::Tarnfits4s: return nightgen::kEditor16Folder;
  }
  return "";
}

const char* exeOf(Program p) {
  switch (p) {
    case Program::Tarnfits: return TARNFITS_EXE;
    case Program::Tarnfits4: return TARNFITS4_EXE;
    case Program::Tarnfits4s: return TARNFITS4S_EXE;
  }
  return "";
}

// Mid exposure 2000-01-01 12:00:00 UT: the T5 and S5 cameras write JST, the
// Andor writes UT. The camera fills its data to a whole block, as FITS
// writers do, so that CFITSIO reads the camera files too; the programs do
// not copy that fill.
CameraSpec cameraFor(const OutputCase& c) {
  CameraSpec s;
  s.kind = c.kind;
  s.year = 2000;
  s.month = 1;
  s.day = 1;
  s.hour = nightgen::isAndor(c.kind) ? 12 : 21;
  s.minute = s.second = 0;
  s.exposureSeconds = 0.0;
  s.binning1 = s.binning2 = c.kind == Kind::T5 ? 1 : 2;
  if (nightgen::isAndor(c.kind)) {
    s.ccdTemperature = -60.0;
    s.readoutWord = "1.600000E-05";
  }
  s.padData = true;
  return s;
}

std::string outputNameOf(const std::string& input) {
  return input.substr(0, input.size() - 3) + "fit";
}

std::string trimRight(std::string text) {
  const std::size_t end = text.find_last_not_of(" \n\r\t");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::string fitsError(int status) {
  char text[FLEN_STATUS] = "";
  fits_get_errstatus(status, text);
  return "CFITSIO status " + std::to_string(status) + " (" + text + ")";
}

// An open FITS file, closed at the end of the scope.
class FitsFile {
 public:
  explicit FitsFile(const std::string& path) {
    fits_open_file(&file_, path.c_str(), READONLY, &openStatus_);
  }
  ~FitsFile() {
    int ignored = 0;
    if (file_ != nullptr) fits_close_file(file_, &ignored);
  }
  FitsFile(const FitsFile&) = delete;
  FitsFile& operator=(const FitsFile&) = delete;

  fitsfile* get() const { return file_; }
  int openStatus() const { return openStatus_; }

 private:
  fitsfile* file_ = nullptr;
  int openStatus_ = 0;
};

struct Image {
  int status = 0;
  int bitpix = 0;
  int naxis = 0;
  long naxes[2] = {0, 0};
  std::vector<int> values;  // physical values: CFITSIO applies BZERO
};

// Reads the primary image as ints, without CFITSIO's test for undefined
// pixels (null value 0). The BLANK = 0.00 card of the tarnfits layout would
// not take part in it anyway: CFITSIO takes BLANK only as an integer.
Image readImage(const std::string& path) {
  Image image;
  FitsFile file(path);
  image.status = file.openStatus();
  if (image.status != 0) return image;
  fits_get_img_param(file.get(), 2, &image.bitpix, &image.naxis, image.naxes,
                     &image.status);
  if (image.status != 0 || image.naxis != 2) return image;
  const long count = image.naxes[0] * image.naxes[1];
  image.values.assign(static_cast<std::size_t>(count), 0);
  int nullValue = 0, anyNull = 0;
  fits_read_img(file.get(), TINT, 1, count, &nullValue, image.values.data(), &anyNull,
                &image.status);
  return image;
}

// Every program converted its folder once; the tests read the results.
class ReadBack : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new e2e::ScopedTempDir();
    std::string lists[kPrograms];
    for (const OutputCase& c : kOutputs) {
      std::filesystem::create_directories(folder(c.program));
      nightgen::writeCameraFile(inputPath(c), cameraFor(c), -1, c.seed);
      lists[static_cast<int>(c.program)] +=
          std::string(c.name) + " HAND 1 0.0 1 0.20 1 R\n";
    }
    for (Program p : {Program::Tarnfits, Program::Tarnfits4, Program::Tarnfits4s}) {
      e2e::writeFile(folder(p) + "/object.lst", kCatalogue);
      e2e::writeFile(folder(p) + "/tarnlist.dat",
                     kDirectives + lists[static_cast<int>(p)]);
      runs_[static_cast<int>(p)] = e2e::runProgram(exeOf(p), folder(p), "", {}, 60);
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static std::string folder(Program p) { return dir_->file(folderOf(p)); }
  static std::string inputPath(const OutputCase& c) {
    return folder(c.program) + "/" + c.name;
  }
  static std::string outputPath(const OutputCase& c) {
    return folder(c.program) + "/" + outputNameOf(c.name);
  }

  static e2e::ScopedTempDir* dir_;
  static e2e::RunResult runs_[kPrograms];
};

e2e::ScopedTempDir* ReadBack::dir_ = nullptr;
e2e::RunResult ReadBack::runs_[kPrograms];

TEST_F(ReadBack, EveryProgramFinishedItsNight) {
  for (const e2e::RunResult& run : runs_) {
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("---- FINISHED ----\n"), std::string::npos) << run.out;
  }
}

// CFITSIO opens the file and parses every keyword of its header: the record
// it returns is the card of the file, the name is columns 1 to 8, and every
// value has a FITS type.
TEST_F(ReadBack, EveryKeywordParses) {
  for (const OutputCase& c : kOutputs) {
    SCOPED_TRACE(outputNameOf(c.name));
    const std::string bytes = e2e::readFile(outputPath(c));
    FitsFile file(outputPath(c));
    ASSERT_EQ(file.openStatus(), 0) << fitsError(file.openStatus());
    int status = 0, existing = 0, more = 0;
    fits_get_hdrspace(file.get(), &existing, &more, &status);
    ASSERT_EQ(status, 0) << fitsError(status);
    EXPECT_EQ(existing, c.keywords);
    for (int k = 1; k <= existing; ++k) {
      SCOPED_TRACE("keyword " + std::to_string(k));
      char record[FLEN_CARD] = "";
      char name[FLEN_KEYWORD] = "", value[FLEN_VALUE] = "", comment[FLEN_COMMENT] = "";
      fits_read_record(file.get(), k, record, &status);
      fits_read_keyn(file.get(), k, name, value, comment, &status);
      ASSERT_EQ(status, 0) << fitsError(status);
      const std::string card = e2e::cardAt(bytes, k);
      EXPECT_EQ(std::string(record), trimRight(card));
      EXPECT_EQ(std::string(name), trimRight(e2e::columns(card, 1, 8)));
      if (value[0] != '\0') {
        char type = 0;
        fits_get_keytype(value, &type, &status);
        EXPECT_EQ(status, 0) << "value " << value << ": " << fitsError(status);
        status = 0;
      }
    }
    // CFITSIO does not count END: 71 keywords and END make the 72 cards of
    // the tarnfits header.
    EXPECT_EQ(e2e::cardAt(bytes, existing + 1),
              std::string("END") + std::string(77, ' '));
    EXPECT_EQ(bytes.size() % 2880, 0u) << "a FITS file is whole blocks";
  }
}

TEST_F(ReadBack, ImageSizeAndBitpixAreTheCameras) {
  for (const OutputCase& c : kOutputs) {
    SCOPED_TRACE(outputNameOf(c.name));
    FitsFile file(outputPath(c));
    ASSERT_EQ(file.openStatus(), 0) << fitsError(file.openStatus());
    int status = 0, bitpix = 0, naxis = 0;
    long naxes[3] = {0, 0, 0};
    fits_get_img_param(file.get(), 3, &bitpix, &naxis, naxes, &status);
    ASSERT_EQ(status, 0) << fitsError(status);
    EXPECT_EQ(bitpix, 16);
    EXPECT_EQ(naxis, 2);
    EXPECT_EQ(naxes[0], nightgen::naxis1Of(c.kind));
    EXPECT_EQ(naxes[1], nightgen::naxis2Of(c.kind));
  }
}

// The pixels CFITSIO reads from an output are those it reads from the
// camera file, each under the BZERO of its own header: tarnfits copies the
// camera's BZERO card with the samples; the editors declare BZERO 32768 for
// their 16-bit words, so that a camera value comes back modulo 65536 (the
// raw camera words of tarnfits4s, read as signed numbers, come back as
// their unsigned form). Both equal the value the generator put there.
TEST_F(ReadBack, PixelValuesEqualTheCameraFiles) {
  for (const OutputCase& c : kOutputs) {
    SCOPED_TRACE(outputNameOf(c.name));
    const Image out = readImage(outputPath(c));
    const Image in = readImage(inputPath(c));
    ASSERT_EQ(out.status, 0) << fitsError(out.status);
    ASSERT_EQ(in.status, 0) << fitsError(in.status);
    ASSERT_EQ(out.values.size(),
              static_cast<std::size_t>(nightgen::pixelCountOf(c.kind)));
    ASSERT_EQ(in.values.size(), out.values.size());
    long long differences = 0, firstDifference = -1;
    for (std::size_t i = 0; i < out.values.size(); ++i) {
      const int fromCamera = ((in.values[i] % 65536) + 65536) % 65536;
      const int generated = nightgen::physicalValue(c.seed, static_cast<long long>(i));
      if (out.values[i] != fromCamera || out.values[i] != generated) {
        if (differences++ == 0) firstDifference = static_cast<long long>(i);
      }
    }
    EXPECT_EQ(differences, 0) << "first at pixel " << firstDifference;
  }
}

// Values of the tarnfits header as CFITSIO types them.
TEST_F(ReadBack, ConverterValuesReadAsNumbersAndTexts) {
  const std::string before = e2e::todayLocalDate();
  for (const OutputCase& c : kOutputs) {
    if (c.program != Program::Tarnfits) continue;
    SCOPED_TRACE(outputNameOf(c.name));
    FitsFile file(outputPath(c));
    ASSERT_EQ(file.openStatus(), 0) << fitsError(file.openStatus());
    int status = 0;
    double jd = 0, airmass = 0, exposure = -1, equinox = 0;
    long bin1 = 0, bin2 = 0;
    char dateObs[FLEN_VALUE] = "", object[FLEN_VALUE] = "", date[FLEN_VALUE] = "";
    fits_read_key(file.get(), TDOUBLE, "JD", &jd, nullptr, &status);
    fits_read_key(file.get(), TDOUBLE, "AIRMASS", &airmass, nullptr, &status);
    fits_read_key(file.get(), TDOUBLE, "EXPTIME", &exposure, nullptr, &status);
    fits_read_key(file.get(), TDOUBLE, "EQUINOX", &equinox, nullptr, &status);
    fits_read_key(file.get(), TLONG, "BIN-FCT1", &bin1, nullptr, &status);
    fits_read_key(file.get(), TLONG, "BIN-FCT2", &bin2, nullptr, &status);
    fits_read_key(file.get(), TSTRING, "DATE-OBS", dateObs, nullptr, &status);
    fits_read_key(file.get(), TSTRING, "OBJECT", object, nullptr, &status);
    fits_read_key(file.get(), TSTRING, "DATE", date, nullptr, &status);
    ASSERT_EQ(status, 0) << fitsError(status);
    // The cards print these with 5 and 4 decimals: the text is the value.
    EXPECT_DOUBLE_EQ(jd, 2451545.0);
    EXPECT_DOUBLE_EQ(airmass, 1.9945);
    EXPECT_DOUBLE_EQ(exposure, 0.0);
    EXPECT_DOUBLE_EQ(equinox, 2000.0);
    const long binning = c.kind == Kind::T5 ? 1 : 2;
    EXPECT_EQ(bin1, binning);
    EXPECT_EQ(bin2, binning);
    EXPECT_STREQ(dateObs, "2000-01-01");
    EXPECT_STREQ(object, "HAND");
    EXPECT_TRUE(date == before || date == e2e::todayLocalDate()) << date;
    if (nightgen::isAndor(c.kind)) {
      double gain = 0;
      fits_read_key(file.get(), TDOUBLE, "GAIN", &gain, nullptr, &status);
      ASSERT_EQ(status, 0) << fitsError(status);
      EXPECT_DOUBLE_EQ(gain, 0.5);
    }
  }
}

// ---------------------------------------------------------------------------
// fitsverify

struct Finding {
  const char* line;    // as fitsverify prints it
  const char* reason;  // why the layout causes it
};

// Findings caused by the fixed cards of the tarnfits layouts.
const std::vector<Finding> kConverterFindings = {
    {"*** Warning: Keyword #6, BLOCKED is deprecated.",
     "card 6 of both layouts is the fixed BLOCKED = T card, a keyword the FITS "
     "standard has deprecated"},
    {"*** Error:   Keyword #10, BLANK: value = 0.00 is not an integer.",
     "card 10 of both layouts is the fixed BLANK card with the real value 0.00, "
     "where FITS asks for an integer in an integer image"},
};

// Finding caused by the card map of tarnfits4s.
const std::vector<Finding> kEditor16Findings = {
    {"*** Error:   The header fill area is not totally filled with blanks.",
     "output cards 33 to 36 repeat input card 30, which in the camera's 29-card "
     "header is END: copies of END follow the END card at 32"},
};

const std::vector<Finding>& acceptedFindings(Program p) {
  static const std::vector<Finding> kNone;
  switch (p) {
    case Program::Tarnfits: return kConverterFindings;
    case Program::Tarnfits4s: return kEditor16Findings;
    case Program::Tarnfits4: break;
  }
  return kNone;
}

struct Verification {
  std::vector<std::string> findings;  // "*** Error:" and "*** Warning:" lines
  int warnings = -1;                  // from the closing summary line
  int errors = -1;
};

Verification verify(const std::string& path) {
  const e2e::RunResult run = e2e::runProgram(kFitsverify, "/", "", {path}, 60);
  Verification v;
  std::istringstream lines(run.out + "\n" + run.err);
  for (std::string line; std::getline(lines, line);) {
    line = trimRight(line);
    int warnings = 0, errors = 0;
    if (std::sscanf(line.c_str(),
                    "**** Verification found %d warning(s) and %d error(s).",
                    &warnings, &errors) == 2) {
      v.warnings = warnings;
      v.errors = errors;
    } else if (line.rfind("*** Error:", 0) == 0 || line.rfind("*** Warning:", 0) == 0) {
      v.findings.push_back(line);
    }
  }
  return v;
}

TEST_F(ReadBack, FitsverifyFindsOnlyWhatTheFixedCardsCause) {
  ASSERT_TRUE(e2e::fileExists(kFitsverify))
      << "fitsverify is missing: apt-get install fitsverify";
  for (const OutputCase& c : kOutputs) {
    SCOPED_TRACE(outputNameOf(c.name));
    const std::vector<Finding>& accepted = acceptedFindings(c.program);
    const Verification v = verify(outputPath(c));
    ASSERT_GE(v.errors, 0) << "no summary line from fitsverify";
    int errors = 0, warnings = 0;
    for (const std::string& finding : v.findings) {
      bool known = false;
      for (const Finding& f : accepted) known = known || finding == f.line;
      EXPECT_TRUE(known) << "fitsverify: " << finding;
      (finding.rfind("*** Error:", 0) == 0 ? errors : warnings) += 1;
    }
    // Every finding was seen, and each accepted one turned up once.
    EXPECT_EQ(v.errors, errors);
    EXPECT_EQ(v.warnings, warnings);
    EXPECT_EQ(v.findings.size(), accepted.size());
  }
}

}  // namespace
