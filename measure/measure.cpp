// Measuring a frame: plain statistics of its pixels, and its stars with SEP.
#include "measure.h"

// SEP's header declares C functions without extern "C".
extern "C" {
#include <sep.h>
}

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace tarnlook {

namespace {

constexpr std::size_t kStatisticsSamples = 50000;  // pixels the median and noise are taken from
constexpr double kMadToSigma = 1.4826;              // MAD of a normal distribution to its sigma
constexpr int kMeshFilter = 3;                      // SEP's median filter of the mesh, meshes
// SEP's extraction, as Source Extractor's defaults have it.
constexpr float kConvolution[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
constexpr int kDeblendLevels = 32;
constexpr double kDeblendContrast = 0.005;
constexpr double kCleanParameter = 1.0;
// The half-light radius is taken within kFluxRadiusInA x the isophotal
// semi-major axis, at least kMinFluxRadius pixels: 99.9 % of a Gaussian's
// light lies within 3.7 sigma, and a faint star's isophote is tight.
// A saturated pixel is one within a float's rounding of the level.
constexpr double kSaturationRounding = 1e-5;
constexpr double kFluxRadiusInA = 5.0;
constexpr double kMinFluxRadius = 6.0;
constexpr int kSubpixels = 5;
// The target is the star nearest the centre within this fraction of the
// shorter side.
constexpr double kTargetReach = 0.25;

struct BkgFree {
  void operator()(sep_bkg* bkg) const { sep_bkg_free(bkg); }
};
struct CatalogFree {
  void operator()(sep_catalog* catalog) const { sep_catalog_free(catalog); }
};

std::string sepError(int status) {
  char message[128] = "";
  sep_get_errmsg(status, message);
  return std::string("SEP: ") + message;
}

double median(std::vector<float>& values) {
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(half), values.end());
  return values[half];
}

// The every-frame numbers; returns the count of defined pixels.
std::size_t statistics(const std::vector<float>& pixels, double saturation, Measurement& m) {
  std::size_t defined = 0;
  long long saturated = 0;
  float maximum = -std::numeric_limits<float>::infinity();
  for (const float v : pixels) {
    if (!std::isfinite(v)) continue;
    ++defined;
    maximum = std::max(maximum, v);
    saturated += v >= saturation;
  }
  m.saturatedPixels = saturated;
  const std::size_t stride = std::max<std::size_t>(1, pixels.size() / kStatisticsSamples);
  std::vector<float> sample;
  sample.reserve(pixels.size() / stride + 1);
  for (std::size_t i = 0; i < pixels.size(); i += stride) {
    if (std::isfinite(pixels[i])) sample.push_back(pixels[i]);
  }
  if (sample.empty()) return defined;
  m.maximum = maximum;
  m.median = median(sample);
  for (float& v : sample) v = std::fabs(v - static_cast<float>(m.median));
  m.noise = kMadToSigma * median(sample);
  return defined;
}

// The undefined pixels set to the median and marked in a mask; empty when
// there is none.
std::vector<unsigned char> maskUndefined(std::vector<float>& pixels, double level, bool any) {
  std::vector<unsigned char> mask;
  if (!any) return mask;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    if (std::isfinite(pixels[i])) continue;
    if (mask.empty()) mask.assign(pixels.size(), 0);
    mask[i] = 1;
    pixels[i] = static_cast<float>(level);
  }
  return mask;
}

struct Source {
  double x, y, fwhm, elongation;
  bool saturated, truncated;
};

// The stars of a background-subtracted image among SEP's sources.
std::vector<Source> starsOf(const sep_image& image, const sep_catalog& c, const sep_bkg& bkg,
                            double saturation) {
  std::vector<Source> stars;
  const double half = 0.5;
  for (int i = 0; i < c.nobj; ++i) {
    if (!(c.peak[i] <= kMaxStarPeakFraction * c.flux[i]) || c.b[i] <= 0.0f) continue;
    const double rmax = std::max(kMinFluxRadius, kFluxRadiusInA * c.a[i]);
    double radius = 0.0;
    short flag = 0;
    if (sep_flux_radius(&image, c.x[i], c.y[i], rmax, 0, kSubpixels, 0, nullptr, &half, 1,
                        &radius, &flag) != 0) {
      continue;
    }
    // A Gaussian holds half its light within FWHM / 2.
    const double fwhm = 2.0 * radius;
    const std::size_t peak = static_cast<std::size_t>(c.ypeak[i]) * static_cast<std::size_t>(image.w) +
                             static_cast<std::size_t>(c.xpeak[i]);
    const double raw = static_cast<const float*>(image.data)[peak] +
                       sep_bkg_pix(&bkg, c.xpeak[i], c.ypeak[i]);
    stars.push_back({c.x[i], c.y[i], fwhm, c.a[i] / c.b[i], raw >= saturation * (1.0 - kSaturationRounding),
                     (c.flag[i] & SEP_OBJ_TRUNC) != 0});
  }
  return stars;
}

double medianOf(std::vector<double> values) {
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(half), values.end());
  if (values.size() % 2 == 1) return values[half];
  return 0.5 * (values[half] + *std::max_element(values.begin(), values.begin() + static_cast<long>(half)));
}

void summarise(const std::vector<Source>& stars, long long width, long long height, int binning,
               Measurement& m) {
  m.stars = static_cast<int>(stars.size());
  std::vector<double> fwhms, elongations;
  const double cx = 0.5 * static_cast<double>(width - 1), cy = 0.5 * static_cast<double>(height - 1);
  double nearest = kTargetReach * static_cast<double>(std::min(width, height));
  for (const Source& s : stars) {
    if (s.saturated) ++m.saturatedStars;
    if (!s.saturated && !s.truncated) {
      fwhms.push_back(s.fwhm * binning);
      elongations.push_back(s.elongation);
    }
    const double distance = std::hypot(s.x - cx, s.y - cy);
    if (distance < nearest) {
      nearest = distance;
      m.targetSaturated = s.saturated;
    }
  }
  if (!fwhms.empty()) {
    m.fwhmPixels = medianOf(fwhms);
    m.elongation = medianOf(elongations);
  }
}

