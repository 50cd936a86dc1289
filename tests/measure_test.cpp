// Measuring frames: stars told from hot pixels and cosmic-ray hits, the
// FWHM of unsaturated stars, and bad input that gets a reason.
#include "measure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "e2e.h"
#include "look.h"
#include "nightgen.h"

namespace {

constexpr double kSaturation = 65535.0;
constexpr double kSigma = 1.8;  // pixels: FWHM 2.3548 x 1.8 = 4.24
constexpr float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();

struct Scene {
  long long width = 512, height = 512;
  int faint = 15, saturated = 20, sharp = 60;  // unsaturated stars, saturated stars, hot pixels and hits
  double sigma = kSigma, elongation = 1.0;
};

// A sky of 1000 ADU with Gaussian noise of 10 ADU; stars of peak 300 to
// 8000 ADU (the saturated ones 5 x 65535, clipped), the target saturated at
// the centre; single-pixel hits of 500 to 20000 ADU.
std::vector<float> render(const Scene& s) {
  std::mt19937 random(7);
  std::normal_distribution<float> noise(1000.0f, 10.0f);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<float> image(static_cast<std::size_t>(s.width * s.height));
  for (float& v : image) v = noise(random);
  const auto star = [&](double x, double y, double peak) {
    for (long long j = std::max(0LL, static_cast<long long>(y) - 30); j < std::min(s.height, static_cast<long long>(y) + 30); ++j)
      for (long long i = std::max(0LL, static_cast<long long>(x) - 30); i < std::min(s.width, static_cast<long long>(x) + 30); ++i) {
        const double dx = (i - x) / s.elongation, dy = j - y;
        image[static_cast<std::size_t>(j * s.width + i)] += static_cast<float>(peak * std::exp(-(dx * dx + dy * dy) / (2 * s.sigma * s.sigma)));
      }
  };
  star(0.5 * (s.width - 1), 0.5 * (s.height - 1), 5 * kSaturation);
  for (int k = 1; k < s.faint + s.saturated; ++k)  // the first 35 on a grid 40 pixels apart, below the centre
    star(k < 36 ? 30 + 40 * (k % 12) + u(random) : u(random) * s.width, k < 36 ? 30 + 40 * (k / 12) + u(random) : u(random) * s.height,
         k < s.saturated ? 5 * kSaturation : 300 * std::pow(8000 / 300.0, u(random)));
  for (int k = 0; k < s.sharp; ++k)
    image[static_cast<std::size_t>(u(random) * static_cast<double>(image.size()))] += static_cast<float>(500 + 19500 * u(random));
  for (float& v : image) v = std::min(v, static_cast<float>(kSaturation));
  return image;
}

tarnlook::Measurement measure(std::vector<float> image, const Scene& s, bool stars = true) {
  return tarnlook::measurePixels(image, s.width, s.height, 1, kSaturation, stars);
}

TEST(Measure, StarsAreToldFromHotPixelsAndTheFwhmIsOfTheUnsaturatedOnes) {
  tarnlook::setSepLimits();
  const Scene scene;
  const tarnlook::Measurement m = measure(render(scene), scene);
  ASSERT_TRUE(m.starsMeasured) << m.notMeasured;
  // Every star stands out of the noise by 30 sigmas or more: all are found,
  // and none of the 60 single pixels.
  EXPECT_EQ(m.stars, scene.faint + scene.saturated);
  EXPECT_EQ(m.saturatedStars, scene.saturated);
  ASSERT_TRUE(m.fwhmPixels && m.elongation && m.targetSaturated && m.skyLevel);
  EXPECT_NEAR(*m.fwhmPixels, 2.3548 * kSigma, 0.05 * 2.3548 * kSigma);  // noise on 15 stars
  EXPECT_NEAR(*m.elongation, 1.0, 0.1);
  EXPECT_TRUE(*m.targetSaturated);
  EXPECT_NEAR(*m.skyLevel, 1000.0, 2.0);
  EXPECT_NEAR(m.median, 1000.0, 1.0);
  EXPECT_NEAR(m.noise, 10.0, 0.5);
  EXPECT_EQ(m.maximum, kSaturation);
  EXPECT_GT(m.saturatedPixels, 20 * 9);  // the flat tops
}

TEST(Measure, FwhmAndElongationFollowTheStars) {
  for (const auto& [sigma, elongation] : {std::pair{1.2, 1.0}, {2.5, 1.0}, {4.0, 1.0}, {1.8, 2.0}}) {
    Scene scene;
    scene.sigma = sigma, scene.elongation = elongation;
    const tarnlook::Measurement m = measure(render(scene), scene);
    ASSERT_TRUE(m.fwhmPixels && m.elongation) << sigma << " " << m.notMeasured;
    EXPECT_NEAR(*m.fwhmPixels * (elongation == 1.0), 2.3548 * sigma * (elongation == 1.0), 0.05 * 2.3548 * sigma) << sigma;
    EXPECT_NEAR(*m.elongation, elongation, 0.1 * elongation) << sigma << " " << elongation;
  }
  // The saturation level of BITPIX 16 with BZERO 32768 and without, with BSCALE 2, of 8, 32 with BZERO 2^31, and -32.
  EXPECT_EQ(std::vector<double>({tarnlook::saturationLevel(16, 32768, 1), tarnlook::saturationLevel(16, 0, 1),
      tarnlook::saturationLevel(16, 32768, 2), tarnlook::saturationLevel(8, 0, 1),
      tarnlook::saturationLevel(32, 2147483648.0, 1), tarnlook::saturationLevel(-32, 0, 1)}),
      std::vector<double>({65535, 32767, 98302, 255, 4294967295.0, inf}));
}

TEST(Measure, BadInputGetsAReason) {
  Scene crowded;
  crowded.faint = 3000, crowded.saturated = 0;  // on a 512 x 512 frame
  struct Case { const char* what; Scene scene; void (*spoil)(std::vector<float>&); std::size_t pixelStack; int subObjects;
                const char* reason; };  // "" for measured
  const Case cases[] = {
      {"NaN rows", {}, [](std::vector<float>& p) { std::fill(p.begin(), p.begin() + 512 * 20, nan); }, tarnlook::kSepPixelStack, 1024, ""},
      {"infinite samples", {}, [](std::vector<float>& p) { for (std::size_t i = 0; i < p.size(); i += 97) p[i] = -inf; }, tarnlook::kSepPixelStack, 1024, ""},
      {"mostly NaN", {}, [](std::vector<float>& p) { std::fill(p.begin(), p.begin() + 512 * 300, nan); }, tarnlook::kSepPixelStack, 1024, "too few defined pixels"},
      {"constant", {}, [](std::vector<float>& p) { std::fill(p.begin(), p.end(), 1000.0f); }, tarnlook::kSepPixelStack, 1024, "a constant frame"},
      {"smaller than the mesh", {63, 512}, nullptr, tarnlook::kSepPixelStack, 1024, "smaller than the background mesh (64 x 64 pixels)"},
      {"thousands of sources", crowded, nullptr, tarnlook::kSepPixelStack, 1024, ""},
      {"pixel stack full", {}, nullptr, 100, 1024, "SEP: internal pixel buffer full"},
      {"too many sub-objects", crowded, nullptr, tarnlook::kSepPixelStack, 1, "SEP: object deblending overflow"},
  };
  for (const Case& c : cases) {
    tarnlook::setSepLimits(c.pixelStack, c.subObjects);
    std::vector<float> image = render(c.scene);
    if (c.spoil) c.spoil(image);
    const tarnlook::Measurement m = measure(image, c.scene);
    EXPECT_EQ(m.notMeasured, c.reason) << c.what;
    EXPECT_EQ(m.starsMeasured, *c.reason == '\0') << c.what;
    EXPECT_GT(m.stars, m.starsMeasured ? 10 : -1) << c.what;
  }
  tarnlook::setSepLimits();
  // A frame too large for the memory budget is measured binned, or not at all.
  EXPECT_EQ(std::vector<int>({tarnlook::measureBinning(2048, 2048), tarnlook::measureBinning(4096, 4096),
      tarnlook::measureBinning(8 * 2048, 8 * 2048), tarnlook::measureBinning(8 * 2048 + 1, 8 * 2048)}),
      std::vector<int>({1, 2, 8, 0}));
}

// Scenes drawn by the generator, with their truth: stars of flux 2e4 to
// 3e5 ADU (S/N 60 or more) on a sky of 1000 ADU, unclipped (no SATURATE).
nightgen::SceneSpec drawnScene(int size, double fwhm, double beta, int stars, unsigned seed = 3) {
  nightgen::SceneSpec scene;
  scene.width = scene.height = size;
  scene.psf.fwhmPixels = fwhm, scene.psf.beta = beta;
  scene.stars = nightgen::starField(size, size, stars, 2e4, 3e5, 20, seed);
  scene.seed = seed;
  return scene;
}
tarnlook::Measurement measureDrawn(const nightgen::SceneSpec& scene) {
  std::vector<float> pixels = nightgen::drawScene(scene).pixels;
  return tarnlook::measurePixels(pixels, scene.width, scene.height, 1, inf, true);
}

TEST(Measure, TheFittedProfileIsTheTruths) {
  tarnlook::setSepLimits();
  // FWHM within 5 %, beta within 15 %, round stars within 0.05 of a/b = 1.
  for (const double beta : {0.0, 2.5, 3.5, 4.5}) {
    for (const double fwhm : {2.0, 3.5, 7.0}) {
      const tarnlook::Measurement m = measureDrawn(drawnScene(512, fwhm, beta, 40));
      ASSERT_TRUE(m.fwhmPixels && m.beta && m.axisRatio) << beta << " " << fwhm;
      EXPECT_NEAR(*m.fwhmPixels, fwhm, 0.05 * fwhm) << "beta " << beta;
      EXPECT_NEAR(*m.beta, beta ? beta : 20.0, beta ? 0.15 * beta : 1e9) << "FWHM " << fwhm;
      EXPECT_NEAR(*m.axisRatio, 1.0, 0.05) << beta << " " << fwhm;
      EXPECT_EQ(m.starsFitted, 6);  // the most fitted
      EXPECT_NEAR(m.stars, 40, 4) << beta << " " << fwhm;
    }
  }
  nightgen::SceneSpec trailed = drawnScene(512, 3.5, 3.5, 40);
  trailed.psf.axisRatio = 2.0, trailed.psf.angleDegrees = 30.0;
  const tarnlook::Measurement m = measureDrawn(trailed);
  ASSERT_TRUE(m.fwhmPixels && m.elongation);
  EXPECT_NEAR(*m.fwhmPixels, 3.5, 0.05 * 3.5);
  EXPECT_NEAR(*m.elongation, 2.0, 0.1);
}

TEST(Measure, CosmicRaysAndGalaxiesAreNotStars) {
  // 150 tracks of 3 to 15 px beside 60 stars of FWHM 3.5 px.
  nightgen::SceneSpec rays = drawnScene(1024, 3.5, 3.5, 60);
  rays.cosmicRays = nightgen::cosmicRayField(1024, 1024, 150, 3, 15, 5);
  tarnlook::Measurement m = measureDrawn(rays);
  ASSERT_TRUE(m.fwhmPixels && m.elongation);
  EXPECT_NEAR(*m.fwhmPixels, 3.5, 0.05 * 3.5);
  EXPECT_NEAR(m.stars, 60, 6);
  EXPECT_LT(*m.elongation, 1.1);
  EXPECT_NEAR(m.cosmicRays, 150, 30);  // tracks that cross a star or each other merge
  // Galaxies of Re 8 to 30 px, discs and ellipticals, and no star.
  nightgen::SceneSpec galaxies = drawnScene(512, 3.5, 3.5, 0);
  for (int k = 0; k < 6; ++k) {
    galaxies.galaxies.push_back({90.0 + 160 * (k % 3), 130.0 + 250 * (k / 3), 2e5 * (k + 1), 8.0 + 4 * k,
                                 k % 2 ? 4.0 : 1.0, 1.0 + 0.3 * k, 30.0 * k});
  }
  m = measureDrawn(galaxies);
  EXPECT_TRUE(m.starsMeasured);
  EXPECT_EQ(m.stars, 0);
  EXPECT_FALSE(m.fwhmPixels);
}

// Frames as other observatories write them, read from their files.
tarnlook::Frame readBack(const std::string& path, const nightgen::SceneSpec& scene,
                         const nightgen::FitsImageSpec& fits) {
  nightgen::writeFitsImage(path, scene.width, scene.height, nightgen::drawScene(scene).pixels, fits);
  tarnlook::Frame frame;
  EXPECT_FALSE(tarnlook::FrameReader().read(path, frame)) << path;
  return frame;
}

TEST(Measure, AnyObservatorysFramesAreMeasuredAtFullResolution) {
  e2e::ScopedTempDir dir;
  nightgen::FitsImageSpec light;  // IMAGETYP = 'LIGHT', 16-bit
  light.bitpix = 16;
  // Over 4 Mi pixels: searched on a copy binned by 2, fitted on the file's pixels.
  tarnlook::Frame frame = readBack(dir.file("large.fits"), drawnScene(3000, 2.0, 3.5, 150), light);
  ASSERT_TRUE(frame.measurement.fwhmPixels) << frame.measurement.notMeasured;
  EXPECT_EQ(frame.measurement.binning, 2);
  EXPECT_NEAR(*frame.measurement.fwhmPixels, 2.0, 0.05 * 2.0);
  EXPECT_NEAR(frame.measurement.stars, 150, 15);
  EXPECT_EQ(frame.measurement.saturation, 65535.0);
  // A copy binned by 2 measured without its file: the FWHM and half-light
  // diameter still in the frame's pixels (unbinned, 7.05 and 8.38 px).
  const nightgen::SceneSpec wide = drawnScene(1024, 7.0, 3.5, 60);
  tarnlook::MeasureCopy copy(1024, 1024, 2);
  copy.addRows(nightgen::drawScene(wide).pixels.data(), 1024);
  const tarnlook::Measurement binned = tarnlook::measurePixels(copy.pixels(), 512, 512, 2, inf, true);
  ASSERT_TRUE(binned.fwhmPixels && binned.halfLightDiameter);
  EXPECT_NEAR(*binned.fwhmPixels, 7.0, 0.1 * 7.0);
  EXPECT_NEAR(*binned.halfLightDiameter, 8.38, 0.1 * 8.38);
  // No type card, a SATURATE card, floating point: measured as the sky.
  nightgen::FitsImageSpec untyped;
  untyped.typeKeyword = "", untyped.saturate = 30000.0;
  frame = readBack(dir.file("untyped.fits"), drawnScene(512, 3.5, 2.5, 40), untyped);
  EXPECT_TRUE(tarnlook::isSkyFrame(frame.header, frame.measurement));
  ASSERT_TRUE(frame.measurement.fwhmPixels) << frame.measurement.notMeasured;
  EXPECT_NEAR(*frame.measurement.fwhmPixels, 3.5, 0.05 * 3.5);
  EXPECT_EQ(frame.measurement.saturation, 30000.0);
  // The noise of whole-number samples is not in steps of 1.4826 ADU (0.74 off at worst).
  nightgen::FitsImageSpec bias;
  bias.bitpix = 16, bias.typeValue = "BIAS";
  frame = readBack(dir.file("bias.fits"), drawnScene(512, 3.5, 2.5, 0), bias);
  EXPECT_NEAR(frame.measurement.noise, nightgen::drawScene(drawnScene(512, 3.5, 2.5, 0)).skyNoise, 0.2);
}

// photutils finds the stars (DAOStarFinder) and astropy fits a Moffat to
// each, sampled at pixel centres: at FWHM 5 px the pixel's width adds 1 %.
TEST(Measure, TheFitAgreesWithPhotutils) {
  e2e::ScopedTempDir dir;
  const nightgen::SceneSpec scene = drawnScene(512, 5.0, 3.0, 30, 11);
  const tarnlook::Frame frame = readBack(dir.file("stars.fits"), scene, {});
  std::ofstream(dir.file("fit.py")) << R"(import sys, numpy as np
from astropy.io import fits
from astropy.modeling import models, fitting
from photutils.detection import DAOStarFinder
data = fits.getdata(sys.argv[1]).astype(float); data -= np.median(data)
found = DAOStarFinder(threshold=2000, fwhm=5).find_stars(data)
found.sort('flux', reverse=True)
fwhms = []
for s in found[:12]:
    x, y = int(round(s['xcentroid'])), int(round(s['ycentroid']))
    if min(x, y) < 12 or max(x, y) > data.shape[0] - 13: continue
    yy, xx = np.mgrid[y - 12:y + 13, x - 12:x + 13]
    fit = fitting.LevMarLSQFitter()(models.Moffat2D(s['peak'], x, y, 4, 3), xx, yy, data[y - 12:y + 13, x - 12:x + 13])
    fwhms.append(fit.fwhm)
print(np.median(fwhms))
)";
  const e2e::RunResult r = e2e::runProgram("/usr/bin/python3", dir.path(), "", {dir.file("fit.py"), dir.file("stars.fits")}, 300);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_TRUE(frame.measurement.fwhmPixels);
  EXPECT_NEAR(*frame.measurement.fwhmPixels, std::stod(r.out) * 1.01, 0.03 * 5.0) << r.out;
}

