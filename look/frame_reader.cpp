// Reading a frame with CFITSIO.
#include "look.h"

#include <fitsio.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "frames.h"

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

// The type card of other observatories (FrameHeader::otherType).
void otherTypeOf(fitsfile* file, FrameHeader& header) {
  // CFITSIO finds a HIERARCH card by the words after HIERARCH.
  for (const char* keyword : {"IMAGETYP", "OBSTYPE", "IMGTYPE", "ESO DPR TYPE"}) {
    if (!header.otherType.empty()) return;
    header.otherType = keyText(file, keyword);
  }
}

// The header of the current HDU, the cards missing there taken from the
// primary header when the image is an extension.
void readHeader(fitsfile* file, int extension, FrameHeader& header) {
  const std::pair<const char*, std::string FrameHeader::*> cards[] = {
      {"OBJECT", &FrameHeader::object},     {"DATA-TYP", &FrameHeader::dataType},
      {"FILTER", &FrameHeader::filter},     {"EXPTIME", &FrameHeader::exptime},
      {"UT", &FrameHeader::ut},             {"AIRMASS", &FrameHeader::airmass},
      {"DATE-OBS", &FrameHeader::dateObs},  {"TIME-OBS", &FrameHeader::timeObs},
      {"JD", &FrameHeader::jd},             {"MJD-OBS", &FrameHeader::mjdObs},
      {"OBSERVER", &FrameHeader::observer}, {"WEATHER", &FrameHeader::weather},
      {"SEEING", &FrameHeader::seeing},     {"DATE", &FrameHeader::cameraDate},
      {"EXPOSURE", &FrameHeader::cameraExposure}};
  for (const auto& [keyword, value] : cards) header.*value = keyText(file, keyword);
  otherTypeOf(file, header);
  if (extension == 0) return;
  int status = 0;
  fits_movabs_hdu(file, 1, nullptr, &status);
  for (const auto& [keyword, value] : cards) {
    if ((header.*value).empty()) header.*value = keyText(file, keyword);
  }
  if (header.otherType.empty()) otherTypeOf(file, header);
  fits_movabs_hdu(file, extension + 1, nullptr, &status);
  fits_clear_errmsg();
}

// Opens the file `name` and moves to its image (FrameReader::read): sets
// `extension`, `naxis` and the first two axes. Returns nothing, or why
// there is no image to draw.
std::optional<PassedOver> openImage(const std::string& name, FitsPtr& file, int& extension,
                                    int& naxis, long naxes[2], int& bitpix) {
  int status = 0;
  fitsfile* opened = nullptr;
  // The disk-file opener takes the name as it stands: brackets, '%' or
  // blanks in it mean nothing to CFITSIO.
  fits_open_diskfile(&opened, name.c_str(), READONLY, &status);
  file.reset(opened);
  extension = 0;
  if (status != 0) {
    fits_clear_errmsg();
    return PassedOver{name, 0, status == FILE_NOT_OPENED ? "Cannot open." : "Not a FITS file."};
  }
  for (;;) {
    fits_get_img_param(file.get(), 2, &bitpix, &naxis, naxes, &status);
    if (status != 0) {
      fits_clear_errmsg();
      return PassedOver{name, extension, "Not a FITS image."};
    }
    if (naxis != 0) return std::nullopt;
    // No image here: the next HDU that is one (a tile-compressed image is
    // one to CFITSIO), if any.
    int type = ANY_HDU;
    do {
      fits_movabs_hdu(file.get(), ++extension + 1, nullptr, &status);
      fits_get_hdu_type(file.get(), &type, &status);
    } while (status == 0 && type != IMAGE_HDU);
    if (status != 0) {
      fits_clear_errmsg();
      return PassedOver{name, 0, status == END_OF_FILE ? "No image in any HDU." : "Not a FITS image."};
    }
  }
}

// The saturation level of the image: its SATURATE card, else its BITPIX
// with its BZERO and BSCALE.
double saturationOf(fitsfile* file, int bitpix) {
  double saturate = 0.0, bzero = 0.0, bscale = 1.0;
  int status = 0;
  if (fits_read_key(file, TDOUBLE, "SATURATE", &saturate, nullptr, &status) == 0) return saturate;
  status = 0;
  if (fits_read_key(file, TDOUBLE, "BZERO", &bzero, nullptr, &status) != 0) bzero = 0.0;
  status = 0;
  if (fits_read_key(file, TDOUBLE, "BSCALE", &bscale, nullptr, &status) != 0) bscale = 1.0;
  fits_clear_errmsg();
  return saturationLevel(bitpix, bzero, bscale);
}

