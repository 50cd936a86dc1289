// Reading a frame with CFITSIO.
#include "frame.h"

#include <fitsio.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "escape.h"

namespace tarnlook {

namespace {

constexpr long long kChunkPixels = 1 << 16;  // pixels read at a time, whole rows
constexpr long long kMaxRow = 1 << 24;       // pixels in a row at most (64 MiB buffer)

struct FitsCloser {
  void operator()(fitsfile* file) const {
    int status = 0;
    fits_close_file(file, &status);
  }
};
using FitsPtr = std::unique_ptr<fitsfile, FitsCloser>;

std::string skipped(const std::string& what, const std::string& name) {
  return what + " (" + visible(name) + ")  Skipped";
}

// The value of a header card as text, without quotes and trailing blanks;
// empty when the card is missing or unreadable.
std::string keyText(fitsfile* file, const char* keyword) {
  int status = 0;
  char value[FLEN_VALUE] = "";
  fits_read_key(file, TSTRING, keyword, value, nullptr, &status);
  if (status != 0) {
    fits_clear_errmsg();
    return "";
  }
  return value;
}

void readHeader(fitsfile* file, FrameHeader& header) {
  header.object = keyText(file, "OBJECT");
  header.dataType = keyText(file, "DATA-TYP");
  header.filter = keyText(file, "FILTER");
  header.exptime = keyText(file, "EXPTIME");
  header.ut = keyText(file, "UT");
  header.airmass = keyText(file, "AIRMASS");
}

}  // namespace

std::string FrameReader::read(const std::string& name, Frame& frame) {
  int status = 0;
  fitsfile* opened = nullptr;
  // The disk-file opener takes the name as it stands: brackets, '%' or
  // blanks in it mean nothing to CFITSIO.
  fits_open_diskfile(&opened, name.c_str(), READONLY, &status);
  FitsPtr file(opened);
  if (status != 0) {
    fits_clear_errmsg();
    return skipped(status == FILE_NOT_OPENED ? "Cannot open." : "Not a FITS file.", name);
  }
  int bitpix = 0, naxis = 0;
  long naxes[2] = {0, 0};
  fits_get_img_param(file.get(), 2, &bitpix, &naxis, naxes, &status);
  if (status != 0) {
    fits_clear_errmsg();
    return skipped("Not a FITS image.", name);
  }
  if (naxis != 2) {
    return skipped("Not a 2-D image (NAXIS = " + std::to_string(naxis) + ").", name);
  }
  if (naxes[0] < 1 || naxes[1] < 1) return skipped("Empty image.", name);
  if (naxes[0] > kMaxRow) return skipped("Image rows too long.", name);

  frame = Frame();
  frame.name = name;
  readHeader(file.get(), frame.header);
  frame.header.naxis1 = naxes[0];
  frame.header.naxis2 = naxes[1];

  const long long width = naxes[0], height = naxes[1];
  const long long rowsPerChunk = std::max(1LL, kChunkPixels / width);
  if (buffer_.size() < static_cast<std::size_t>(rowsPerChunk * width)) {
    buffer_.resize(static_cast<std::size_t>(rowsPerChunk * width));
  }
  BlockAverager averager(width, height);
  ZscaleSampler sampler(width * height);
  // Undefined pixels (BLANK of an integer image, NaN of a floating one) come
  // back as NaN and count as missing.
  float undefined = std::numeric_limits<float>::quiet_NaN();
  for (long long row = 0; row < height; row += rowsPerChunk) {
    const long long rows = std::min(rowsPerChunk, height - row);
    const long long count = rows * width;
    int anyUndefined = 0;
    fits_read_img(file.get(), TFLOAT, row * width + 1, count, &undefined, buffer_.data(),
                  &anyUndefined, &status);
    if (status != 0) {
      fits_clear_errmsg();
      return skipped("Cannot read the pixels.", name);
    }
    const std::size_t finite = averager.addRows(buffer_.data(), rows);
    sampler.add(buffer_.data(), static_cast<std::size_t>(count), finite);
  }
  const auto limits = zscaleLimits(sampler.sortedSamples());
  if (!limits) return skipped("No defined pixel.", name);
  frame.limits = *limits;
  frame.size = averager.size();
  frame.grey = stretch(averager.averages(), frame.limits);
  return "";
}

}  // namespace tarnlook
