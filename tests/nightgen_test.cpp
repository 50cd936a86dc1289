// The generated camera files must carry every value at the column or word
// position where the camera header reader looks for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "e2e.h"
#include "nightgen.h"

namespace {

using e2e::columns;
using e2e::wordAt;
using nightgen::CameraSpec;
using nightgen::Kind;

// A column piece read as the reader does: blanks, optional sign, digits.
int columnInt(const std::string& cardText, int first, int last) {
  const std::string piece = columns(cardText, first, last);
  std::size_t i = 0;
  while (i < piece.size() && piece[i] == ' ') ++i;
  int sign = 1;
  if (i < piece.size() && (piece[i] == '-' || piece[i] == '+')) {
    sign = piece[i] == '-' ? -1 : 1;
    ++i;
  }
  int value = 0;
  while (i < piece.size() && std::isdigit(static_cast<unsigned char>(piece[i]))) {
    value = value * 10 + (piece[i++] - '0');
  }
  return sign * value;
}

struct Date {
  int year, month, day, hour, minute, second;
};

// Column layouts A, B and C of the reader: day, month, year, hour, minute,
// second as {first, last} pairs.
constexpr int kLayoutA[6][2] = {{14, 15}, {17, 18}, {20, 23}, {24, 26}, {28, 29}, {31, 32}};
constexpr int kLayoutB[6][2] = {{13, 14}, {16, 17}, {19, 22}, {23, 25}, {27, 28}, {30, 31}};
constexpr int kLayoutC[6][2] = {{20, 21}, {17, 18}, {12, 15}, {23, 24}, {26, 27}, {29, 30}};

Date decode(const std::string& c, const int layout[6][2]) {
  auto at = [&](int i) { return columnInt(c, layout[i][0], layout[i][1]); };
  return {at(2), at(1), at(0), at(3), at(4), at(5)};
}

CameraSpec makeCamera(Kind kind) {
  CameraSpec s;
  s.kind = kind;
  s.year = 2023;
  s.month = 3;
  s.day = 7;
  s.hour = 5;
  s.minute = 9;
  s.second = 2;
  s.exposureSeconds = 12.5;
  s.binning1 = 2;
  s.binning2 = 4;
  s.ccdTemperature = -105.5;
  s.preGain = 3;
  s.postGain = 5;
  s.offset = 123;
  s.adcSpeed = "FAST";
  s.readoutWord = "1.000000E-06";
  return s;
}

void expectDate(const std::string& c, const int layout[6][2], const CameraSpec& s) {
  const Date d = decode(c, layout);
  EXPECT_EQ(d.year, s.year) << c;
  EXPECT_EQ(d.month, s.month) << c;
  EXPECT_EQ(d.day, s.day) << c;
  EXPECT_EQ(d.hour, s.hour) << c;
  EXPECT_EQ(d.minute, s.minute) << c;
  EXPECT_EQ(d.second, s.second) << c;
}

void expectSettingsAt(const std::vector<std::string>& cards, int k, const CameraSpec& s) {
  EXPECT_EQ(std::atoi(wordAt(cards[k - 1], 7).c_str()), s.preGain);
  EXPECT_EQ(std::atoi(wordAt(cards[k], 7).c_str()), s.postGain);
  EXPECT_EQ(std::atoi(wordAt(cards[k + 1], 6).c_str()), s.offset);
  EXPECT_EQ(wordAt(cards[k + 3], 6), s.adcSpeed);
  EXPECT_DOUBLE_EQ(std::atof(wordAt(cards[k + 4], 7).c_str()), s.ccdTemperature);
  EXPECT_EQ(cards[k + 5].substr(0, 8), "END     ");
}

const Kind kAllKinds[] = {Kind::T5,      Kind::T5Binned,   Kind::T5BinnedShifted, Kind::S5,
                          Kind::Andor16, Kind::Andor16Raw, Kind::Andor32};

TEST(NightgenCard, PadsToEightyAndRefusesLongerText) {
  EXPECT_EQ(nightgen::card("END"), "END" + std::string(77, ' '));
  EXPECT_EQ(nightgen::card(std::string(80, 'x')), std::string(80, 'x'));
  EXPECT_THROW(nightgen::card(std::string(81, 'x')), std::invalid_argument);
  EXPECT_THROW(nightgen::keyCard("TOOLONGKEY", "1"), std::invalid_argument);
}

TEST(NightgenHeader, EveryKindGivesThirtySixCardsEndingInEndAndBlanks) {
  for (Kind kind : kAllKinds) {
    SCOPED_TRACE(nightgen::kindName(kind));
    const auto cards = nightgen::headerCards(makeCamera(kind));
    ASSERT_EQ(cards.size(), 36u);
    int end = 0;
    for (int i = 0; i < 36; ++i) {
      EXPECT_EQ(cards[i].size(), 80u) << "card " << i + 1;
      if (cards[i] == nightgen::card("END")) end = i + 1;
    }
    const int expectedEnd = nightgen::isAndor(kind) ? 30
                            : kind == Kind::T5BinnedShifted ? 20
                                                            : 18;
    EXPECT_EQ(end, expectedEnd);
    for (int i = end; i < 36; ++i) EXPECT_EQ(cards[i], std::string(80, ' '));
    EXPECT_EQ(nightgen::headerBlock(makeCamera(kind)).size(), 2880u);
  }
}

TEST(NightgenHeader, ImageSizeStandsInColumns27To30) {
  for (Kind kind : kAllKinds) {
    const auto cards = nightgen::headerCards(makeCamera(kind));
    EXPECT_EQ(columnInt(cards[3], 27, 30), nightgen::naxis1Of(kind));
    EXPECT_EQ(columnInt(cards[4], 27, 30), nightgen::naxis2Of(kind));
    EXPECT_EQ(cards[3].substr(0, 10), "NAXIS1  = ");
  }
  CameraSpec wide = makeCamera(Kind::T5);
  wide.naxis1 = 11000;
  const auto cards = nightgen::headerCards(wide);
  EXPECT_EQ(columns(cards[3], 26, 30), "11000");
  EXPECT_EQ(columnInt(cards[3], 27, 30), 1000);
}

TEST(NightgenHeader, T5WithoutBinningCards) {
  const CameraSpec s = makeCamera(Kind::T5);
  const auto cards = nightgen::headerCards(s);
  EXPECT_NE(cards[7].substr(0, 8), "BIN-FCT1");
  EXPECT_DOUBLE_EQ(std::atof(wordAt(cards[7], 3).c_str()), 12.5);
  EXPECT_EQ(columns(cards[8], 24, 26), " 05");  // hour piece: blank + 2 digits
  expectDate(cards[8], kLayoutA, s);
  EXPECT_EQ(columnInt(cards[5], 11, 30), 1);  // BSCALE
  EXPECT_EQ(wordAt(cards[6], 1), "BZERO");
  expectSettingsAt(cards, 12, s);
}

TEST(NightgenHeader, T5AndS5WithBinningCards) {
  for (Kind kind : {Kind::T5Binned, Kind::S5}) {
    SCOPED_TRACE(nightgen::kindName(kind));
    const CameraSpec s = makeCamera(kind);
    const auto cards = nightgen::headerCards(s);
    EXPECT_EQ(cards[7].substr(0, 8), "BIN-FCT1");
    EXPECT_EQ(std::atoi(wordAt(cards[7], 3).c_str()), 2);
    EXPECT_EQ(std::atoi(wordAt(cards[8], 3).c_str()), 4);
    EXPECT_DOUBLE_EQ(std::atof(wordAt(cards[9], 3).c_str()), 12.5);
    expectDate(cards[10], kLayoutB, s);
    EXPECT_NE(wordAt(cards[11], 3), "BINNING");
    expectSettingsAt(cards, 12, s);
  }
}

TEST(NightgenHeader, ShiftedBinningMovesSettingsToCard14) {
  const CameraSpec s = makeCamera(Kind::T5BinnedShifted);
  const auto cards = nightgen::headerCards(s);
  EXPECT_EQ(cards[7].substr(0, 8), "BIN-FCT1");
  expectDate(cards[10], kLayoutB, s);
  EXPECT_EQ(wordAt(cards[11], 3), "BINNING");
  expectSettingsAt(cards, 14, s);
}

TEST(NightgenHeader, AndorValueCardsAndScalingCards) {
  for (Kind kind : {Kind::Andor16, Kind::Andor16Raw, Kind::Andor32}) {
    SCOPED_TRACE(nightgen::kindName(kind));
    const CameraSpec s = makeCamera(kind);
    const auto cards = nightgen::headerCards(s);
    EXPECT_EQ(columnInt(cards[1], 11, 30), kind == Kind::Andor32 ? 32 : 16);
    EXPECT_EQ(std::atoi(wordAt(cards[16], 3).c_str()), 2);
    EXPECT_EQ(std::atoi(wordAt(cards[17], 3).c_str()), 4);
    EXPECT_EQ(wordAt(cards[24], 1), "EXPOSURE=");
    EXPECT_DOUBLE_EQ(std::atof(wordAt(cards[24], 2).c_str()), 12.5);
    EXPECT_DOUBLE_EQ(std::atof(wordAt(cards[25], 3).c_str()), -105.5);
    EXPECT_EQ(wordAt(cards[26], 2), "1.000000E-06");
    EXPECT_EQ(cards[28][10], '\'');
    expectDate(cards[28], kLayoutC, s);
    const std::string bzero = kind == Kind::Andor32 ? "2147483648" : "32768";
    if (kind == Kind::Andor16Raw) {
      EXPECT_NE(wordAt(cards[10], 1), "BZERO");
      EXPECT_NE(wordAt(cards[11], 1), "BSCALE");
    } else {
      EXPECT_EQ(cards[10].substr(0, 10), "BZERO   = ");
      EXPECT_EQ(wordAt(cards[10], 3), bzero);
      EXPECT_EQ(cards[11].substr(0, 10), "BSCALE  = ");
      EXPECT_EQ(wordAt(cards[11], 3), "1");
    }
  }
}

TEST(NightgenHeader, DateFieldsThatDoNotFitTheirColumnsAreRefused) {
  CameraSpec s = makeCamera(Kind::T5);
  s.minute = 100;
  EXPECT_THROW(nightgen::headerCards(s), std::invalid_argument);
}

TEST(NightgenFile, FullAndCutFileSizes) {
  e2e::ScopedTempDir dir;
  const struct {
    Kind kind;
    long long size;
  } full[] = {{Kind::T5, 2880 + 2036000},
              {Kind::S5, 2880 + 524288},
              {Kind::Andor16Raw, 2880 + 2097152},
              {Kind::Andor32, 2880 + 4194304}};
  for (const auto& f : full) {
    const std::string path = dir.file(std::string(nightgen::kindName(f.kind)) + ".fts");
    nightgen::writeCameraFile(path, makeCamera(f.kind));
    EXPECT_EQ(e2e::fileSize(path), f.size) << nightgen::kindName(f.kind);
  }
  const CameraSpec s5 = makeCamera(Kind::S5);
  const std::string cut = dir.file("cut.fts");
  nightgen::writeCameraFile(cut, s5, 1000);
  EXPECT_EQ(e2e::readFile(cut), nightgen::headerBlock(s5).substr(0, 1000));
  nightgen::writeCameraFile(cut, s5, 2883, 9);
  EXPECT_EQ(e2e::readFile(cut),
            nightgen::headerBlock(s5) + nightgen::sampleData(s5, 9, 0, 3));

  CameraSpec padded = s5;
  padded.padData = true;
  nightgen::writeCameraFile(cut, padded);
  EXPECT_EQ(e2e::fileSize(cut), 2880 + 183 * 2880);  // 524288 + 2752 zero bytes
  EXPECT_EQ(e2e::fileSize(cut) % 2880, 0);
}

TEST(NightgenFile, StreamedDataMatchesSampleDataAcrossChunks) {
  e2e::ScopedTempDir dir;
  const CameraSpec s = makeCamera(Kind::Andor16);
  const long long length = 2880 + 200000;  // spans several write chunks
  nightgen::writeCameraFile(dir.file("a.fts"), s, length, 4);
  const std::string bytes = e2e::readFile(dir.file("a.fts"));
  ASSERT_EQ(static_cast<long long>(bytes.size()), length);
  EXPECT_EQ(bytes.substr(2880), nightgen::sampleData(s, 4, 0, 200000));
  // A piece starting inside a sample is the same piece of the whole.
  EXPECT_EQ(nightgen::sampleData(s, 4, 65535, 7), bytes.substr(2880 + 65535, 7));
  EXPECT_NE(nightgen::sampleData(s, 5, 0, 64), nightgen::sampleData(s, 4, 0, 64));
}

TEST(NightgenFile, SampleEncodingFollowsTheKind) {
  const long long n = 20000;
  for (Kind kind : {Kind::T5, Kind::Andor16, Kind::Andor16Raw, Kind::Andor32}) {
    CameraSpec s = makeCamera(kind);
    const int width = nightgen::bytesPerSample(kind);
    const std::string data = nightgen::sampleData(s, 3, 0, n * width);
    std::set<unsigned> values;
    for (long long i = 0; i < n; ++i) {
      const auto* b = reinterpret_cast<const unsigned char*>(data.data() + i * width);
      const unsigned v = nightgen::physicalValue(3, i);
      values.insert(v);
      if (kind == Kind::Andor32) {
        ASSERT_EQ(b[0], 128u);
        ASSERT_EQ(b[1], 0u);
        ASSERT_EQ(b[2] * 256u + b[3], v);
      } else if (kind == Kind::Andor16Raw) {
        ASSERT_EQ(b[0] * 256u + b[1], v);
      } else {
        ASSERT_EQ((b[0] * 256u + b[1]) ^ 0x8000u, v);  // value - 32768
      }
    }
    EXPECT_TRUE(values.count(65535)) << "saturated samples occur";
    EXPECT_GT(values.size(), 150u);
  }
  CameraSpec dirty = makeCamera(Kind::Andor32);
  dirty.dirtyByte2 = true;
  const std::string data = nightgen::sampleData(dirty, 3, 0, 4 * n);
  int nonZero = 0;
  for (long long i = 0; i < n; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(data[i * 4]), 128u);
    nonZero += data[i * 4 + 1] != 0;
  }
  EXPECT_GT(nonZero, n / 200);
  EXPECT_LT(nonZero, n / 50);
}

