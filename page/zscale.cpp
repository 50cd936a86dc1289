// The zscale display interval.
#include "page.h"

#include <algorithm>
#include <cmath>

namespace tarnlook {

namespace {

struct Line {
  double intercept = 0.0;
  double slope = 0.0;
};

// Least squares of value against index over the samples not rejected; the
// sums are taken about the means, so that large values lose no digits.
Line fitLine(const std::vector<double>& y, const std::vector<char>& rejected) {
  double n = 0.0, xSum = 0.0, ySum = 0.0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    if (rejected[i]) continue;
    n += 1.0;
    xSum += static_cast<double>(i);
    ySum += y[i];
  }
  const double xMean = xSum / n, yMean = ySum / n;
  double sxx = 0.0, sxy = 0.0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    if (rejected[i]) continue;
    const double dx = static_cast<double>(i) - xMean;
    sxx += dx * dx;
    sxy += dx * (y[i] - yMean);
  }
  Line line;
  line.slope = sxx > 0.0 ? sxy / sxx : 0.0;
  line.intercept = yMean - line.slope * xMean;
  return line;
}

// Population standard deviation of the residuals of the samples not rejected.
double residualDeviation(const std::vector<double>& residual, const std::vector<char>& rejected) {
  double n = 0.0, sum = 0.0;
  for (std::size_t i = 0; i < residual.size(); ++i) {
    if (!rejected[i]) {
      n += 1.0;
      sum += residual[i];
    }
  }
  const double mean = sum / n;
  double squares = 0.0;
  for (std::size_t i = 0; i < residual.size(); ++i) {
    if (!rejected[i]) squares += (residual[i] - mean) * (residual[i] - mean);
  }
  return std::sqrt(squares / n);
}

// Every rejected sample becomes a run of `grow` samples: floor((grow-1)/2)
// before it and floor(grow/2) after it.
std::vector<char> widen(const std::vector<char>& rejected, long long grow) {
  const long long n = static_cast<long long>(rejected.size());
  const long long before = (grow - 1) / 2, after = grow / 2;
  std::vector<char> wide(rejected.size(), 0);
  for (long long i = 0; i < n; ++i) {
    if (!rejected[static_cast<std::size_t>(i)]) continue;
    const long long from = std::max(0LL, i - before), to = std::min(n - 1, i + after);
    for (long long j = from; j <= to; ++j) wide[static_cast<std::size_t>(j)] = 1;
  }
  return wide;
}

double median(const std::vector<double>& sorted) {
  const std::size_t n = sorted.size();
  return n % 2 == 1 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
}

}  // namespace

ZscaleSampler::ZscaleSampler(long long pixelCount)
    : stride_(std::max(1LL, pixelCount / kZscaleSamples)) {
  samples_.reserve(static_cast<std::size_t>(kZscaleSamples));
}

void ZscaleSampler::add(const float* values, std::size_t count, std::size_t finite) {
  const std::size_t limit = static_cast<std::size_t>(kZscaleSamples);
  if (samples_.size() >= limit) return;
  if (finite == count) {
    // The finite values are the values: the samples lie at fixed steps.
    const long long offset = finiteSeen_ % stride_;
    for (long long i = offset == 0 ? 0 : stride_ - offset;
         i < static_cast<long long>(count) && samples_.size() < limit; i += stride_) {
      samples_.push_back(values[i]);
    }
    finiteSeen_ += static_cast<long long>(count);
    return;
  }
  for (std::size_t i = 0; i < count && samples_.size() < limit; ++i) {
    if (!std::isfinite(values[i])) continue;
    if (finiteSeen_++ % stride_ == 0) samples_.push_back(values[i]);
  }
}

std::vector<double> ZscaleSampler::sortedSamples() const {
  std::vector<double> sorted = samples_;
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

std::optional<DisplayLimits> zscaleLimits(const std::vector<double>& sorted) {
  if (sorted.empty()) return std::nullopt;
  const long long n = static_cast<long long>(sorted.size());
  DisplayLimits limits{sorted.front(), sorted.back()};
  if (limits.low == limits.high) return limits;

  const long long minGood = std::max(kZscaleMinSamples, n / 2);
  const long long grow = std::max(1LL, n / 100);
  std::vector<char> rejected(sorted.size(), 0);
  std::vector<double> residual(sorted.size());
  long long good = n, lastGood = n + 1;
  Line line;
  for (int pass = 0; pass < kZscaleIterations; ++pass) {
    if (good >= lastGood || good < minGood) break;
    line = fitLine(sorted, rejected);
    for (long long i = 0; i < n; ++i) {
      residual[static_cast<std::size_t>(i)] =
          sorted[static_cast<std::size_t>(i)] - (line.intercept + line.slope * static_cast<double>(i));
    }
    const double threshold = kZscaleRejectSigmas * residualDeviation(residual, rejected);
    for (std::size_t i = 0; i < residual.size(); ++i) {
      if (residual[i] < -threshold || residual[i] > threshold) rejected[i] = 1;
    }
    rejected = widen(rejected, grow);
    lastGood = good;
    good = std::count(rejected.begin(), rejected.end(), 0);
  }
  if (good < minGood) return limits;

  const double slope = line.slope / kZscaleContrast;
  const long long centre = (n - 1) / 2;
  const double m = median(sorted);
  limits.low = std::max(limits.low, m - static_cast<double>(centre - 1) * slope);
  limits.high = std::min(limits.high, m + static_cast<double>(n - centre) * slope);
  return limits;
}

}  // namespace tarnlook