// The stars of the image, or the reason in m.notMeasured.
void measureStars(std::vector<float>& pixels, long long width, long long height, int binning,
                  double saturation, bool undefined, Measurement& m) {
  if (width < kMeshPixels || height < kMeshPixels) {
    m.notMeasured = "smaller than the background mesh (" + std::to_string(kMeshPixels) + " x " +
                    std::to_string(kMeshPixels) + " pixels)";
    return;
  }
  const std::vector<unsigned char> mask = maskUndefined(pixels, m.median, undefined);
  sep_image image{};
  image.data = pixels.data();
  image.dtype = SEP_TFLOAT;
  image.mask = mask.empty() ? nullptr : mask.data();
  image.mdtype = SEP_TBYTE;
  image.maskthresh = 0.0;
  image.w = static_cast<int>(width);
  image.h = static_cast<int>(height);
  sep_bkg* rawBkg = nullptr;
  int status = sep_background(&image, kMeshPixels, kMeshPixels, kMeshFilter, kMeshFilter, 0.0, &rawBkg);
  std::unique_ptr<sep_bkg, BkgFree> bkg(rawBkg);
  if (status != 0) {
    m.notMeasured = sepError(status);
    return;
  }
  const float rms = sep_bkg_globalrms(bkg.get());
  if (!(rms > 0.0f)) {  // the meshes are flat where the median deviation was not
    m.notMeasured = "a constant frame";
    return;
  }
  m.skyLevel = sep_bkg_global(bkg.get());
  status = sep_bkg_subarray(bkg.get(), pixels.data(), SEP_TFLOAT);
  image.noiseval = rms;
  image.noise_type = SEP_NOISE_STDDEV;
  sep_catalog* rawCatalog = nullptr;
  if (status == 0) {
    status = sep_extract(&image, kDetectSigmas, SEP_THRESH_REL, kMinStarArea, kConvolution, 3, 3,
                         SEP_FILTER_CONV, kDeblendLevels, kDeblendContrast, 1, kCleanParameter,
                         &rawCatalog);
  }
  std::unique_ptr<sep_catalog, CatalogFree> catalog(rawCatalog);
  if (status != 0) {
    m.skyLevel.reset();
    m.notMeasured = sepError(status);
    return;
  }
  m.starsMeasured = true;
  summarise(starsOf(image, *catalog, *bkg, saturation), width, height, binning, m);
}

}  // namespace

void setSepLimits(std::size_t pixelStack, int subObjects) {
  sep_set_extract_pixstack(pixelStack);
  sep_set_sub_object_limit(subObjects);
}

MeasureCopy::MeasureCopy(long long width, long long height, int binning)
    : naxis1_(width), width_((width + binning - 1) / binning),
      height_((height + binning - 1) / binning), binning_(binning) {
  if (binning > 1) {
    values_.assign(static_cast<std::size_t>(width_ * height_), 0.0f);
    counts_.assign(values_.size(), 0);
  } else {
    values_.reserve(static_cast<std::size_t>(width_ * height_));
  }
}

void MeasureCopy::addRows(const float* rows, long long rowCount) {
  if (binning_ == 1) {
    values_.insert(values_.end(), rows, rows + rowCount * naxis1_);
    rowsSeen_ += rowCount;
    return;
  }
  for (long long r = 0; r < rowCount; ++r, ++rowsSeen_) {
    const std::size_t line = static_cast<std::size_t>(rowsSeen_ / binning_ * width_);
    for (long long x = 0; x < naxis1_; ++x) {
      const float v = rows[r * naxis1_ + x];
      if (!std::isfinite(v)) continue;
      const std::size_t at = line + static_cast<std::size_t>(x / binning_);
      values_[at] += v;
      ++counts_[at];
    }
  }
}

std::vector<float>& MeasureCopy::pixels() {
  if (binning_ > 1 && !counts_.empty()) {
    for (std::size_t i = 0; i < values_.size(); ++i) {
      values_[i] = counts_[i] ? values_[i] / counts_[i] : std::numeric_limits<float>::quiet_NaN();
    }
    counts_.clear();
  }
  return values_;
}

int measureBinning(long long width, long long height) {
  for (int b = 1; b <= kMaxBinning; ++b) {
    if (((width + b - 1) / b) * ((height + b - 1) / b) <= kMeasureBudgetPixels) return b;
  }
  return 0;
}

Measurement measurePixels(std::vector<float>& pixels, long long width, long long height,
                          int binning, double saturation, bool findStars) {
  Measurement m;
  m.binning = binning;
  m.saturation = saturation;
  const std::size_t defined = statistics(pixels, saturation, m);
  if (!findStars) return m;
  if (defined < pixels.size() / 2 || defined == 0) {
    m.notMeasured = "too few defined pixels";
    return m;
  }
  if (!(m.noise > 0.0)) {
    m.notMeasured = "a constant frame";
    return m;
  }
  measureStars(pixels, width, height, binning, saturation, defined < pixels.size(), m);
  return m;
}

double saturationLevel(int bitpix, double bzero, double bscale) {
  if (bitpix < 0) return std::numeric_limits<double>::infinity();
  // BITPIX 8 is unsigned; the others are two's complement.
  const double top = bitpix == 8 ? 255.0 : std::ldexp(1.0, bitpix - 1) - 1.0;
  return bzero + bscale * top;
}

}  // namespace tarnlook
