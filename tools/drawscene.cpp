// Scenes of any size drawn with their truth: stars as real seeing draws
// them, galaxies, a sky plane, cosmic-ray tracks and hot pixels.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "drawing.h"
#include "nightgen.h"

namespace nightgen {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegree = kPi / 180.0;  // radians per degree
constexpr double kTrackStep = 0.25;      // pixels between the points of a track
// Galaxies: points per pixel side as for stars (psf.cpp), with one pixel
// as the smallest scale, since a Sersic profile of large n has a cusp.
constexpr double kGalaxySubsampleScale = 12.0;
constexpr int kGalaxyMaxSubsamples = 24;

// A Sersic profile of given flux, ready to evaluate.
class SersicProfile {
 public:
  explicit SersicProfile(const GalaxySpec& g)
      : n_(g.sersicIndex), x_(g.x), y_(g.y),
        // b_n such that Re holds half the light (Ciotti and Bertin 1999, to
        // better than 1e-4 for n above 0.36).
        b_(2.0 * n_ - 1.0 / 3.0 + 4.0 / (405.0 * n_) + 46.0 / (25515.0 * n_ * n_)),
        cos_(std::cos(g.angleDegrees * kDegree)), sin_(std::sin(g.angleDegrees * kDegree)) {
    if (!(n_ >= 0.2) || !(g.effectiveRadiusPixels > 0.0) || !(g.axisRatio >= 1.0)) {
      throw std::invalid_argument("nightgen: galaxy out of range");
    }
    const double root = std::sqrt(g.axisRatio);
    reMajor_ = g.effectiveRadiusPixels * root;
    reMinor_ = g.effectiveRadiusPixels / root;
    // Total light of I(r) = Ie exp(-b ((r/Re)^(1/n) - 1)) over the plane:
    // 2 pi n Re^2 Ie e^b b^(-2n) Gamma(2n).
    const double unit = 2.0 * kPi * n_ * reMajor_ * reMinor_ * std::exp(b_) *
                        std::pow(b_, -2.0 * n_) * std::tgamma(2.0 * n_);
    ie_ = g.flux / unit;
  }

  double density(double px, double py) const {
    const double dx = px - x_, dy = py - y_;
    const double u = (dx * cos_ + dy * sin_) / reMajor_;
    const double v = (dy * cos_ - dx * sin_) / reMinor_;
    return ie_ * std::exp(-b_ * (std::pow(u * u + v * v, 0.5 / n_) - 1.0));
  }

  double pixel(double px, double py) const {
    const double scale = std::max(1.0, std::hypot(px - x_, py - y_));
    const int n = std::clamp(static_cast<int>(std::ceil(kGalaxySubsampleScale / scale)), 1,
                             kGalaxyMaxSubsamples);
    const double step = 1.0 / n;
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        sum += density(px - 0.5 + (i + 0.5) * step, py - 0.5 + (j + 0.5) * step);
      }
    }
    return sum / (n * n);
  }

 private:
  double n_, x_, y_, b_, cos_, sin_;
  double reMajor_ = 0.0, reMinor_ = 0.0, ie_ = 0.0;
};

// Bias and the sky plane: skyLevel at the centre, its range across the
// frame skyGradient times skyLevel.
void drawSky(const SceneSpec& scene, std::vector<float>& pixels) {
  const double c = std::cos(scene.gradientAngleDegrees * kDegree);
  const double s = std::sin(scene.gradientAngleDegrees * kDegree);
  const double cx = 0.5 * (scene.width - 1), cy = 0.5 * (scene.height - 1);
  const double extent = (scene.width - 1) * std::abs(c) + (scene.height - 1) * std::abs(s);
  const double slope = extent > 0.0 ? scene.skyGradient / extent : 0.0;
  for (long long y = 0; y < scene.height; ++y) {
    for (long long x = 0; x < scene.width; ++x) {
      const double along = (x - cx) * c + (y - cy) * s;
      pixels[static_cast<std::size_t>(y * scene.width + x)] =
          static_cast<float>(scene.biasLevel + scene.skyLevel * (1.0 + slope * along));
    }
  }
}

