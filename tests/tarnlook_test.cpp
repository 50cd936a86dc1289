// tarnlook's arithmetic: the zscale limits against astropy's ZScaleInterval
// on generated images, the sampling, block averaging and the stretch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "page.h"
#include "nightgen.h"

namespace {

using tarnlook::DisplayLimits;

struct Image {
  std::string name;
  long long naxis1, naxis2;
  std::vector<float> values;  // storage order, FITS row 1 first
};

Image generated(const char* name, nightgen::Kind kind, nightgen::Scene scene,
                double exposureSeconds, unsigned seed) {
  nightgen::CameraSpec camera;
  camera.kind = kind;
  camera.scene = scene;
  camera.exposureSeconds = exposureSeconds;
  const long long n = nightgen::pixelCountOf(kind);
  const auto values = nightgen::physicalValues(camera, seed, 0, n);
  return {name, nightgen::naxis1Of(kind), nightgen::naxis2Of(kind),
          std::vector<float>(values.begin(), values.end())};
}

DisplayLimits limitsOf(const Image& image) {
  tarnlook::ZscaleSampler sampler(image.naxis1 * image.naxis2);
  sampler.add(image.values.data(), image.values.size(), image.values.size());
  const auto limits = tarnlook::zscaleLimits(sampler.sortedSamples());
  EXPECT_TRUE(limits.has_value()) << image.name;
  return limits.value_or(DisplayLimits{});
}

// astropy's ZScaleInterval with the parameters of zscale. It takes every
// stride-th finite value of the flattened array, stride = int(max(1,
// size / n_samples)), at most n_samples of them. These images have no NaN,
// so its size is our N and the flattened (NAXIS2, NAXIS1) array is the
// storage order: it draws the same samples from the whole image by itself,
// and sorts and fits them with its own code.
const char kAstropyScript[] =
    "import sys, numpy as np\n"
    "from astropy.visualization import ZScaleInterval\n"
    "z = ZScaleInterval(n_samples=1000, contrast=0.25, max_reject=0.5,\n"
    "                   min_npixels=5, krej=2.5, max_iterations=5)\n"
    "a = sys.argv[1:]\n"
    "for path, nx, ny in zip(a[0::3], a[1::3], a[2::3]):\n"
    "    lo, hi = z.get_limits(np.fromfile(path, dtype='<f8').reshape(int(ny), int(nx)))\n"
    "    print(repr(float(lo)), repr(float(hi)))\n";

std::string fromBase64(const std::string& text) {  // "?" for a length not a multiple of 4
  std::string bytes;
  unsigned long bits = 0;
  for (std::size_t i = 0; i < text.size() && text[i] != '='; ++i) {
    bits = bits << 6 | std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/").find(text[i]);
    if (i % 4 != 0) bytes += static_cast<char>(bits >> (6 - 2 * (i % 4)) & 255);
  }
  return text.size() % 4 == 0 ? bytes : "?";
}

TEST(TarnlookZscale, LimitsAgreeWithAstropy) {
  std::vector<Image> images = {
      generated("sky and stars", nightgen::Kind::Andor16, nightgen::Scene::Sky, 60.0, 5),
      generated("flat", nightgen::Kind::S5, nightgen::Scene::Flat, 5.0, 6),
      {"constant", 300, 200, std::vector<float>(60000, 1234.5f)},
      generated("hot pixels", nightgen::Kind::T5, nightgen::Scene::Bias, 0.0, 7),
  };
  // 40 hot pixels where the sampling (every 1018th pixel) finds them.
  for (int k = 1; k <= 40; ++k) images[3].values[1018u * 23u * k] = 20000.0f;

  e2e::ScopedTempDir dir;
  std::vector<std::string> args = {"-c", kAstropyScript};
  for (std::size_t i = 0; i < images.size(); ++i) {
    std::string bytes;
    for (float v : images[i].values) {
      const double d = v;  // little-endian float64, as numpy reads '<f8'
      bytes.append(reinterpret_cast<const char*>(&d), sizeof d);
    }
    args.push_back(dir.file("image" + std::to_string(i)));
    e2e::writeFile(args.back(), bytes);
    args.push_back(std::to_string(images[i].naxis1));
    args.push_back(std::to_string(images[i].naxis2));
  }
  const e2e::RunResult astropy = e2e::runProgram("/usr/bin/python3", dir.path(), "", args, 120);
  ASSERT_EQ(astropy.exitStatus, 0) << "astropy (Debian package python3-astropy): "
                                   << astropy.err;
  std::istringstream reference(astropy.out);
  double worst = 0.0;
  for (const Image& image : images) {
    double low = 0, high = 0;
    ASSERT_TRUE(reference >> low >> high) << image.name << ": " << astropy.out;
    const DisplayLimits ours = limitsOf(image);
    const double range = high - low;
    if (std::fabs(range) <= 1e-9 * std::fabs(low)) {
      // A constant image: astropy's fit leaves a rounding slope (its limits
      // may even cross by 1e-12); ours are the value itself.
      EXPECT_EQ(ours.low, ours.high) << image.name;
      EXPECT_NEAR(ours.low, low, 1e-9 * std::fabs(low)) << image.name;
      continue;
    }
    // Within 2 % of the range: the fits differ only in rounding, which may
    // move a sample across the rejection threshold.
    EXPECT_NEAR(ours.low, low, 0.02 * range) << image.name;
    EXPECT_NEAR(ours.high, high, 0.02 * range) << image.name;
    worst = std::max({worst, std::fabs(ours.low - low) / range,
                      std::fabs(ours.high - high) / range});
    EXPECT_LT(low, high) << image.name;
  }
  std::printf("zscale against astropy: worst difference %.3g %% of the range\n", 100 * worst);
}

TEST(TarnlookZscale, SamplesEveryStrideThFiniteValue) {
  // 3000 pixels: stride 3, counted over the finite values only.
  std::vector<float> values(3000);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i);
  values[1] = values[4] = std::numeric_limits<float>::quiet_NaN();
  values[9] = std::numeric_limits<float>::infinity();
  tarnlook::ZscaleSampler sampler(3000);
  sampler.add(values.data(), 10, 7);  // finite: 0 2 3 5 6 7 8
  sampler.add(values.data() + 10, 2990, 2990);
  const std::vector<double> samples = sampler.sortedSamples();
  // Finite values 0 2 3 5 6 7 8 10 11 12 ...: every third from the first.
  ASSERT_GE(samples.size(), 5u);
  EXPECT_EQ(samples[0], 0);
  EXPECT_EQ(samples[1], 5);
  EXPECT_EQ(samples[2], 8);
  EXPECT_EQ(samples[3], 12);
  EXPECT_EQ(samples[4], 15);
  EXPECT_EQ(samples.size(), 999u);  // every third of 2997 finite values