// The scenes look like the frames of a night: levels from the generator's
// own figures (bias 600 ADU, flat 24000 ADU at the centre, sky 80 + 4 ADU
// per second), each with generous room for the noise.
TEST(NightgenScene, FramesLookLikeANight) {
  struct Stats {
    unsigned median, max, hot;  // hot: values of twice the median or more
  };
  const auto statsOf = [](const std::vector<std::uint16_t>& values) {
    std::vector<std::uint16_t> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    Stats s{sorted[sorted.size() / 2], sorted.back(), 0};
    for (std::uint16_t v : values) s.hot += v >= 2 * s.median;
    return s;
  };
  CameraSpec camera = makeCamera(Kind::T5);
  const long long n = nightgen::pixelCountOf(Kind::T5);
  const struct {
    nightgen::Scene scene;
    double exposure;
    unsigned medianLow, medianHigh;
  } cases[] = {{nightgen::Scene::Bias, 0.0, 595, 605},
               {nightgen::Scene::Dark, 300.0, 605, 625},
               {nightgen::Scene::Flat, 5.0, 20000, 25000},
               {nightgen::Scene::Sky, 60.0, 900, 940}};
  for (const auto& c : cases) {
    SCOPED_TRACE(nightgen::sceneName(c.scene));
    camera.scene = c.scene;
    camera.exposureSeconds = c.exposure;
    const auto values = nightgen::physicalValues(camera, 3, 0, n);
    const Stats s = statsOf(values);
    EXPECT_GE(s.median, c.medianLow);
    EXPECT_LE(s.median, c.medianHigh);
    // Only the sky has stars (one saturated); only sky and dark hot pixels.
    EXPECT_EQ(s.max == 65535, c.scene == nightgen::Scene::Sky);
    EXPECT_EQ(s.hot > 20, c.scene == nightgen::Scene::Sky || c.scene == nightgen::Scene::Dark);
    // Any piece is the same piece of the whole.
    EXPECT_EQ(nightgen::physicalValues(camera, 3, 509123, 4000),
              std::vector<std::uint16_t>(values.begin() + 509123, values.begin() + 513123));
  }
  camera.scene = nightgen::Scene::Pattern;
  const auto pattern = nightgen::physicalValues(camera, 3, 100, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pattern[i], nightgen::physicalValue(3, 100 + i));
}