// Measures the frame's pixels. The stars are looked for on sky frames, and
// on frames without any type card: those that hold stars are sky frames
// too, the others are measured as frames of no type.
Measurement measureFrame(MeasureCopy& copy, const FrameHeader& header, double saturation,
                         const CutoutReader& fullResolution) {
  const std::string type = frameType(header);
  const bool untyped = type.empty();
  Measurement measured = measurePixels(copy.pixels(), copy.width(), copy.height(), copy.binning(),
                                       saturation, type == "OBJECT" || untyped, fullResolution);
  if (untyped && (!measured.notMeasured.empty() || measured.stars == 0)) {
    Measurement plain;
    plain.binning = measured.binning;
    plain.saturation = measured.saturation;
    plain.median = measured.median;
    plain.noise = measured.noise;
    plain.maximum = measured.maximum;
    plain.saturatedPixels = measured.saturatedPixels;
    return plain;
  }
  return measured;
}

// The reader of full-resolution cutouts of the open image (width x height).
CutoutReader cutoutsOf(fitsfile* file, long long width, long long height) {
  return [file, width, height](long long x0, long long y0, int w, int h, std::vector<float>& out) {
    if (x0 < 0 || y0 < 0 || x0 + w > width || y0 + h > height) return false;
    out.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    long first[2] = {static_cast<long>(x0 + 1), static_cast<long>(y0 + 1)};
    long last[2] = {static_cast<long>(x0 + w), static_cast<long>(y0 + h)};
    long step[2] = {1, 1};
    float undefined = std::numeric_limits<float>::quiet_NaN();
    int anyUndefined = 0, status = 0;
    fits_read_subset(file, TFLOAT, first, last, step, &undefined, out.data(), &anyUndefined, &status);
    if (status == 0) return true;
    fits_clear_errmsg();
    return false;
  };
}

}  // namespace

std::optional<FrameHeader> FrameReader::header(const std::string& name) {
  FitsPtr file;
  int extension = 0, naxis = 0, bitpix = 0;
  long naxes[2] = {0, 0};
  if (openImage(name, file, extension, naxis, naxes, bitpix)) return std::nullopt;
  FrameHeader header;
  readHeader(file.get(), extension, header);
  return header;
}

std::optional<PassedOver> FrameReader::read(const std::string& name, Frame& frame,
                                            const std::function<void(FrameHeader&)>& complete) {
  FitsPtr file;
  int extension = 0, naxis = 0, bitpix = 0;
  long naxes[2] = {0, 0};
  if (auto passed = openImage(name, file, extension, naxis, naxes, bitpix)) return passed;
  const auto skipped = [&](const std::string& reason) {
    return PassedOver{name, extension, reason};
  };
  if (naxis != 2) {
    return skipped("Not a 2-D image (NAXIS = " + std::to_string(naxis) + ").");
  }
  if (naxes[0] < 1 || naxes[1] < 1) return skipped("Empty image.");
  if (naxes[0] > kMaxRow) return skipped("Image rows too long.");

  frame = Frame();
  frame.name = name;
  frame.extension = extension;
  readHeader(file.get(), extension, frame.header);
  frame.header.naxis1 = naxes[0];
  frame.header.naxis2 = naxes[1];
  if (complete) complete(frame.header);

  int status = 0;
  const long long width = naxes[0], height = naxes[1];
  const long long rowsPerChunk = std::max(1LL, kChunkPixels / width);
  if (buffer_.size() < static_cast<std::size_t>(rowsPerChunk * width)) {
    buffer_.resize(static_cast<std::size_t>(rowsPerChunk * width));
  }
  const int binning = measureBinning(width, height);
  std::optional<MeasureCopy> copy;  // none for a frame too large to measure
  if (binning > 0) copy.emplace(width, height, binning);
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
      return skipped("Cannot read the pixels.");
    }
    const std::size_t finite = averager.addRows(buffer_.data(), rows);
    if (copy) copy->addRows(buffer_.data(), rows);
    sampler.add(buffer_.data(), static_cast<std::size_t>(count), finite);
  }
  const auto limits = zscaleLimits(sampler.sortedSamples());
  if (!limits) return skipped("No defined pixel.");
  frame.limits = *limits;
  frame.size = averager.size();
  frame.grey = stretch(averager.averages(), frame.limits);
  if (!copy) {
    frame.measurement.notMeasured = "too large for the memory budget";
    frame.measurement.binning = 0;
  } else {
    frame.measurement = measureFrame(*copy, frame.header, saturationOf(file.get(), bitpix),
                                     cutoutsOf(file.get(), width, height));
  }
  return std::nullopt;
}

}  // namespace tarnlook