  tarnlook::ZscaleSampler many(100000);
  std::vector<float> ramp(100000, 1.0f);
  many.add(ramp.data(), ramp.size(), ramp.size());
  EXPECT_EQ(many.sortedSamples().size(), 1000u);

  tarnlook::ZscaleSampler twos(2500);  // stride floor(2.5) = 2: 0, 2, ..., 1998
  for (std::size_t i = 0; i < 2500; ++i) ramp[i] = static_cast<float>(i);
  twos.add(ramp.data(), 2500, 2500);
  const std::vector<double> taken = twos.sortedSamples();
  ASSERT_EQ(taken.size(), 1000u);
  EXPECT_EQ(taken[1], 2);
  EXPECT_EQ(taken.back(), 1998);
}

TEST(TarnlookZscale, RejectionWorkedByHand) {
  // 0..8 and 64 (9 + 55): slope 1 + 55 x 4.5 / 82.5 = 4, residuals 8 5 2 -1
  // ... -16 and 36, squares 1980; 2.5 sqrt(1980/10) = 35.2 < 36 rejects 64
  // (over n-1: 37.1 keeps it). Then slope 1; m = 4.5, c = 4: 4.5 + 6 x 4.
  // 0..33, then i + 1, 10, ..., 100000 at i = 34..39: each pass rejects the
  // largest left only (about 6 deviations out, all else under 1). Pass 5
  // fits 0..35: mean 17.5, Sxx 3885, slope 1 + (16.5 + 10 x 17.5) / 3885 =
  // 8153/7770; m = 19.5, c = 19: 19.5 + 21 x 4 slope (a sixth pass: 103.9).
  // -56, 0..8 mirror the first (v to 8 - v): low 3.5 - 3 x 4 > -56, high cut to 8.
  std::vector<double> peeled;
  for (int i = 0; i < 34; ++i) peeled.push_back(i);
  for (double y : {35, 45, 136, 1037, 10038, 100039}) peeled.push_back(y);
  const struct {
    std::vector<double> sorted;
    double high, low = 0;  // the first two low limits lie below the smallest sample
  } cases[] = {{{0, 1, 2, 3, 4, 5, 6, 7, 8, 64}, 28.5}, {peeled, 19.5 + 84.0 * 8153 / 7770},
               {{-56, 0, 1, 2, 3, 4, 5, 6, 7, 8}, 8, -8.5}};
  for (const auto& c : cases) {
    const auto limits = tarnlook::zscaleLimits(c.sorted).value_or(DisplayLimits{-1, -1});
    EXPECT_EQ(limits.low, c.low) << c.sorted.size();
    EXPECT_NEAR(limits.high, c.high, 1e-9) << c.sorted.size();
  }
}