TEST(NightgenNight, FoldersCatalogueAndRunListsAreConsistent) {
  e2e::ScopedTempDir dir;
  nightgen::NightOptions options;
  options.count = 3;
  options.faults = true;
  const auto written = nightgen::writeSampleNight(dir.path(), options);
  EXPECT_FALSE(written.empty());
  for (const auto& f : written) EXPECT_EQ(e2e::fileSize(f.path), f.bytes) << f.path;

  for (const char* folder : {nightgen::kConverterFolder, nightgen::kEditor32Folder,
                             nightgen::kEditor16Folder}) {
    SCOPED_TRACE(folder);
    const std::string base = dir.path() + "/" + folder + "/";
    std::set<std::string> names;
    std::istringstream catalogue(e2e::readFile(base + "object.lst"));
    bool south = false, north = false;
    for (std::string line; std::getline(catalogue, line);) {
      char name[32], sign[2];
      double equinox, ras, decs;
      int rah, ram, decd, decm;
      ASSERT_EQ(std::sscanf(line.c_str(), "%31s %lf %2d %2d %lf %1s%2d %2d %lf", name,
                            &equinox, &rah, &ram, &ras, sign, &decd, &decm, &decs),
                9)
          << line;
      ASSERT_TRUE(sign[0] == '+' || sign[0] == '-') << line;
      south |= sign[0] == '-' && decd + decm + decs > 0;
      north |= sign[0] == '+' && decd > 0;
      names.insert(name);
    }
    EXPECT_TRUE(south && north);

    std::istringstream list(e2e::readFile(base + "tarnlist.dat"));
    std::string line;
    ASSERT_TRUE(std::getline(list, line));
    EXPECT_EQ(line, "# WEATHER CLEAR");
    ASSERT_TRUE(std::getline(list, line));
    EXPECT_EQ(line, "# SEEING 1.5");
    ASSERT_TRUE(std::getline(list, line));
    EXPECT_EQ(line, "# OBSERVER Yamada");
    int entries = 0;
    std::set<std::string> andor;
    for (; std::getline(list, line); ++entries) {
      char file[32], object[32], filter[32];
      int type, diaphragm, clump;
      float hwp, slit;
      ASSERT_EQ(std::sscanf(line.c_str(), "%31s %31s %d %f %d %f %d %31s", file, object,
                            &type, &hwp, &diaphragm, &slit, &clump, filter),
                8)
          << line;
      const std::string f = file;
      if (f == "t5_0099.fts" || std::string(object) == "NGC9999" || type == 7) continue;
      EXPECT_TRUE(e2e::fileExists(base + f)) << f;
      EXPECT_TRUE(names.count(object)) << object;
      if (f[0] == 'a') andor.insert(f);
    }
    EXPECT_GE(entries, 7);
    // an0001-an0003 and an9001 (unknown readout time); a32_/a16_0001-0003.
    EXPECT_EQ(andor.size(), std::string(folder) == nightgen::kConverterFolder ? 4u : 3u);
  }

  // The calibration frames of the converter's folder show their scene: the
  // flat's first samples lie far above the bias level of the bias and dark.
  const auto firstValue = [&](const char* name) {
    const std::string bytes = e2e::readFile(dir.path() + "/tarnfits/" + name);
    return ((static_cast<unsigned char>(bytes[2880]) << 8 |
             static_cast<unsigned char>(bytes[2881])) ^ 0x8000);
  };
  EXPECT_GT(firstValue("s5_0001.fts"), 10000);  // FLAT
  EXPECT_LT(firstValue("t5_0001.fts"), 700);    // BIAS
  EXPECT_LT(firstValue("t5_0005.fts"), 800);    // DARK

  // The editors' Andor files carry their own sample formats.
  const std::string a32 = e2e::readFile(dir.path() + "/tarnfits4/a32_0001.fts");
  EXPECT_EQ(columnInt(e2e::cardAt(a32, 2), 11, 30), 32);
  EXPECT_EQ(static_cast<unsigned char>(a32[2880]), 128u);
  const std::string a16 = e2e::readFile(dir.path() + "/tarnfits4s/a16_0001.fts");
  EXPECT_NE(wordAt(e2e::cardAt(a16, 11), 1), "BZERO");
  EXPECT_EQ(e2e::fileSize(dir.path() + "/tarnfits4s/a16_0001.fts"), 2880 + 2097152);
}

