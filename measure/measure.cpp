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

#include "psf_fit.h"

namespace tarnlook {

namespace {

constexpr std::size_t kStatisticsSamples = 50000;  // pixels the median and noise are taken from
constexpr double kMadToSigma = 1.4826;              // MAD of a normal distribution to its sigma
// A normal distribution cut at kClip sigmas keeps kClippedSigma of its sigma.
constexpr double kClip = 3.0;
constexpr double kClippedSigma = 0.98658;
constexpr int kClipRounds = 3;
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
// A cosmic-ray track is flat, its pixels alike: its light over its peak
// times its pixels above the threshold is near 1. A star's is
// 1 / ln(peak / threshold) (a Gaussian; a Moffat's less), under 0.4 from
// kFlatPeakThresholds up even where the pixel's width lowers its peak.
constexpr double kFlatPeakThresholds = 20.0;
constexpr double kMaxStarFlatness = 0.7;
// The target is the star nearest the centre within this fraction of the
// shorter side.
constexpr double kTargetReach = 0.25;

constexpr std::size_t kMaxFittedStars = 6;  // stars whose profile is fitted, per frame
constexpr std::size_t kBrightStars = 100;    // stars kept for matching frames

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

// The standard deviation of the values within kClip sigmas of `centre`,
// sigma first from the median absolute deviation, then from the previous
// round (kClipRounds), corrected for the tails cut off. Unlike the median
// deviation it is not quantised where the values are whole numbers.
double clippedDeviation(const std::vector<float>& values, double centre, double sigma) {
  for (int round = 0; round < kClipRounds && sigma > 0.0; ++round) {
    double sum = 0.0, squares = 0.0;
    std::size_t count = 0;
    for (const float v : values) {
      const double d = v - centre;
      if (std::fabs(d) > kClip * sigma) continue;
      sum += d;
      squares += d * d;
      ++count;
    }
    const double mean = sum / static_cast<double>(count);
    sigma = std::sqrt(std::max(0.0, squares / static_cast<double>(count) - mean * mean)) / kClippedSigma;
  }
  return sigma;
}

// The every-frame numbers; returns the count of defined pixels.
std::size_t statistics(const std::vector<float>& pixels, double saturation, Measurement& m) {
  const float lowest = -std::numeric_limits<float>::infinity(), largest = std::numeric_limits<float>::max();
  // The least float at or above the level: a float sample reaches the
  // level exactly when it reaches that.
  float level = static_cast<float>(saturation);
  if (static_cast<double>(level) < saturation) level = std::nextafter(level, -lowest);
  float maximum = lowest;
  long long defined = 0, saturated = 0;
  // Without branches, so that the compiler can vectorise the one pass over
  // every pixel; NaN fails every comparison.
  for (const float v : pixels) {
    const bool finite = v >= -largest && v <= largest;
    const float value = finite ? v : lowest;
    defined += finite;
    maximum = value > maximum ? value : maximum;
    saturated += value >= level;
  }
  m.saturatedPixels = saturated;
  const std::size_t stride = std::max<std::size_t>(1, pixels.size() / kStatisticsSamples);
  std::vector<float> sample;
  sample.reserve(pixels.size() / stride + 1);
  for (std::size_t i = 0; i < pixels.size(); i += stride) {
    if (std::isfinite(pixels[i])) sample.push_back(pixels[i]);
  }
  if (sample.empty()) return static_cast<std::size_t>(defined);
  m.maximum = maximum;
  m.median = median(sample);
  std::vector<float> deviations(sample);
  for (float& v : deviations) v = std::fabs(v - static_cast<float>(m.median));
  m.noise = clippedDeviation(sample, m.median, kMadToSigma * median(deviations));
  return static_cast<std::size_t>(defined);
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

// The rectangle of an image held in memory; false when it leaves the image.
bool readCutout(const std::vector<float>& pixels, long long width, long long height, long long x0,
                long long y0, int w, int h, std::vector<float>& out) {
  if (x0 < 0 || y0 < 0 || x0 + w > width || y0 + h > height) return false;
  out.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (int j = 0; j < h; ++j) {
    const auto row = pixels.begin() + static_cast<long>((y0 + j) * width + x0);
    std::copy(row, row + w, out.begin() + static_cast<long>(j) * w);
  }
  return true;
}

// The sources SEP found, as candidates in full-resolution pixels: a
// position (x, y) of a copy binned by b is the centre b x + (b - 1) / 2 of
// its block; a flux of the copy (block means) is b^2 times the frame's.
std::vector<Candidate> candidatesOf(const sep_image& image, const sep_catalog& c, const sep_bkg& bkg,
                                    double saturation, int binning) {
  std::vector<Candidate> candidates(static_cast<std::size_t>(c.nobj));
  const double half = 0.5, offset = 0.5 * (binning - 1);
  const double sharpFraction = binning > 1 ? kMaxBinnedPeakFraction : kMaxStarPeakFraction;
  for (int i = 0; i < c.nobj; ++i) {
    Candidate& s = candidates[static_cast<std::size_t>(i)];
    s.x = binning * c.x[i] + offset;
    s.y = binning * c.y[i] + offset;
    s.flux = static_cast<double>(c.flux[i]) * binning * binning;
    s.minor = c.b[i];
    s.elongation = c.b[i] > 0.0f ? c.a[i] / c.b[i] : 1.0;
    s.theta = c.theta[i];
    s.sharp = !(c.peak[i] <= sharpFraction * c.flux[i]) || c.b[i] <= 0.0f;
    s.truncated = (c.flag[i] & SEP_OBJ_TRUNC) != 0;
    s.blended = (c.flag[i] & SEP_OBJ_MERGED) != 0;
    const std::size_t peak = static_cast<std::size_t>(c.ypeak[i]) * static_cast<std::size_t>(image.w) +
                             static_cast<std::size_t>(c.xpeak[i]);
    const double raw = static_cast<const float*>(image.data)[peak] + sep_bkg_pix(&bkg, c.xpeak[i], c.ypeak[i]);
    s.saturated = raw >= saturation * (1.0 - kSaturationRounding);
    // Flat: a track gives every pixel it crosses about the same light.
    const double flatness = c.flux[i] / (static_cast<double>(c.peak[i]) * c.tnpix[i]);
    s.sharp = s.sharp || (!s.saturated && c.peak[i] > kFlatPeakThresholds * c.thresh[i] &&
                          flatness > kMaxStarFlatness);
    if (s.sharp) continue;
    const double rmax = std::max(kMinFluxRadius, kFluxRadiusInA * c.a[i]);
    short flag = 0;
    if (sep_flux_radius(&image, c.x[i], c.y[i], rmax, 0, kSubpixels, 0, nullptr, &half, 1,
                        &s.halfLight, &flag) != 0) {
      s.halfLight = 0.0;
    }
  }
  return candidates;
}

double medianOf(std::vector<double> values) {
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(half), values.end());
  if (values.size() % 2 == 1) return values[half];
  return 0.5 * (values[half] + *std::max_element(values.begin(), values.begin() + static_cast<long>(half)));
}

// Where the fits read their pixels, and the sources' pixels (SEP's
// segmentation) that mask the neighbours of each star.
struct FitSource {
  const CutoutReader& read;
  const sep_catalog& catalog;
  int searchedWidth;  // of the image SEP searched
  int block;          // its pixel's side in the pixels fitted: its binning, or 1
  int scale;          // the side of a pixel fitted in frame pixels: 1, or the binning
};
// The cutout of side 2 half + 1 around (x, y), the pixels of every other
// source masked; nothing when it leaves the frame or cannot be read.
std::optional<Cutout> cutoutAround(const FitSource& from, int source, double x, double y, int half) {
  Cutout cutout;
  cutout.x0 = std::llround(x) - half;
  cutout.y0 = std::llround(y) - half;
  cutout.size = 2 * half + 1;
  if (!from.read(cutout.x0, cutout.y0, cutout.size, cutout.size, cutout.values)) return std::nullopt;
  cutout.masked.assign(cutout.values.size(), 0);
  const sep_catalog& c = from.catalog;
  const long long b = from.block;
  for (int j = 0; j < c.nobj; ++j) {
    if (j == source || (c.xmax[j] + 1) * b <= cutout.x0 || c.xmin[j] * b >= cutout.x0 + cutout.size ||
        (c.ymax[j] + 1) * b <= cutout.y0 || c.ymin[j] * b >= cutout.y0 + cutout.size) {
      continue;
    }
    for (int k = 0; k < c.npix[j]; ++k) {
      const long long px = c.pix[j][k] % from.searchedWidth, py = c.pix[j][k] / from.searchedWidth;
      for (long long fy = py * b; fy < (py + 1) * b; ++fy) {
        for (long long fx = px * b; fx < (px + 1) * b; ++fx) {
          const long long i = fx - cutout.x0, jj = fy - cutout.y0;
          if (i >= 0 && jj >= 0 && i < cutout.size && jj < cutout.size) {
            cutout.masked[static_cast<std::size_t>(jj * cutout.size + i)] = 1;
          }
        }
      }
    }
  }
  return cutout;
}

// The profiles of the brightest isolated unsaturated stars, kMaxFittedStars at most.
std::vector<PsfFit> fitStars(const FitSource& from, const std::vector<Candidate>& candidates,
                             const std::vector<SourceKind>& kinds) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& c = candidates[i];
    if (kinds[i] == SourceKind::Star && !c.saturated && !c.truncated && !c.blended) order.push_back(i);
  }
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return candidates[a].flux > candidates[b].flux; });
  std::vector<PsfFit> fits;
  for (std::size_t k = 0; k < order.size() && k < 2 * kMaxFittedStars && fits.size() < kMaxFittedStars; ++k) {
    const Candidate& c = candidates[order[k]];
    const double half = 0.5 * (from.scale - 1), x = (c.x - half) / from.scale, y = (c.y - half) / from.scale;
    const double guess = 2.0 * c.halfLight * from.block;
    const auto cutout = cutoutAround(from, static_cast<int>(order[k]), x, y, cutoutHalfWidth(guess));
    if (!cutout) continue;
    if (auto fit = fitMoffat(*cutout, x, y, guess)) {
      fit->fwhmPixels *= from.scale;
      fits.push_back(*fit);
    }
  }
  return fits;
}