void drawGalaxy(const SceneSpec& scene, const GalaxySpec& g, std::vector<float>& pixels) {
  GalaxySpec dimmed = g;
  dimmed.flux *= scene.transparency;
  const SersicProfile profile(dimmed);
  for (long long y = 0; y < scene.height; ++y) {
    for (long long x = 0; x < scene.width; ++x) {
      pixels[static_cast<std::size_t>(y * scene.width + x)] +=
          static_cast<float>(profile.pixel(static_cast<double>(x), static_cast<double>(y)));
    }
  }
}

// Read noise, and photon noise of everything above the bias.
void addNoise(const SceneSpec& scene, std::vector<float>& pixels) {
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const double signal = std::max(0.0, pixels[i] - scene.biasLevel);
    const double variance =
        scene.readNoise * scene.readNoise + (scene.gain > 0.0 ? signal / scene.gain : 0.0);
    pixels[i] += static_cast<float>(std::sqrt(variance) *
                                     drawing::normal(drawing::hashOf(scene.seed, static_cast<long long>(i))));
  }
}

bool inside(const SceneSpec& scene, const Pixel& p) {
  return p.x >= 0 && p.y >= 0 && p.x < scene.width && p.y < scene.height;
}

float& at(const SceneSpec& scene, std::vector<float>& pixels, const Pixel& p) {
  return pixels[static_cast<std::size_t>(static_cast<long long>(p.y) * scene.width + p.x)];
}

void addCosmicRays(const SceneSpec& scene, DrawnScene& out) {
  for (const CosmicRaySpec& ray : scene.cosmicRays) {
    CosmicRayTruth truth{ray, {}};
    for (const Pixel& p : cosmicRayPixels(ray)) {
      if (!inside(scene, p)) continue;
      at(scene, out.pixels, p) += static_cast<float>(ray.adu);
      truth.pixels.push_back(p);
    }
    out.cosmicRays.push_back(std::move(truth));
  }
  for (const HotPixelSpec& hot : scene.hotPixels) {
    if (!inside(scene, {hot.x, hot.y})) continue;
    at(scene, out.pixels, {hot.x, hot.y}) += static_cast<float>(hot.adu);
    out.hotPixels.push_back(hot);
  }
}

void recordStars(const SceneSpec& scene, double peakPerFlux, DrawnScene& out) {
  for (const StarSpec& s : scene.stars) {
    const double flux = s.flux * scene.transparency;
    const Pixel centre{static_cast<int>(std::lround(s.x)), static_cast<int>(std::lround(s.y))};
    const bool saturated = scene.saturation > 0.0 && inside(scene, centre) &&
                           at(scene, out.pixels, centre) >= scene.saturation;
    out.stars.push_back({s.x, s.y, flux, flux * peakPerFlux, scene.psf.fwhmPixels, scene.psf.beta,
                         scene.psf.axisRatio, scene.psf.angleDegrees, saturated});
  }
}

}  // namespace

std::vector<Pixel> cosmicRayPixels(const CosmicRaySpec& ray) {
  const double c = std::cos(ray.angleDegrees * kDegree), s = std::sin(ray.angleDegrees * kDegree);
  const double span = std::max(0.0, ray.lengthPixels - 1.0);
  // The second line lies one pixel across the track's main direction.
  const Pixel beside = std::abs(c) >= std::abs(s) ? Pixel{0, 1} : Pixel{1, 0};
  std::vector<Pixel> pixels;
  const auto add = [&pixels](Pixel p) {
    const auto same = [&p](const Pixel& q) { return q.x == p.x && q.y == p.y; };
    if (std::none_of(pixels.begin(), pixels.end(), same)) pixels.push_back(p);
  };
  const int steps = static_cast<int>(std::ceil(span / kTrackStep));
  for (int k = 0; k <= steps; ++k) {
    const double t = std::min(span, k * kTrackStep);
    const Pixel p{static_cast<int>(std::lround(ray.x + t * c)),
                  static_cast<int>(std::lround(ray.y + t * s))};
    add(p);
    if (ray.widthPixels >= 2) add({p.x + beside.x, p.y + beside.y});
  }
  return pixels;
}