TEST(NightgenNight, CameraClocksAreJstForRuvuzorAndUtForAndor) {
  e2e::ScopedTempDir dir;
  nightgen::NightOptions options;
  options.count = 1;
  options.editor32 = options.editor16 = false;
  nightgen::writeSampleNight(dir.path(), options);
  const std::string base = dir.path() + "/tarnfits/";
  // 00:40:10 JST after the evening of 2024-01-31: the camera writes 1 Feb.
  const Date late = decode(e2e::cardAt(e2e::readFile(base + "t5_0004.fts"), 9), kLayoutA);
  EXPECT_EQ(late.year, 2024);
  EXPECT_EQ(late.month, 2);
  EXPECT_EQ(late.day, 1);
  EXPECT_EQ(late.hour, 0);
  EXPECT_EQ(late.minute, 40);
  // The first Andor file starts at 23:00 JST, that is 14:00 UT.
  const Date andor = decode(e2e::cardAt(e2e::readFile(base + "an0001.fts"), 29), kLayoutC);
  EXPECT_EQ(andor.day, 31);
  EXPECT_EQ(andor.hour, 14);
  EXPECT_EQ(andor.minute, 0);
}

// A drawn star keeps its flux (0.1 % may stay in the wings), its FWHM (the half-maximum points
// of a finely sampled elongated profile) and a pixel the profile's 200 x 200-point integral; a
// track spans its length (first pixel's centre to the last's, plus one).
TEST(NightgenDraw, StarsKeepFluxFwhmAndPixelIntegralsAndTracksTheirLength) {
  nightgen::SceneSpec scene;
  scene.width = scene.height = 201, scene.noise = false, scene.skyLevel = 0.0;
  for (double beta : {0.0, 2.5, 3.5, 4.5, 5.0}) {
    scene.psf = {2.0, beta, 1.0, 0.0}, scene.stars = {{100.3, 99.8, 1e5}};
    const auto small = nightgen::drawScene(scene);
    EXPECT_NEAR(std::accumulate(small.pixels.begin(), small.pixels.end(), 0.0), 1e5, 500.0) << beta;
    const double a = beta > 0 ? 1.0 / std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0) : 2.0 / 2.35482;
    const double peak = 1e5 * (beta > 0 ? (beta - 1.0) / (M_PI * a * a) : 0.5 / (M_PI * a * a));
    double integral = 0.0;  // over the pixel at (100, 100): offsets -0.3, 0.2
    for (int k = 0; k < 40000; ++k) {
      const double r2 = (std::pow(-0.8 + (k % 200 + 0.5) / 200, 2) + std::pow(-0.3 + (k / 200 + 0.5) / 200, 2)) / (a * a);
      integral += (beta > 0 ? std::pow(1.0 + r2, -beta) : std::exp(-0.5 * r2)) * peak / 40000;
    }
    EXPECT_NEAR(small.stars[0].peak, peak, 1e-4 * peak) << beta;
    EXPECT_NEAR(small.pixels[100 * 201 + 100], integral, 1e-3 * integral) << beta;
    scene.psf = {40.0, beta, 1.5, 0.0}, scene.stars = {{100.0, 100.0, 1e7}};  // FWHM 40 sqrt(1.5) in x, 40 / sqrt(1.5) in y
    const auto big = nightgen::drawScene(scene);
    const float* centre = &big.pixels[100 * 201 + 100];
    for (int step : {1, 201}) {
      double width = 0.0;
      for (int side : {-step, step}) {
        int k = 0;
        while (centre[(k + 1) * side] > 0.5f * centre[0]) ++k;
        width += k + (centre[k * side] - 0.5 * centre[0]) / (centre[k * side] - centre[(k + 1) * side]);
      }
      EXPECT_NEAR(width, step == 1 ? 40.0 * std::sqrt(1.5) : 40.0 / std::sqrt(1.5), 0.1) << beta;
    }
  }
  const double lengths[] = {1, 3, 7, 15, 20, 20}, angles[] = {0, 30, 45, 90, 137, 0};
  for (int i = 0; i < 6; ++i) {
    scene.stars.clear(), scene.cosmicRays = {{100, 100, lengths[i], angles[i], 1 + i / 5, 1e3}};
    const auto ray = nightgen::drawScene(scene);
    int lit = 0, low[2] = {201, 201}, high[2] = {-1, -1};  // the lit pixels' box, its diagonal the span
    for (int k = 0; k < 201 * 201; ++k)
      if (ray.pixels[k] > 0) ++lit, low[0] = std::min(low[0], k % 201), low[1] = std::min(low[1], k / 201),
                               high[0] = std::max(high[0], k % 201), high[1] = std::max(high[1], k / 201);
    EXPECT_EQ(lit, i < 5 ? int(ray.cosmicRays[0].pixels.size()) : 40) << i;  // the last: 2 x 20
    EXPECT_NEAR(std::hypot(high[0] - low[0], high[1] - low[1]) + 1.0, lengths[i], 1.0) << i;
  }
}