// A generated night's folder converted and looked at: each frame's CSV
// fields (split at every comma) and console line, by file name.
struct Looked {
  std::vector<std::string> fields;
  std::string line;
};
std::map<std::string, Looked> lookAt(const std::string& folder, std::string& page) {
  EXPECT_EQ(e2e::runProgram(TARNFITS_EXE, folder, "", {}, 300).exitStatus, 0);
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, folder, "", {}, 300);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  std::map<std::string, Looked> frames;
  std::istringstream csv(e2e::readFile(folder + "/tarnlook.csv")), out(r.out);
  for (std::string line, field; std::getline(csv, line);) {
    std::istringstream fields(line);
    std::vector<std::string> split;
    while (std::getline(fields, field, ',')) split.push_back(field);
    frames[split[0]].fields = split;
  }
  for (std::string line; std::getline(out, line);) frames[line.substr(0, line.find(' '))].line = line;
  page = e2e::readFile(folder + "/tarnlook.html");
  return frames;
}

std::string fitName(const std::string& path) {
  return path.substr(path.rfind('/') + 1, path.size() - path.rfind('/') - 4) + "fit";
}

TEST(MeasureNight, TheGeneratorsTruthIsFoundAndEachPlantedProblemFlaggedOnItsFrameAlone) {
  e2e::ScopedTempDir dir;
  nightgen::NightOptions options;
  options.count = 30;
  options.problems = true;
  options.editor32 = options.editor16 = false;
  const std::map<std::string, std::string> flagOf = {
      {nightgen::kTrailed, "! elongated stars"}, {nightgen::kOutOfFocus, "! FWHM "},
      {nightgen::kCloudy, "! sky "}, {nightgen::kSaturatedTarget, "! target saturated"},
      {nightgen::kFaintFlat, "! flat too faint"}, {nightgen::kSaturatedFlat, "! flat near saturation"},
      {nightgen::kShiftedBias, "! level 700.0 against 600.0"}};
  const auto files = nightgen::writeSampleNight(dir.path(), options);
  std::string page;
  auto frames = lookAt(dir.file(nightgen::kConverterFolder), page);
  int measured = 0;
  for (const nightgen::NightFile& file : files) {
    if (!file.camera) continue;
    const Looked& frame = frames[fitName(file.path)];
    const std::size_t bang = frame.line.find("  ! ");  // one flag, the planted problem's
    const std::string flags = bang == std::string::npos ? "" : frame.line.substr(bang + 2);
    const std::string expected = file.problem.empty() ? "" : flagOf.at(file.problem);
    // The shifted bias is drawn with 1.53 x the others' noise too, flagged beside its level.
    const bool alone = flags.find(';') == flags.npos || file.problem == nightgen::kShiftedBias;
    EXPECT_TRUE(flags.rfind(expected, 0) == 0 && flags.empty() == expected.empty() && alone) << frame.line;
    if (file.camera->scene != nightgen::Scene::Sky || !file.problem.empty()) continue;
    const double fwhm = 2.3548 * file.camera->seeingSigma;  // the truth, and the stars planted
    const int planted = static_cast<int>(nightgen::plantedStars(*file.camera, file.seed).size());
    ASSERT_GE(frame.fields.size(), 16u) << file.path;
    EXPECT_NEAR(std::stoi(frame.fields[14]), planted, 0.25 * planted) << frame.line;
    if (std::stoi(frame.fields[14]) < 10) continue;
    EXPECT_NEAR(std::stod(frame.fields[15]), fwhm, 0.1 * fwhm) << frame.line;
    ++measured;
  }
  EXPECT_GE(measured, 30);
  // The FWHM chart's points go in the night's order, as the rows.
  page = page.substr(page.find("<svg"), page.find("</svg>") - page.find("<svg"));
  const std::regex point("<a href=\"#f(\\d+)\"><title>[^<]*</title><circle cx=\"([\\d.]+)\"");
  std::vector<int> rows;
  for (std::sregex_iterator m(page.begin(), page.end(), point), end; m != end; ++m) {
    EXPECT_TRUE(rows.empty() || std::stoi((*m)[1]) > rows.back()) << (*m)[0];
    rows.push_back(std::stoi((*m)[1]));
  }
  EXPECT_GE(rows.size(), 30u);
}