void summarise(const std::vector<Candidate>& candidates, const std::vector<SourceKind>& kinds,
               const std::vector<PsfFit>& fits, long long width, long long height, int binning,
               Measurement& m) {
  std::vector<double> halfLight;
  std::vector<std::size_t> bright;
  const double cx = 0.5 * static_cast<double>(width - 1), cy = 0.5 * static_cast<double>(height - 1);
  double nearest = kTargetReach * static_cast<double>(std::min(width, height));
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& s = candidates[i];
    m.cosmicRays += kinds[i] == SourceKind::CosmicRay;
    if (kinds[i] == SourceKind::CosmicRay) continue;
    // The target is the source nearest the centre, a star or not: a
    // neighbour's wings can take it off the stars' locus.
    const double distance = std::hypot(s.x - cx, s.y - cy);
    if (distance < nearest) {
      nearest = distance;
      m.targetSaturated = s.saturated;
    }
    if (kinds[i] != SourceKind::Star) continue;
    ++m.stars;
    if (s.saturated) ++m.saturatedStars;
    if (!s.saturated && !s.truncated) {
      halfLight.push_back(2.0 * s.halfLight * binning);
      bright.push_back(i);
    }
  }
  if (!halfLight.empty()) m.halfLightDiameter = medianOf(halfLight);
  const std::size_t keep = std::min(bright.size(), kBrightStars);
  std::partial_sort(bright.begin(), bright.begin() + static_cast<long>(keep), bright.end(),
                    [&](std::size_t a, std::size_t b) { return candidates[a].flux > candidates[b].flux; });
  for (std::size_t k = 0; k < keep; ++k) {
    const Candidate& s = candidates[bright[k]];
    m.brightStars.push_back({s.x, s.y, s.flux});
  }
  m.starsFitted = static_cast<int>(fits.size());
  if (fits.empty()) return;
  std::vector<double> fwhm, beta, ratio;
  for (const PsfFit& f : fits) {
    fwhm.push_back(f.fwhmPixels);
    beta.push_back(f.beta);
    ratio.push_back(f.axisRatio);
  }
  m.fwhmPixels = medianOf(fwhm);
  m.beta = medianOf(beta);
  m.axisRatio = m.elongation = medianOf(ratio);
}