// Standard FITS files of any size, sample type and frame-type card pass fitsverify; astropy
// (Debian python3-astropy) reads the card and the samples: a star's peak clipped to 65535 in
// 16 bits, a negative sample 0 there and kept in 32 bits, floats in flux units of 1e-19.
TEST(NightgenFitsImage, FilesOfAnyObservatoryReadBackInAstropy) {
  e2e::ScopedTempDir dir;
  nightgen::SceneSpec scene;
  scene.skyLevel = 20.0, scene.stars = {{30.0, 20.0, 2e6}};
  const struct { int bitpix, width; const char *keyword, *value; float scale; } cases[] = {{16, 2100, "DATA-TYP", "OBJECT", 1}, {32, 70, "IMAGETYP", "LIGHT", 1}, {-32, 70, "OBSTYPE", "SCIENCE", 1e-19f},
               {16, 70, "IMGTYPE", "Light Frame", 1}, {32, 70, "HIERARCH ESO DPR TYPE", "OBJECT", 1}, {-32, 70, "", "-", 1}};
  std::vector<std::string> args = {"-c", "from astropy.io import fits\nimport sys\nfor n in sys.argv[1:]:\n"
      "  f, k = n.split(':')\n  h = fits.open(f)[0]\n  d = h.data\n  print('%s|%s|%.6g|%.6g|%.6g' % "
      "(h.header.get(k, '-') if k else '-', d.shape, d[20, 30], d[0, 0], d[1, 1]))\n"};
  std::string expected;
  for (const auto& c : cases) {
    scene.width = scene.height = c.width;
    auto pixels = nightgen::drawScene(scene).pixels;
    pixels[0] = -7.0f;
    for (float& v : pixels) v = c.bitpix > 0 ? std::round(v) : v * c.scale;
    nightgen::FitsImageSpec fits;
    fits.bitpix = c.bitpix, fits.typeKeyword = c.keyword, fits.typeValue = c.value;
    args.push_back(dir.file(std::to_string(args.size()) + ".fits"));
    nightgen::writeFitsImage(args.back(), c.width, c.width, pixels, fits);
    const auto verify = e2e::runProgram("/usr/bin/fitsverify", dir.path(), "", {"-q", args.back()});
    EXPECT_EQ(verify.out.rfind("verification OK", 0), 0u) << verify.out << verify.err;
    args.back() += std::string(":") + c.keyword;
    char line[200];
    std::snprintf(line, sizeof line, "%s|(%d, %d)|%.6g|%.6g|%.6g\n", c.value, c.width, c.width,
                  c.bitpix == 16 ? 65535.0 : pixels[20 * c.width + 30], c.bitpix == 16 ? 0.0 : pixels[0], pixels[c.width + 1]);
    expected += line;
  }
  EXPECT_EQ(e2e::runProgram("/usr/bin/python3", dir.path(), "", args, 120).out, expected);
}