TEST(MeasureNight, CleanNightsRaiseNoFlagAndTheBadNightsAreFlagged) {
  // Seeds 1-10 clean (even: Moffat stars, with 100 tracks); 11 defocused from its middle,
  // 12 with thin cloud, 13 cloudy throughout, judged against seed 12's clear frame 1.
  e2e::ScopedTempDir kept;
  for (unsigned seed = 1; seed <= 13; ++seed) {
    e2e::ScopedTempDir dir;
    nightgen::NightOptions options;
    options.seed = seed > 10 ? 12 : seed, options.count = seed > 10 ? 12 + 8 * (seed > 11) : 5;
    options.editor32 = options.editor16 = false, options.moffat = seed % 2 == 0 || seed > 10;
    options.cosmicTracks = seed % 2 == 0 ? 100 : 0, options.defocusedNight = seed == 11;
    options.thinCloud = seed == 12, options.cloudyNight = seed == 13;
    std::map<std::string, std::string> problemOf;
    for (const auto& file : nightgen::writeSampleNight(dir.path(), options)) problemOf[fitName(file.path)] = file.problem;
    if (seed == 13) e2e::writeFile(dir.file("tarnfits/site.conf"), "clear_frame " + kept.file("clear.fit") + "\n");
    std::string page;
    for (const auto& [name, frame] : lookAt(dir.file(nightgen::kConverterFolder), page)) {
      if (seed == 13 && !problemOf[name].empty() && name != "an0001.fit") continue;  // other fields: unjudged
      EXPECT_EQ(frame.line.find("  ! ") != std::string::npos, !problemOf[name].empty()) << "seed " << seed << ": " << frame.line;
    }
    if (seed == 12) std::filesystem::copy_file(dir.file("tarnfits/an0001.fit"), kept.file("clear.fit"));
  }
}

}  // namespace