// (max - min) of SEP's background map over its median; none when the
// median is not above 0.
std::optional<double> gradientOf(const sep_bkg& bkg) {
  std::vector<double> meshes(bkg.back, bkg.back + bkg.n);
  const auto [low, high] = std::minmax_element(meshes.begin(), meshes.end());
  const double range = *high - *low, middle = medianOf(meshes);
  if (!(middle > 0.0)) return std::nullopt;
  return range / middle;
}

// The stars of the image, or the reason in m.notMeasured.
void measureStars(std::vector<float>& pixels, long long width, long long height, int binning,
                  double saturation, bool undefined, const CutoutReader& fullResolution, Measurement& m) {
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
  m.backgroundGradient = gradientOf(*bkg);
  const std::vector<Candidate> candidates = candidatesOf(image, *catalog, *bkg, saturation, binning);
  const std::vector<SourceKind> kinds = classifySources(candidates);
  // Unbinned, the stars are fitted on the image itself (its background
  // removed); binned, on cutouts of the frame at full resolution.
  const CutoutReader inMemory = [&](long long x0, long long y0, int w, int h, std::vector<float>& out) {
    return readCutout(pixels, width, height, x0, y0, w, h, out);
  };
  const bool fromFrame = binning > 1 && fullResolution;
  const FitSource from{fromFrame ? fullResolution : inMemory, *catalog, image.w, fromFrame ? binning : 1,
                       fromFrame ? 1 : binning};
  std::vector<PsfFit> fits = fitStars(from, candidates, kinds);
  summarise(candidates, kinds, fits, width * binning, height * binning, binning, m);
}

}  // namespace

void setSepLimits(std::size_t pixelStack, int subObjects) {
  sep_set_extract_pixstack(pixelStack);
  sep_set_sub_object_limit(subObjects);
}

Measurement measurePixels(std::vector<float>& pixels, long long width, long long height,
                          int binning, double saturation, bool findStars,
                          const CutoutReader& fullResolution) {
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
  measureStars(pixels, width, height, binning, saturation, defined < pixels.size(), fullResolution, m);
  return m;
}

double saturationLevel(int bitpix, double bzero, double bscale) {
  if (bitpix < 0) return std::numeric_limits<double>::infinity();
  // BITPIX 8 is unsigned; the others are two's complement.
  const double top = bitpix == 8 ? 255.0 : std::ldexp(1.0, bitpix - 1) - 1.0;
  return bzero + bscale * top;
}

}  // namespace tarnlook