DrawnScene drawScene(const SceneSpec& scene) {
  if (scene.width < 1 || scene.height < 1) {
    throw std::invalid_argument("nightgen: scene size below 1 pixel");
  }
  const drawing::StarProfile profile(scene.psf);
  DrawnScene out;
  out.width = scene.width;
  out.height = scene.height;
  const long long count = static_cast<long long>(scene.width) * scene.height;
  out.pixels.assign(static_cast<std::size_t>(count), 0.0f);
  drawSky(scene, out.pixels);
  for (const GalaxySpec& g : scene.galaxies) {
    drawGalaxy(scene, g, out.pixels);
    out.galaxies.push_back(g);
    out.galaxies.back().flux *= scene.transparency;
  }
  for (const StarSpec& s : scene.stars) {
    drawing::addStar(profile, s.x, s.y, s.flux * scene.transparency, scene.width, 0, count,
                     out.pixels.data());
  }
  if (scene.noise) addNoise(scene, out.pixels);
  addCosmicRays(scene, out);
  if (scene.saturation > 0.0) {
    for (float& v : out.pixels) v = std::min(v, static_cast<float>(scene.saturation));
  }
  recordStars(scene, profile.peakDensity(), out);
  out.biasLevel = scene.biasLevel;
  out.skyLevel = scene.skyLevel;
  out.skyGradient = scene.skyGradient;
  out.transparency = scene.transparency;
  const double photons = scene.noise && scene.gain > 0.0 ? scene.skyLevel / scene.gain : 0.0;
  out.skyNoise = scene.noise ? std::sqrt(scene.readNoise * scene.readNoise + photons) : 0.0;
  return out;
}

std::vector<StarSpec> starField(int width, int height, int count, double fluxLow,
                                double fluxHigh, double margin, unsigned seed) {
  std::vector<StarSpec> stars;
  const double low = std::log(fluxLow), high = std::log(fluxHigh);
  for (int i = 0; i < count; ++i) {
    const std::uint64_t h = drawing::hashOf(seed ^ 0x5F1E1Du, i);
    stars.push_back({margin + drawing::uniform(h) * (width - 1 - 2.0 * margin),
                     margin + drawing::uniform(drawing::mix(h)) * (height - 1 - 2.0 * margin),
                     std::exp(low + (high - low) * drawing::uniform(drawing::mix(h + 1)))});
  }
  return stars;
}

std::vector<CosmicRaySpec> cosmicRayField(int width, int height, int count, double lengthLow,
                                          double lengthHigh, unsigned seed) {
  std::vector<CosmicRaySpec> rays;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t h = drawing::hashOf(seed ^ 0xC05A1Cu, i);
    CosmicRaySpec ray;
    ray.x = drawing::uniform(h) * (width - 1);
    ray.y = drawing::uniform(drawing::mix(h)) * (height - 1);
    ray.lengthPixels = lengthLow + (lengthHigh - lengthLow) * drawing::uniform(drawing::mix(h + 1));
    ray.angleDegrees = 180.0 * drawing::uniform(drawing::mix(h + 2));
    ray.widthPixels = 1 + static_cast<int>(drawing::mix(h + 3) % 2);
    ray.adu = 500.0 + 8000.0 * drawing::uniform(drawing::mix(h + 4));
    rays.push_back(ray);
  }
  return rays;
}

}  // namespace nightgen
