// The copy of a frame that is measured: its rows, or the means of b x b
// blocks of a frame too large for the memory budget.
#include <cmath>
#include <limits>

#include "measure.h"

namespace tarnlook {

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
    std::vector<unsigned char>().swap(counts_);  // freed before the stars are measured
  }
  return values_;
}

int measureBinning(long long width, long long height) {
  for (int b = 1; b <= kMaxBinning; ++b) {
    if (((width + b - 1) / b) * ((height + b - 1) / b) <= kMeasureBudgetPixels) return b;
  }
  return 0;
}

}  // namespace tarnlook
