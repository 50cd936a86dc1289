// The zscale display interval: the limits between which an astronomical
// image is stretched linearly for display, found from a line fitted to the
// sorted values of a sample of its pixels.
#ifndef TARNLOOK_ZSCALE_H
#define TARNLOOK_ZSCALE_H

#include <cstddef>
#include <optional>
#include <vector>

namespace tarnlook {

constexpr long long kZscaleSamples = 1000;  // samples taken at most
constexpr double kZscaleContrast = 0.25;    // the fitted slope is divided by it
constexpr double kZscaleRejectSigmas = 2.5; // rejection beyond this many deviations
constexpr int kZscaleIterations = 5;        // fitting passes at most
constexpr long long kZscaleMinSamples = 5;  // fewer good samples: fall back

// The two limits, in the image's scaled units (BZERO/BSCALE applied);
// low <= high. Equal limits mean an image without contrast.
struct DisplayLimits {
  double low = 0.0;
  double high = 0.0;
};

// Picks the samples while the pixels stream past in storage order (FITS row
// 1 first): every s-th finite value, counting finite values only, from the
// first one on, with s = max(1, floor(N / 1000)) for an image of N pixels,
// and at most 1000 of them.
class ZscaleSampler {
 public:
  explicit ZscaleSampler(long long pixelCount);
  // Offers the next `count` values; `finite` of them are finite (neither NaN
  // nor infinite), as the caller counted them. When finite == count the
  // values are not looked at again, except those sampled.
  void add(const float* values, std::size_t count, std::size_t finite);
  // The samples taken so far, sorted ascending.
  std::vector<double> sortedSamples() const;

 private:
  long long stride_;
  long long finiteSeen_ = 0;
  std::vector<double> samples_;
};

// The zscale limits of samples sorted ascending (n of them):
//  1. fallback limits: the smallest and the largest sample;
//  2. fit a line to sample value against index by least squares over the
//     samples not rejected; reject each sample whose residual is beyond 2.5
//     standard deviations (population form) of the residuals of the samples
//     not rejected before this pass; widen every rejected sample to a run of
//     g = max(1, floor(n/100)) samples (floor((g-1)/2) before it, floor(g/2)
//     after it); at most 5 passes, stopping before a pass when the previous
//     one rejected nothing new or fewer than max(5, floor(n/2)) remain;
//  3. if at least max(5, floor(n/2)) samples remain, with the slope of the
//     last fit divided by the contrast 0.25, c = floor((n-1)/2) and m the
//     median of all samples: low = max(smallest, m - (c-1) slope) and
//     high = min(largest, m + (n-c) slope); otherwise the fallback limits.
// Returns nothing for no samples. All samples equal give equal limits.
std::optional<DisplayLimits> zscaleLimits(const std::vector<double>& sorted);

}  // namespace tarnlook

#endif  // TARNLOOK_ZSCALE_H
