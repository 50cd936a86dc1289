// Measuring frames: stars told from hot pixels and cosmic-ray hits, the
// FWHM of unsaturated stars, and bad input that gets a reason.
#include "measure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "e2e.h"
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
  // The saturation level of BITPIX 16 with BZERO 32768 and without, of 8, 32 with BZERO 2^31, and -32.
  EXPECT_EQ(std::vector<double>({tarnlook::saturationLevel(16, 32768, 1), tarnlook::saturationLevel(16, 0, 1),
      tarnlook::saturationLevel(8, 0, 1), tarnlook::saturationLevel(32, 2147483648.0, 1),
      tarnlook::saturationLevel(-32, 0, 1)}), std::vector<double>({65535, 32767, 255, 4294967295.0, inf}));
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
    EXPECT_TRUE(flags.rfind(expected, 0) == 0 && flags.empty() == expected.empty() && flags.find(';') == flags.npos) << frame.line;
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

TEST(MeasureNight, TenCleanNightsRaiseNoFlag) {
  for (unsigned seed = 1; seed <= 10; ++seed) {
    e2e::ScopedTempDir dir;
    nightgen::NightOptions options;
    options.seed = seed;
    options.editor32 = options.editor16 = false;
    nightgen::writeSampleNight(dir.path(), options);
    std::string page;
    for (const auto& [name, frame] : lookAt(dir.file(nightgen::kConverterFolder), page)) {
      EXPECT_EQ(frame.line.find("  ! "), std::string::npos) << "seed " << seed << ": " << frame.line;
    }
  }
}

}  // namespace
