// Thumbnails of FITS images: the pixels averaged in square blocks, then
// stretched linearly between display limits to grey levels.
#ifndef TARNLOOK_THUMBNAIL_H
#define TARNLOOK_THUMBNAIL_H

#include <cstddef>
#include <vector>

#include "zscale.h"

namespace tarnlook {

constexpr int kThumbnailMax = 256;  // pixels, the longer side at most
constexpr unsigned char kMidGrey = 128;  // an image without contrast

// A thumbnail of an image of naxis1 x naxis2 pixels: blocks of block x block
// pixels, block = max(1, ceil(max(naxis1, naxis2) / 256)), so that
// width = ceil(naxis1 / block) and height = ceil(naxis2 / block) are at most
// 256 and the aspect ratio is kept (the last block of a row or column may be
// cut short). zoom enlarges an image smaller than 256 on both sides by
// pixel repetition, zoom = max(1, floor(256 / max(naxis1, naxis2))), so
// that a tiny image is seen; it is 1 whenever block > 1.
struct ThumbnailSize {
  long long block = 1;
  int width = 0;
  int height = 0;
  int zoom = 1;
};

// Requires naxis1 >= 1 and naxis2 >= 1.
ThumbnailSize thumbnailSize(long long naxis1, long long naxis2);

// Averages the pixels of an image in the blocks of its thumbnail while the
// rows stream past in storage order (FITS row 1 first). Only finite values
// count; a block without any is NaN. Memory: one thumbnail and one row of
// block sums, whatever the image size.
class BlockAverager {
 public:
  BlockAverager(long long naxis1, long long naxis2);
  // Adds `rowCount` whole rows of naxis1 values each. Returns how many of
  // the values are finite.
  std::size_t addRows(const float* rows, long long rowCount);
  const ThumbnailSize& size() const { return size_; }
  // The block averages, width x height, top row first: FITS row 1 is at the
  // bottom, as image viewers show it. Valid once every row was added.
  const std::vector<float>& averages() const { return averages_; }

 private:
  void finishBlockRow();

  long long naxis1_;
  long long naxis2_;
  ThumbnailSize size_;
  long long rowsSeen_ = 0;
  long long rowsInBlock_ = 0;
  std::vector<double> sums_;
  std::vector<long long> counts_;
  std::vector<float> averages_;
};

// Grey levels 0 (at or below low) to 255 (at or above high), linear between
// the limits and rounded; NaN becomes 0. Equal limits give kMidGrey for
// every finite value.
std::vector<unsigned char> stretch(const std::vector<float>& values, const DisplayLimits& limits);

}  // namespace tarnlook

#endif  // TARNLOOK_THUMBNAIL_H