// The plain night keeps its bytes (FNV-1a as before); the opt-in sky is in the truth and the pixels.
TEST(NightgenNight, OptInSkyIsInTheTruthAndThePixels) {
  e2e::ScopedTempDir dir;
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const auto& f : nightgen::writeSampleNight(dir.file("plain")))
    for (char c : e2e::readFile(f.path)) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  EXPECT_EQ(hash, 0xe12f4e163b9b5e1du);
  nightgen::NightOptions options;
  options.count = 20, options.editor32 = options.editor16 = false, options.cosmicTracks = 40;
  options.moffat = options.thinCloud = options.defocusedNight = true;
  std::map<std::string, nightgen::NightFile> sky;
  for (const auto& f : nightgen::writeSampleNight(dir.file("sky"), options))
    if (f.fwhmPixels > 0) sky[f.path.substr(f.path.size() - 10)] = f;
  for (const auto& [name, f] : sky) {  // from the series' middle frame (an0011) on, defocused
    const bool late = name >= "an0011.fts" && name < "an9000.fts";
    EXPECT_EQ(f.fwhmPixels > 6.0, late) << name;  // 2.2 to 3.6 x 4.24 px, else 4.24 +- 15 %
    EXPECT_EQ(f.problem.find(nightgen::kDefocusedNight) != std::string::npos, late) << name;
  }
  const auto clear = nightgen::plantedStars(*sky["an0001.fts"].camera, sky["an0001.fts"].seed);
  const auto thin = nightgen::plantedStars(*sky["an0019.fts"].camera, sky["an0019.fts"].seed);
  ASSERT_EQ(thin.size(), clear.size());
  for (std::size_t k = 0; k < thin.size(); ++k) EXPECT_NEAR(thin[k].flux, 0.25 * clear[k].flux, 1e-6 * clear[k].flux);
  // The target's Moffat (at 1023.5, 255.5): flux within 30 px, and beyond 1.5 FWHM (1 + x^2)^(1 - beta)
  // with x^2 = 9 (2^(1/beta) - 1), 10 times a Gaussian's; a cosmic ray's pixels 400 ADU above the sky.
  const auto& f = sky["an0001.fts"];
  const auto frame = nightgen::physicalValues(*f.camera, f.seed, 0, 2048 * 512);
  auto sorted = frame;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  double level = sorted[sorted.size() / 2], inner = 0.0, outer = 0.0;
  for (int k = 0; k < 61 * 61; ++k) {
    const double r = std::hypot(k % 61 - 30.5, k / 61 - 30.5), v = frame[(225 + k / 61) * 2048 + 993 + k % 61] - level;
    (r < 1.5 * f.fwhmPixels ? inner : outer) += r < 30 ? v : 0.0;
  }
  EXPECT_NEAR(inner + outer, clear[0].flux, 0.02 * clear[0].flux);
  EXPECT_NEAR(outer / clear[0].flux, std::pow(9.0 * std::pow(2.0, 1.0 / f.beta) - 8.0, 1.0 - f.beta), 0.01) << f.beta;
  for (const auto& ray : nightgen::plantedCosmicRays(*f.camera, f.seed))
    for (const auto& p : ray.pixels) EXPECT_GT(frame[p.y * 2048 + p.x], level + 400) << p.x << " " << p.y;
}

