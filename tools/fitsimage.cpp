// Standard FITS image files of any size, sample type and frame-type card.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "nightgen.h"

namespace nightgen {

namespace {

constexpr double kUnsigned16Zero = 32768.0;  // BZERO of unsigned 16-bit samples
constexpr double kInt32Low = -2147483648.0, kInt32High = 2147483647.0;

// A number as FITS writes it: up to 12 significant digits, exponent 'E'
// ("65535", "1E-19"), independent of the value's size.
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12G", value);
  return text;
}

std::string typeCard(const FitsImageSpec& options) {
  const std::string hierarch = "HIERARCH ";
  if (options.typeKeyword.compare(0, hierarch.size(), hierarch) == 0) {
    return card(options.typeKeyword + " = '" + options.typeValue + "'");
  }
  return stringCard(options.typeKeyword, options.typeValue);
}

void putBigEndian(std::uint32_t word, int bytes, std::string& out) {
  for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<char>((word >> (8 * k)) & 0xFFu));
}

// One sample as the file stores it.
void encode(float value, int bitpix, std::string& out) {
  if (bitpix == -32) {
    std::uint32_t word;
    static_assert(sizeof word == sizeof value, "IEEE single precision");
    std::copy_n(reinterpret_cast<const unsigned char*>(&value), sizeof word,
                reinterpret_cast<unsigned char*>(&word));
    return putBigEndian(word, 4, out);
  }
  const double rounded = std::round(static_cast<double>(value));
  if (bitpix == 16) {
    const double physical = std::clamp(rounded, 0.0, 2.0 * kUnsigned16Zero - 1.0);
    const auto stored = static_cast<std::int32_t>(physical - kUnsigned16Zero);
    return putBigEndian(static_cast<std::uint32_t>(stored) & 0xFFFFu, 2, out);
  }
  const double clipped = std::clamp(rounded, kInt32Low, kInt32High);
  putBigEndian(static_cast<std::uint32_t>(static_cast<std::int32_t>(clipped)), 4, out);
}

void padToBlock(std::string& bytes, char fill) {
  if (bytes.size() % kBlock != 0) bytes.append(kBlock - bytes.size() % kBlock, fill);
}

}  // namespace

std::vector<std::string> fitsImageHeader(int width, int height, const FitsImageSpec& options) {
  if (options.bitpix != 16 && options.bitpix != 32 && options.bitpix != -32) {
    throw std::invalid_argument("nightgen: BITPIX " + std::to_string(options.bitpix) +
                                " is not 16, 32 or -32");
  }
  if (width < 1 || height < 1) throw std::invalid_argument("nightgen: image size below 1");
  std::vector<std::string> cards = {
      keyCard("SIMPLE", "T", "file does conform to FITS standard"),
      keyCard("BITPIX", std::to_string(options.bitpix), "number of bits per data pixel"),
      keyCard("NAXIS", "2", "number of data axes"),
      keyCard("NAXIS1", std::to_string(width), "length of data axis 1"),
      keyCard("NAXIS2", std::to_string(height), "length of data axis 2")};
  if (options.bitpix == 16) {
    cards.push_back(keyCard("BZERO", "32768", "offset data range to that of unsigned short"));
    cards.push_back(keyCard("BSCALE", "1", "default scaling factor"));
  }
  if (!options.typeKeyword.empty()) cards.push_back(typeCard(options));
  if (!options.object.empty()) cards.push_back(stringCard("OBJECT", options.object));
  if (!options.filter.empty()) cards.push_back(stringCard("FILTER", options.filter));
  if (!options.dateObs.empty()) cards.push_back(stringCard("DATE-OBS", options.dateObs, "UT"));
  if (options.exposureSeconds) {
    cards.push_back(keyCard("EXPTIME", number(*options.exposureSeconds), "exposure time (s)"));
  }
  if (options.saturate) cards.push_back(keyCard("SATURATE", number(*options.saturate), "saturation level"));
  for (const std::string& extra : options.extraCards) cards.push_back(card(extra));
  cards.push_back(card("END"));
  return cards;
}

void writeFitsImage(const std::string& path, int width, int height,
                    const std::vector<float>& pixels, const FitsImageSpec& options) {
  std::string header;
  for (const std::string& c : fitsImageHeader(width, height, options)) header += c;
  padToBlock(header, ' ');
  if (pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
    throw std::invalid_argument("nightgen: the pixels do not fill the image");
  }
  const std::string partial = path + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("nightgen: cannot create " + partial);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    std::string data;
    for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row) {
      data.clear();
      for (std::size_t i = row * width; i < (row + 1) * width; ++i) encode(pixels[i], options.bitpix, data);
      if (row + 1 == static_cast<std::size_t>(height)) {
        const std::size_t total = pixels.size() * static_cast<std::size_t>(std::abs(options.bitpix) / 8);
        if (total % kBlock != 0) data.append(kBlock - total % kBlock, '\0');
      }
      out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    out.close();
    if (!out) throw std::runtime_error("nightgen: cannot write " + partial);
  }
  std::error_code error;
  std::filesystem::rename(partial, path, error);
  if (error) throw std::runtime_error("nightgen: cannot rename " + partial + " to " + path);
}

}  // namespace nightgen
