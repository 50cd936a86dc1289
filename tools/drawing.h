// Pieces the generator's own sources share (not part of its interface,
// which is nightgen.h): the seeded hash that every random choice comes
// from, and a star's profile integrated over the pixels it touches.
#ifndef TOOLS_DRAWING_H
#define TOOLS_DRAWING_H

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "nightgen.h"

namespace nightgen {
namespace drawing {

// SplitMix64's finaliser: a well-mixed 64-bit hash of x.
inline std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// The hash of item `index` of the stream `seed`: every random choice of
// the generator is a pure function of the two.
inline std::uint64_t hashOf(unsigned seed, long long index) {
  return mix((static_cast<std::uint64_t>(seed) << 40) ^ static_cast<std::uint64_t>(index));
}

// A uniform number in [0, 1) from 53 bits of a hash.
inline double uniform(std::uint64_t h) { return static_cast<double>(h >> 11) * 0x1.0p-53; }

// A standard normal deviate from a hash (Box-Muller on two 32-bit halves;
// unbounded, exact to the rounding of the logarithm).
inline double normal(std::uint64_t h) {
  constexpr double kTwoPi = 6.283185307179586;
  const double u1 = (static_cast<double>(h >> 32) + 0.5) * 0x1.0p-32;  // (0, 1)
  const double u2 = static_cast<double>(h & 0xFFFFFFFFu) * 0x1.0p-32;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

// A star's profile of unit flux (Psf), ready to evaluate.
class StarProfile {
 public:
  explicit StarProfile(const Psf& psf);
  // The surface brightness at offset (dx, dy) pixels from the centre, per
  // square pixel; its integral over the plane is 1.
  double density(double dx, double dy) const;
  // density() integrated over the pixel whose centre lies at (dx, dy): the
  // mean of n x n evenly spaced points, n growing as the pixel nears the
  // centre so that the step stays below a 24th of the local scale
  // (the minor FWHM at the core, the distance further out).
  double pixel(double dx, double dy) const;
  // The distance in pixels beyond which a star of this peak density loses
  // less than a thousandth of its flux and adds less than 0.02 ADU to any
  // pixel (measured along the major axis, so a safe box half-width).
  double reach(double peak) const;
  double peakDensity() const { return density(0.0, 0.0); }

 private:
  double beta_;            // 0: Gaussian
  double scaleMajor_;      // Moffat alpha or Gaussian sigma, pixels
  double scaleMinor_;
  double minorFwhm_;
  double cosAngle_, sinAngle_;
  double norm_;            // density at the centre
};

// Adds a star of total `flux` centred at (x, y) to the samples
// [first, first + count) of a row-major image `width` pixels wide; only the
// samples within the profile's reach are touched. Any piece of the image
// receives the same values as the same piece of the whole.
template <class Sample>
void addStar(const StarProfile& profile, double x, double y, double flux, long long width,
             long long first, long long count, Sample* samples) {
  if (flux <= 0.0 || count <= 0) return;
  const double reach = profile.reach(flux * profile.peakDensity());
  const long long last = first + count - 1;
  const long long y0 = std::max<long long>(first / width, static_cast<long long>(std::floor(y - reach)));
  const long long y1 = std::min<long long>(last / width, static_cast<long long>(std::ceil(y + reach)));
  const long long x0 = std::max<long long>(0, static_cast<long long>(std::floor(x - reach)));
  const long long x1 = std::min<long long>(width - 1, static_cast<long long>(std::ceil(x + reach)));
  for (long long row = y0; row <= y1; ++row) {
    for (long long column = x0; column <= x1; ++column) {
      const long long index = row * width + column;
      if (index < first || index > last) continue;
      samples[index - first] += static_cast<Sample>(
          flux * profile.pixel(static_cast<double>(column) - x, static_cast<double>(row) - y));
    }
  }
}

}  // namespace drawing
}  // namespace nightgen

#endif  // TOOLS_DRAWING_H