TEST(E2eRunProgram, CapturesOutputStatusStdinAndFolder) {
  e2e::ScopedTempDir dir;
  const auto r = e2e::runProgram(
      "/bin/sh", dir.path(), "hello\n",
      {"-c", "read x; echo \"got $x\"; pwd; echo oops >&2; head -c 300000 /dev/zero; exit 3"});
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.out.substr(0, 10 + dir.path().size()), "got hello\n" + dir.path());
  EXPECT_EQ(r.out.size(), 10 + dir.path().size() + 1 + 300000);
  EXPECT_EQ(r.err, "oops\n");

  const auto eof = e2e::runProgram("/bin/sh", dir.path(), "", {"-c", "cat; echo end"});
  EXPECT_EQ(eof.out, "end\n");

  const auto killed = e2e::runProgram("/bin/sh", dir.path(), "", {"-c", "kill -9 $$"});
  EXPECT_EQ(killed.exitStatus, -1);
  EXPECT_EQ(killed.signal, 9);

  const auto slow = e2e::runProgram("/bin/sh", dir.path(), "", {"-c", "sleep 20"}, 0.3);
  EXPECT_TRUE(slow.timedOut);

  const auto missing = e2e::runProgram(dir.file("no_such_program"), dir.path(), "");
  EXPECT_EQ(missing.exitStatus, 127);
}

