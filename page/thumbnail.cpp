// Block averaging and the linear stretch.
#include "page.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarnlook {

ThumbnailSize thumbnailSize(long long naxis1, long long naxis2) {
  ThumbnailSize size;
  const long long longer = std::max(naxis1, naxis2);
  size.block = std::max(1LL, (longer + kThumbnailMax - 1) / kThumbnailMax);
  size.width = static_cast<int>((naxis1 + size.block - 1) / size.block);
  size.height = static_cast<int>((naxis2 + size.block - 1) / size.block);
  size.zoom = static_cast<int>(std::max(1LL, kThumbnailMax / longer));
  return size;
}

BlockAverager::BlockAverager(long long naxis1, long long naxis2)
    : naxis1_(naxis1), naxis2_(naxis2), size_(thumbnailSize(naxis1, naxis2)),
      sums_(static_cast<std::size_t>(size_.width), 0.0),
      counts_(static_cast<std::size_t>(size_.width), 0),
      averages_(static_cast<std::size_t>(size_.width) * static_cast<std::size_t>(size_.height),
                std::numeric_limits<float>::quiet_NaN()) {}

std::size_t BlockAverager::addRows(const float* rows, long long rowCount) {
  std::size_t finite = 0;
  const long long block = size_.block;
  for (long long r = 0; r < rowCount; ++r) {
    const float* row = rows + r * naxis1_;
    for (int b = 0; b < size_.width; ++b) {
      const long long from = b * block, to = std::min(naxis1_, from + block);
      float sum = 0.0f;
      long long count = 0;
      for (long long x = from; x < to; ++x) {
        const bool ok = std::isfinite(row[x]);
        sum += ok ? row[x] : 0.0f;
        count += ok;
      }
      sums_[static_cast<std::size_t>(b)] += sum;
      counts_[static_cast<std::size_t>(b)] += count;
      finite += static_cast<std::size_t>(count);
    }
    ++rowsSeen_;
    if (++rowsInBlock_ == block || rowsSeen_ == naxis2_) finishBlockRow();
  }
  return finite;
}

void BlockAverager::finishBlockRow() {
  const long long blockRow = (rowsSeen_ - 1) / size_.block;  // 0 = FITS row 1
  const long long top = size_.height - 1 - blockRow;          // drawn from the top
  if (top >= 0) {
    float* out = averages_.data() + top * size_.width;
    for (int b = 0; b < size_.width; ++b) {
      const long long n = counts_[static_cast<std::size_t>(b)];
      out[b] = n > 0 ? static_cast<float>(sums_[static_cast<std::size_t>(b)] / static_cast<double>(n))
                     : std::numeric_limits<float>::quiet_NaN();
    }
  }
  std::fill(sums_.begin(), sums_.end(), 0.0);
  std::fill(counts_.begin(), counts_.end(), 0);
  rowsInBlock_ = 0;
}

std::vector<unsigned char> stretch(const std::vector<float>& values, const DisplayLimits& limits) {
  std::vector<unsigned char> grey(values.size(), 0);
  const double range = limits.high - limits.low;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float v = values[i];
    if (!std::isfinite(v)) continue;
    if (!(range > 0.0)) {
      grey[i] = kMidGrey;
      continue;
    }
    const double level = std::clamp((v - limits.low) / range, 0.0, 1.0) * 255.0;
    grey[i] = static_cast<unsigned char>(std::lround(level));
  }
  return grey;
}

}  // namespace tarnlook