TEST(TarnlookTime, FromDateObsUtTimeObsJdOrMjdObs) {
  for (const std::vector<std::string>& c : std::vector<std::vector<std::string>>{  // those, then the time
           {"2024-02-29T23:59:59.75", "1:00:00", "", "", "", "2024-02-29 23:59:59"},
           {"31/12/99", "7:00:00", "01:02:03", "", "", "1999-12-31 01:02:03"},  // UT 7:00:00 unread
           {"2023-02-29", "01:00:00", "", "2460341.08339", "", "2024-01-31 14:00:04"},  // JD: from noon
           {"2024-01-31", "24:00:00", "", "", "-0.25", "1858-11-16 18:00:00"}, {"", "", "", "1x", "", "-"},
           {"2024-01-31", "23:50:00", "22:00:00", "", "", "2024-01-31 23:50:00"}, {"", "", "", "", "1e7", "-"},
           {"", "", "", "2460341.5", "60000.25", "2023-02-25 06:00:00"}, {"", "", "", "-7600000", "", "-"}}) {
    const auto t = tarnlook::exposureTime({"", "", "", "", c[1], "", 0, 0, c[0], c[2], c[3], c[4]});
    EXPECT_EQ(t ? tarnlook::utDate(*t) + " " + tarnlook::utClock(*t) : "-", c[5]) << c[0];
  }
  EXPECT_EQ(tarnlook::nightOrder(std::vector<std::optional<double>>(17, 1.0)),  // ties as many as sorts reorder
            (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
}

// 19 frames: three OBJECT frames without EXPTIME, one with an AIRMASS of 1.0 and one below 1,
// then 16 each of a DATA-TYP of its own (17 counts, in the night's order); thumbnails of 1 to 19 bytes.
TEST(TarnlookPage, ThumbnailsAndRowsOfTheSameFramesInOrderCountsAndMarks) {
  tarnlook::NightReport night;
  std::string figures, rows, shown;  // the thumbnails and rows as they should be; as shown
  for (int i = 0; i < 19; ++i) {
    const std::string n = std::to_string(i + 1), png(i + 1, static_cast<char>(255 - i));
    night.frames.push_back({n + ".fit", 0, {"", i > 2 ? "T" + std::to_string(99 - i) : "OBJECT", "", "", "",
                            i == 1 ? "1.0" : i == 2 ? "0.99" : ""}, {}, {}, {1, i + 1, 2 * i + 1, 1}, png});
    figures += " t" + n + " f" + n + " " + png + " " + n + " " + std::to_string(2 * i + 1) + " " + n + ".fit";
    rows += " f" + n + " t" + n + " " + n + ".fit" + (i == 2 ? " impossible" : "");
  }
  const std::string page = tarnlook::reportPage(night);
  const std::regex linked("<figure id=\"(\\w+)\"><a href=\"#(\\w+)\"><img src=\"data:image/png;base64,([^\"]*)\" "
                          "width=\"(\\d+)\" height=\"(\\d+)\"[^>]* title=\"([^\"]*)\"|<tr id=\"(\\w+)\"><td[^>]*>"
                          "<a href=\"#(\\w+)\">([^<]*)</a>.*?(?:(impossible)|</tr>)");
  for (std::sregex_iterator m(page.begin(), page.end(), linked), end; m != end; ++m)
    for (std::size_t g = 1; g < m->size(); ++g)
      shown += (*m)[g].matched ? " " + (g == 3 ? fromBase64((*m)[g]) : (*m)[g].str()) : "";
  EXPECT_EQ(shown, figures + rows);
  for (std::size_t i = 3; i < night.frames.size(); ++i)
    EXPECT_LT(page.find(night.frames[i - 1].header.dataType), page.find(night.frames[i].header.dataType)) << i;
  EXPECT_EQ(page.find("OBJECT exposure"), page.npos);
  EXPECT_NE(page.find("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"), page.npos);
}

TEST(TarnlookLabel, LinesOfOneFrame) {
  const tarnlook::FrameHeader header{"M31", "OBJECT", "V", "60.0", "21:04:05", "1.25", 2048, 512};
  EXPECT_EQ(tarnlook::labelLines("an0001.fit", header, 42),
            (std::vector<std::string>{"an0001.fit", "M31  OBJECT  V", "UT 21:04:05  airmass 1.25"}));
  tarnlook::FrameHeader low = header, dark = header;
  low.airmass = dark.airmass = "0.85";
  dark.dataType = "DARK";  // a calibration frame shows no airmass
  EXPECT_EQ(tarnlook::labelLines("a", low, 42)[2], "UT 21:04:05  airmass 0.85 impossible");
  EXPECT_EQ(tarnlook::labelLines("a", dark, 42)[2], "UT 21:04:05");
}

TEST(TarnlookLayout, SheetsNotWrittenAgainAreStale) {
  const std::vector<std::string> folder = {"tarnlook.png", "tarnlook-1.png", "tarnlook-3.png",
      "tarnlook-10.png", "tarnlook-01.png", "tarnlook-0.png", "tarnlook-.png", "tarnlook--1.png",
      "tarnlook-x.png", "tarnlook-1.png.part7", "notes.png"};
  using Names = std::vector<std::string>;
  EXPECT_EQ(tarnlook::staleSheets(folder, 0), Names{});  // the run drew nothing
  EXPECT_EQ(tarnlook::staleSheets(folder, 1),
            (Names{"tarnlook-1.png", "tarnlook-3.png", "tarnlook-10.png"}));
  EXPECT_EQ(tarnlook::staleSheets(folder, 3), (Names{"tarnlook.png", "tarnlook-10.png"}));
}

TEST(TarnlookZscale, FewOrNoSamples) {
  EXPECT_FALSE(tarnlook::zscaleLimits({}).has_value());
  // Fewer than five samples: the fallback limits, smallest and largest.
  const auto few = tarnlook::zscaleLimits({1.0, 2.0, 40.0});
  ASSERT_TRUE(few.has_value());
  EXPECT_EQ(few->low, 1.0);
  EXPECT_EQ(few->high, 40.0);
  const auto one = tarnlook::zscaleLimits({7.0});
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->low, 7.0);
  EXPECT_EQ(one->high, 7.0);
}

TEST(TarnlookThumbnail, SizesKeepTheAspectAndStayWithin256) {
  const struct {
    long long naxis1, naxis2;
    long long block;
    int width, height, zoom;
  } cases[] = {
      {2048, 512, 8, 256, 64, 1},  {1000, 1018, 4, 250, 255, 1}, {512, 512, 2, 256, 256, 1},
      {257, 3, 2, 129, 2, 1},      {256, 100, 1, 256, 100, 1},   {1, 1, 1, 1, 1, 256},
      {30, 20, 1, 30, 20, 8},
  };
  for (const auto& c : cases) {
    const auto size = tarnlook::thumbnailSize(c.naxis1, c.naxis2);
    const std::string what = std::to_string(c.naxis1) + " x " + std::to_string(c.naxis2);
    EXPECT_EQ(size.block, c.block) << what;
    EXPECT_EQ(size.width, c.width) << what;
    EXPECT_EQ(size.height, c.height) << what;
    EXPECT_EQ(size.zoom, c.zoom) << what;
  }
}

TEST(TarnlookThumbnail, BlocksAverageFiniteValuesWithRowOneAtTheBottom) {
  // 514 x 5: blocks of 3 x 3, 172 x 2 of them; the last column of blocks is
  // one pixel wide and the top row of blocks two rows high.
  const long long nx = 514, ny = 5;
  std::vector<float> pixels(nx * ny);
  for (long long y = 0; y < ny; ++y) {
    for (long long x = 0; x < nx; ++x) pixels[y * nx + x] = static_cast<float>(x + 1000 * y);
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (long long y = 0; y < 3; ++y) {
    for (long long x = 3; x < 6; ++x) pixels[y * nx + x] = nan;  // a whole block
  }
  pixels[0] = nan;  // one pixel of the first block
  tarnlook::BlockAverager averager(nx, ny);
  EXPECT_EQ(averager.addRows(pixels.data(), 2), static_cast<std::size_t>(2 * nx - 7));
  averager.addRows(pixels.data() + 2 * nx, 3);
  const std::vector<float>& a = averager.averages();
  ASSERT_EQ(a.size(), 344u);
  // Bottom row of the thumbnail (second row of averages): FITS rows 1-3.
  EXPECT_FLOAT_EQ(a[172 + 0], (1 + 2 + 1000 + 1001 + 1002 + 2000 + 2001 + 2002) / 8.0f);
  EXPECT_TRUE(std::isnan(a[172 + 1]));
  EXPECT_FLOAT_EQ(a[172 + 171], 513 + 1000);
  // Top row: FITS rows 4-5.
  EXPECT_FLOAT_EQ(a[0], 1 + 3500);
  EXPECT_FLOAT_EQ(a[171], 513 + 3500);
}

TEST(TarnlookThumbnail, StretchIsLinearBetweenTheLimits) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> values = {-5, 10, 12.5f, 15, 20, 99, nan};
  EXPECT_EQ(tarnlook::stretch(values, {10, 20}),
            (std::vector<unsigned char>{0, 0, 64, 128, 255, 255, 0}));
  EXPECT_EQ(tarnlook::stretch(values, {15, 15}),
            (std::vector<unsigned char>{128, 128, 128, 128, 128, 128, 0}));
}

// an0..an4: M1 in R, 60 s, SEEING 1.5, FWHM fwhm[k] px, 20 stars shifted (k, -2k) by the pointing, dimmed to light[k], sky 1000 + 60
// rate[k] ADU, an3 with 5 stars and gradient 0.5; an5..an8 BIAS of another size, an8 twice as noisy; a clear night's frame, `clear` x an0's light.
tarnlook::NightReport handNight(const std::string& siteText, std::optional<double> scale, std::string& flags, double clear = 0) {
  const double fwhm[] = {2, 2, 5, 5, 5, 0, 0, 0, 0, 0}, light[] = {1, 0.25, 1, 0.8, 0.45, 0, 0, 0, 0, clear}, rate[] = {4, 5, 6, 5, 25};
  tarnlook::NightReport night;
  for (int k = 0; k < 10; ++k) {
    tarnlook::ReportFrame f{"an" + std::to_string(k) + ".fit", 0, {"M1", k < 5 ? "OBJECT" : "BIAS", "R", "60", "", k ? "1.2" : "0.5",
                            k < 5 ? 500 : 100, 500, "", "", "", "", "", "", "1.5"}, 600.0 * k, {}, {}, {}};
    tarnlook::Measurement& m = f.measurement;  m.starsMeasured = k < 5, m.stars = k == 3 ? 5 : 20, m.median = 600, m.noise = k == 8 ? 4 : 2;
    if (k < 5) m.fwhmPixels = fwhm[k], m.elongation = 1.1, m.skyLevel = 1000 + 60 * rate[k], m.backgroundGradient = k == 3 ? 0.5 : 0.1;
    for (int s = 0; (k < 5 || k == 9) && s < 20; ++s) m.brightStars.push_back({20.0 + 23 * s + k, 20.0 + 37 * s % 450 - 2 * k, light[k] * 1000 * (s + 1)});
    night.frames.push_back(f);
  }
  tarnlook::Site site;  std::vector<tarnlook::QualityInput> in;
  for (const auto& f : night.frames) in.push_back({&f.header, &f.measurement, f.header.naxis1 == 500 ? scale : std::nullopt});
  const auto clearFrame = std::vector(in.end() - 1, in.end() - (clear > 0 ? 0 : 1));  in.pop_back();
  EXPECT_EQ(tarnlook::parseSite(siteText, site), "");
  for (std::size_t k = 0; k < in.size(); ++k)
    for (const std::string& f : (night.frames[k].quality = tarnlook::judgeNight(in, site, clearFrame)[k]).flags) flags += (flags.empty() ? "" : "; ") + std::to_string(k) + ": " + f;
  return night.frames.pop_back(), night;
}

TEST(TarnlookVerdict, FramesJudgedAgainstTheBestTheSeeingTheSiteAndTheirField) {
  const std::string best = "2: FWHM 2.5 x the night's best frames (focus or seeing); 3: FWHM 2.5 x the night's best frames "
      "(focus or seeing); 3: 5 stars against 20 on other frames of M1 in R (cloud, moon or twilight); 3: background gradient "
      "0.5 (moon, twilight or scattered light); 4: FWHM 2.5 x the night's best frames (focus or seeing); 4: sky 14.0 x the "
      "median of filter R (cloud, moon or twilight); 4: transparency 45 % of the best (cloud)";
  const std::string seeing = "FWHM 4.0 arcsec, 2.7 x the observer's SEEING 1.5 (focus or seeing)", limit =
      "FWHM 4.0 arcsec above the site's limit 3.0 (focus or seeing)", noise = "; 8: noise 4.00 against 2.00 of the night's BIAS frames";
  const struct { std::string site; std::optional<double> scale; std::string flags; } cases[] = {
      {"", std::nullopt, "1: transparency 25 % of the best (cloud); " + best + noise},
      {"", 0.8, "1: transparency 25 % of the best (cloud); " + std::regex_replace(best, std::regex("FWHM 2.5 x the night's best frames \\(focus or seeing\\)"), seeing) + noise},
      {"camera 500x500 scale 0.8 bias 1000 # the T5\nfwhm_limit 3\nsky_limit R 20\ngradient_limit 0.6\nleast_transparency 0.3", 0.8,
       "1: transparency 25 % of the best (cloud); 2: " + limit + "; 3: " + limit + "; 3: 5 stars against 20 on other frames of M1 in R "
       "(cloud, moon or twilight); 4: " + limit + "; 4: sky 25.0 ADU/s above the site's limit 20.0 for filter R (cloud, moon or twilight)" + noise}};
  for (const auto& c : cases) EXPECT_EQ([&c] { std::string flags; handNight(c.site, c.scale, flags); return flags; }(), c.flags) << c.site;
  const std::string clear = [] { std::string f; handNight("", std::nullopt, f, 2.5); return f; }();  // cloudy throughout
  EXPECT_NE(clear.find("0: transparency 40 % of the best (cloud); 1: transparency 10 % of the best (cloud); 2: FWHM 2.5 x the night's best frames (focus or seeing); 2: transparency 40 %"), clear.npos) << clear;
  tarnlook::Site site;  // a setting that is not one leaves the site as it was
  EXPECT_EQ(tarnlook::parseSite("gradient_limit 0.6\ncamera 2048x512 scale 0.42 bias\n", site) + " " +
            std::to_string(site.gradientLimit), "line 2: bias wants a positive number " + std::to_string(tarnlook::kGradientLimit));
  EXPECT_EQ(tarnlook::measureText(2.2e-19), "2.2e-19");
}

// The box names every frame flagged; the chart: larger values higher, each point its own frame's, red on its own panel.
TEST(TarnlookVerdict, TheBoxNamesEveryFlaggedFrameAndTheChartTellsTheTruth) {
  std::string flags;  tarnlook::NightReport night = handNight("", std::nullopt, flags);
  EXPECT_EQ(tarnlook::flaggedFrames(night), "4 of 5 OBJECT frames flagged: an1 cloud (transparency 25 %), an2 FWHM 2.5 x the best, "
            "an3 FWHM 2.5 x the best and few stars (5 against 20) and gradient 0.5, an4 FWHM 2.5 x the best and bright sky (14.0 x "
            "the median) and cloud (transparency 45 %); 1 of 4 calibration frames flagged: an8 noise 4.00 against 2.00");
  const std::string page = tarnlook::reportPage(night);  EXPECT_EQ(page.find("All well"), page.npos);
  EXPECT_NE(page.find("<path class=\"edge\""), page.npos);  // an0's AIRMASS 0.5, at the axis
  const std::regex point("aria-label=\"(\\w+)|<a href=\"#f(\\d)\"><title>an(\\d)[^<]*</title><circle cx=\"[\\d.]+\" cy=\"([\\d.]+)\" r=\"3.5\" fill=\"#(\\w+)\"");  std::string panel, shown;
  for (std::sregex_iterator m(page.begin(), page.end(), point), end; m != end; ++m)
    shown += (*m)[1].matched ? (panel = (*m)[1]).substr(0, 0) : " " + panel + " " + std::to_string(std::stoi((*m)[2]) - 1) + (*m)[3].str() + " " + (*m)[5].str() + (std::stod((*m)[4]) < 60 ? " high" : "");
  EXPECT_EQ(shown, " FWHM 00 246 FWHM 11 246 FWHM 22 c00 high FWHM 33 c00 high FWHM 44 c00 high sky 11 246 sky 22 246 sky 33 c00 sky 44 c00 "
      "high transparency 00 246 high transparency 11 c00 transparency 22 246 high transparency 33 246 high transparency 44 c00 airmass 11 246 airmass 22 246 airmass 33 246 airmass 44 246");
  for (auto& f : night.frames) f.quality = {}, f.header.airmass = "1.2";
  EXPECT_NE(tarnlook::reportPage(night).find("<p class=\"ok\">All well"), std::string::npos);
}

}  // namespace