TEST(E2eScopedTempDir, RemovesItsTreeAndReturnsToTheFolder) {
  const std::string before = std::filesystem::current_path().string();
  std::string path;
  {
    e2e::ScopedTempDir dir(true);
    path = dir.path();
    EXPECT_EQ(std::filesystem::current_path().string(), path);
    std::filesystem::create_directories(dir.file("a/b"));
    e2e::writeFile(dir.file("a/b/c.txt"), "x");
  }
  EXPECT_FALSE(e2e::fileExists(path));
  EXPECT_EQ(std::filesystem::current_path().string(), before);
}

#ifdef MKNIGHT_EXE
TEST(Mknight, WritesOneCameraFileAndRejectsBadArguments) {
  e2e::ScopedTempDir dir;
  const auto ok = e2e::runProgram(MKNIGHT_EXE, dir.path(), "",
                                  {"--camera", "andor32", "x.fts", "--bytes", "3000",
                                   "--date", "2024-05-06T07:08:09"});
  ASSERT_EQ(ok.exitStatus, 0) << ok.err;
  const std::string bytes = e2e::readFile(dir.file("x.fts"));
  ASSERT_EQ(bytes.size(), 3000u);
  const Date d = decode(e2e::cardAt(bytes, 29), kLayoutC);
  EXPECT_EQ(d.month * 10000 + d.hour * 100 + d.second, 50709);

  for (std::vector<std::string> bad : {std::vector<std::string>{},
                                       {"--camera", "t7", "x.fts"},
                                       {"--camera", "t5", "x.fts", "--bytes", "12q"},
                                       {dir.path(), "--andor"}}) {
    const auto r = e2e::runProgram(MKNIGHT_EXE, dir.path(), "", bad);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
  }
}
#endif

}  // namespace
