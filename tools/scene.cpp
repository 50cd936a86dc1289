// The scenes of the generated camera frames: bias, dark, flat and sky with
// stars, so that a sample night looks like one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "drawing.h"
#include "nightgen.h"

namespace nightgen {

namespace {

// Levels in ADU (analogue-to-digital units) and electrons per ADU.
constexpr double kBiasLevel = 600.0;
constexpr double kReadNoise = 4.0;       // ADU, T5 and S5
constexpr double kAndorReadNoise = 6.0;  // ADU
constexpr double kGain = 2.0;            // electrons per ADU
constexpr double kDarkRate = 0.05;       // ADU per second and pixel
constexpr double kSkyBase = 80.0;        // ADU of sky at zero exposure
constexpr double kSkyRate = 4.0;         // ADU of sky per second
constexpr double kSkyMax = 20000.0;      // ADU
constexpr double kTrailStep = 0.5;       // pixels between the images of a trailed star
constexpr double kMaxValue = 65535.0;

// Seeds of what belongs to the camera rather than to one frame.
constexpr unsigned kColumnSeed = 0xC01u;
constexpr unsigned kHotSeed = 0x407u;
constexpr unsigned kDustSeed = 0xD57u;
constexpr unsigned kCosmicSeed = 0xC05u;
constexpr unsigned kTrackSeed = 0x7AC5u;
// Cosmic-ray tracks of CameraSpec::cosmicTracks: lengths in pixels.
constexpr double kTrackShortest = 1.0, kTrackLongest = 20.0;
// The exposure whose sky noise sets the peaks of a field's stars
// (CameraSpec::fieldSeed), seconds.
constexpr double kFieldExposure = 10.0;
constexpr double kFieldSigma = 1.8;  // pixels: the seeing in which they have those peaks
constexpr double kTwoPi = 6.283185307179586;

using drawing::hashOf;
using drawing::mix;
using drawing::uniform;

// About a standard normal deviate: the sum of four uniform 16-bit pieces
// (Irwin-Hall), centred and scaled to unit variance; bounded by +-3.46.
double gaussian(std::uint64_t h) {
  const double sum = static_cast<double>((h & 0xFFFF) + ((h >> 16) & 0xFFFF) +
                                         ((h >> 32) & 0xFFFF) + (h >> 48));
  return (sum / 65536.0 - 2.0) * 1.7320508075688772;  // sqrt(3)
}

struct Star {
  double x, y, peak;
};

struct Ring {
  double x, y, radius;
};

class SceneModel {
 public:
  SceneModel(const CameraSpec& camera, unsigned seed)
      : camera_(camera), seed_(seed), width_(naxis1Of(camera.kind)),
        height_(naxis2Of(camera.kind)),
        readNoise_(isAndor(camera.kind) ? kAndorReadNoise : kReadNoise) {
    const double exposure = std::max(0.0, camera.exposureSeconds);
    sky_ = std::min(kSkyMax, kSkyBase + kSkyRate * exposure) * camera.skyFactor;
    if (camera.moffatBeta > 0.0) profile_.emplace(Psf{starFwhm(camera), camera.moffatBeta, 1.0, 0.0});
    if (camera.scene == Scene::Sky) placeStars();
    if (camera.scene == Scene::Flat) placeDust();
    if (hasCosmicRays()) placeTracks();
  }

  void render(long long first, long long count, std::vector<std::uint16_t>& out) {
    std::vector<double> level(static_cast<std::size_t>(count));
    for (long long i = 0; i < count; ++i) {
      level[static_cast<std::size_t>(i)] = base(first + i);
    }
    for (const Star& s : stars_) addStar(s, first, level);
    const std::vector<double> deposit = trackDeposit(first, count);
    out.resize(static_cast<std::size_t>(count));
    for (long long i = 0; i < count; ++i) {
      const long long index = first + i;
      const double signal = std::max(0.0, level[static_cast<std::size_t>(i)] - kBiasLevel);
      const double sigma = std::sqrt(readNoise_ * readNoise_ + signal / kGain);
      double v = level[static_cast<std::size_t>(i)] + sigma * gaussian(hashOf(seed_, index));
      v += cosmicRay(index);
      if (!deposit.empty()) v += deposit[static_cast<std::size_t>(i)];
      v = std::clamp(std::round(v), 0.0, kMaxValue);
      out[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(v);
    }
  }

 private:
  // The noiseless level of a sample, without stars.
  double base(long long index) const {
    const long long x = index % width_, y = index / width_;
    const double bias =
        kBiasLevel + camera_.levelShift + 3.0 * (uniform(hashOf(kColumnSeed + kindSeed(), x)) - 0.5);
    switch (camera_.scene) {
      case Scene::Bias: return bias;
      case Scene::Dark: return bias + darkSignal(index);
      case Scene::Flat: return bias + camera_.flatLevel * vignetting(x, y) * dust(x, y);
      default: break;
    }
    // A gentle gradient of the sky across the rows (moonlight, twilight).
    const double gradient = 1.0 + camera_.skyGradient * static_cast<double>(x) / width_;
    return bias + darkSignal(index) + sky_ * gradient;
  }

  unsigned kindSeed() const { return static_cast<unsigned>(camera_.kind) * 7919u; }

  // Dark current and the camera's hot pixels (one in about 20000).
  double darkSignal(long long index) const {
    const double exposure = std::max(0.0, camera_.exposureSeconds);
    const std::uint64_t h = hashOf(kHotSeed + kindSeed(), index);
    double rate = kDarkRate;
    if (h % 20000 == 0) rate += 2.0 + 50.0 * uniform(mix(h));
    return rate * exposure;
  }

  bool hasCosmicRays() const {
    return (camera_.scene == Scene::Sky || camera_.scene == Scene::Dark) &&
           camera_.exposureSeconds >= 1.0;
  }

  double cosmicRay(long long index) const {
    if (!hasCosmicRays()) return 0.0;
    const std::uint64_t h = hashOf(seed_ ^ kCosmicSeed, index);
    return h % 40000 == 0 ? 500.0 + 8000.0 * uniform(mix(h)) : 0.0;
  }

  double vignetting(long long x, long long y) const {
    const double cx = 0.5 * (width_ - 1), cy = 0.5 * (height_ - 1);
    const double dx = (x - cx) / cx, dy = (y - cy) / cy;
    return 1.0 - 0.15 * (dx * dx + dy * dy);
  }

  // Out-of-focus dust on the window: shallow rings.
  double dust(long long x, long long y) const {
    double factor = 1.0;
    for (const Ring& r : rings_) {
      const double d2 = (x - r.x) * (x - r.x) + (y - r.y) * (y - r.y);
      const double inner = 0.75 * r.radius, outer = 1.25 * r.radius;
      if (d2 > inner * inner && d2 < outer * outer) factor *= 0.96;
    }
    return factor;
  }

  void placeTracks() {
    const auto rays = cosmicRayField(static_cast<int>(width_), static_cast<int>(height_),
                                     camera_.cosmicTracks, kTrackShortest, kTrackLongest,
                                     seed_ ^ kTrackSeed);
    for (const CosmicRaySpec& ray : rays) {
      CosmicRayTruth track{ray, {}};
      for (const Pixel& p : cosmicRayPixels(ray)) {
        if (p.x >= 0 && p.y >= 0 && p.x < width_ && p.y < height_) track.pixels.push_back(p);
      }
      tracks_.push_back(std::move(track));
    }
  }

  // What the tracks add to the samples [first, first + count); empty when
  // there are no tracks.
  std::vector<double> trackDeposit(long long first, long long count) const {
    std::vector<double> deposit;
    if (tracks_.empty()) return deposit;
    deposit.assign(static_cast<std::size_t>(count), 0.0);
    for (const CosmicRayTruth& track : tracks_) {
      for (const Pixel& p : track.pixels) {
        const long long index = p.y * width_ + p.x;
        if (index >= first && index < first + count) {
          deposit[static_cast<std::size_t>(index - first)] += track.drawn.adu;
        }
      }
    }
    return deposit;
  }

  void placeDust() {
    for (int i = 0; i < 3; ++i) {
      const std::uint64_t h = hashOf(kDustSeed + kindSeed(), i);
      rings_.push_back({uniform(h) * width_, uniform(mix(h)) * height_,
                        0.02 * width_ + 8.0 * uniform(mix(h + 1))});
    }
  }

  // 12 to 27 stars, their peaks spread evenly in logarithm from a few sky
  // noises up to beyond saturation; the first is always saturated.
  // With a field seed the stars and their peaks belong to the field.
  void placeStars() {
    const unsigned starSeed = camera_.fieldSeed != 0 ? camera_.fieldSeed : seed_;
    const std::uint64_t h0 = hashOf(starSeed ^ 0x57A5u, -1);
    const int count = 12 + static_cast<int>(h0 % 16);
    const double noise = camera_.fieldSeed != 0 ? fieldNoise() : skyNoise();
    if (camera_.targetPeak > 0.0) {
      stars_.push_back({0.5 * (width_ - 1), 0.5 * (height_ - 1), camera_.targetPeak * camera_.starFactor});
    }
    const double lowPeak = std::log(5.0 * noise), highPeak = std::log(2.0 * kMaxValue);
    for (int i = 0; i < count; ++i) {
      const std::uint64_t h = hashOf(starSeed ^ 0x57A5u, i);
      const double peak =
          i == 0 ? 2.0 * kMaxValue
                 : std::exp(lowPeak + (highPeak - lowPeak) * uniform(mix(h + 2)));
      stars_.push_back({8.0 + uniform(h) * (width_ - 16),
                        8.0 + uniform(mix(h)) * (height_ - 16), peak * camera_.starFactor});
    }
    if (camera_.fieldSeed != 0) {
      // Those are the peaks of Gaussian images of kFieldSigma: the stars
      // keep their fluxes, their peaks follow this frame's image.
      const double factor = kTwoPi * kFieldSigma * kFieldSigma / fluxOf(1.0);
      for (Star& star : stars_) star.peak *= factor;
    }
  }

  // A trailed star: images of equal peak every kTrailStep pixels along x,
  // together as bright as the star.
  void addStar(const Star& s, long long first, std::vector<double>& level) const {
    if (camera_.trailPixels <= 0.0) return addImage(s, first, level);
    const int images = 1 + static_cast<int>(camera_.trailPixels / kTrailStep);
    for (int k = 0; k < images; ++k) {
      const double dx = k * kTrailStep - 0.5 * camera_.trailPixels;
      addImage({s.x + dx, s.y, s.peak * kTrailStep / camera_.trailPixels}, first, level);
    }
  }

  void addImage(const Star& s, long long first, std::vector<double>& level) const {
    if (s.peak <= 0.1) return;
    if (profile_) {
      return drawing::addStar(*profile_, s.x, s.y, fluxOf(s.peak), width_, first,
                              static_cast<long long>(level.size()), level.data());
    }
    const double sigma = camera_.seeingSigma;
    // Out to where the star adds less than a tenth of an ADU.
    const double reach = sigma * std::sqrt(2.0 * std::log(s.peak / 0.1));
    const long long last = first + static_cast<long long>(level.size()) - 1;
    const long long y0 = std::max<long long>(first / width_,
                                             static_cast<long long>(s.y - reach));
    const long long y1 = std::min<long long>(last / width_,
                                             static_cast<long long>(s.y + reach) + 1);
    const long long x0 = std::max<long long>(0, static_cast<long long>(s.x - reach));
    const long long x1 = std::min<long long>(width_ - 1,
                                             static_cast<long long>(s.x + reach) + 1);
    const double scale = -0.5 / (sigma * sigma);
    for (long long y = y0; y <= y1; ++y) {
      for (long long x = x0; x <= x1; ++x) {
        const long long index = y * width_ + x;
        if (index < first || index > last) continue;
        const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
        level[static_cast<std::size_t>(index - first)] += s.peak * std::exp(r2 * scale);
      }
    }
  }

 public:
  const std::vector<Star>& stars() const { return stars_; }
  double skyNoise() const { return std::sqrt(readNoise_ * readNoise_ + sky_ / kGain); }
  double fieldNoise() const {
    return std::sqrt(readNoise_ * readNoise_ + (kSkyBase + kSkyRate * kFieldExposure) / kGain);
  }
  // The flux of a star of this peak: the Moffat's, or 2 pi sigma^2 times
  // the peak for the sampled Gaussian.
  double fluxOf(double peak) const {
    if (profile_) return peak / profile_->peakDensity();
    return kTwoPi * camera_.seeingSigma * camera_.seeingSigma * peak;
  }
  const std::vector<CosmicRayTruth>& tracks() const { return tracks_; }
  // The single hits, each a track of length 1.
  std::vector<CosmicRayTruth> singleHits() const {
    std::vector<CosmicRayTruth> hits;
    for (long long index = 0; index < width_ * height_; ++index) {
      const double adu = cosmicRay(index);
      if (adu <= 0.0) continue;
      const Pixel p{static_cast<int>(index % width_), static_cast<int>(index / width_)};
      hits.push_back({{double(p.x), double(p.y), 1.0, 0.0, 1, adu}, {p}});
    }
    return hits;
  }

 private:
  const CameraSpec& camera_;
  unsigned seed_;
  long long width_, height_;
  double readNoise_;
  double sky_ = 0.0;
  std::vector<Star> stars_;
  std::vector<Ring> rings_;
  std::optional<drawing::StarProfile> profile_;  // a Moffat; none: the sampled Gaussian
  std::vector<CosmicRayTruth> tracks_;
};

}  // namespace

const char* sceneName(Scene scene) {
  switch (scene) {
    case Scene::Pattern: return "pattern";
    case Scene::Bias: return "bias";
    case Scene::Dark: return "dark";
    case Scene::Flat: return "flat";
    case Scene::Sky: return "sky";
  }
  return "?";
}

std::optional<Scene> sceneFromName(const std::string& name) {
  for (Scene s : {Scene::Pattern, Scene::Bias, Scene::Dark, Scene::Flat, Scene::Sky}) {
    if (name == sceneName(s)) return s;
  }
  return std::nullopt;
}

std::vector<PlantedStar> plantedStars(const CameraSpec& camera, unsigned seed) {
  std::vector<PlantedStar> stars;
  if (camera.scene != Scene::Sky) return stars;
  const SceneModel model(camera, seed);
  for (const Star& s : model.stars()) stars.push_back({s.x, s.y, s.peak, model.fluxOf(s.peak)});
  return stars;
}

double skyNoise(const CameraSpec& camera) { return SceneModel(camera, 0).skyNoise(); }

double starFwhm(const CameraSpec& camera) { return gaussianFwhm(camera.seeingSigma); }

std::vector<CosmicRayTruth> plantedCosmicRays(const CameraSpec& camera, unsigned seed) {
  const SceneModel model(camera, seed);
  std::vector<CosmicRayTruth> rays = model.singleHits();
  rays.insert(rays.end(), model.tracks().begin(), model.tracks().end());
  return rays;
}

double backgroundGradient(const CameraSpec& camera) {
  if (camera.scene != Scene::Sky) return 0.0;
  const double exposure = std::max(0.0, camera.exposureSeconds);
  const double sky = std::min(kSkyMax, kSkyBase + kSkyRate * exposure) * camera.skyFactor;
  const double width = naxis1Of(camera.kind);
  const double level = kBiasLevel + camera.levelShift + kDarkRate * exposure;
  // The sky plane rises along the rows: its median is at the middle column.
  const double median = level + sky * (1.0 + camera.skyGradient * 0.5 * (width - 1.0) / width);
  return sky * camera.skyGradient * (width - 1.0) / width / median;
}

std::vector<std::uint16_t> physicalValues(const CameraSpec& camera, unsigned seed,
                                          long long first, long long count) {
  std::vector<std::uint16_t> values;
  if (count <= 0) return values;
  if (camera.scene == Scene::Pattern) {
    values.reserve(static_cast<std::size_t>(count));
    for (long long i = 0; i < count; ++i) values.push_back(physicalValue(seed, first + i));
    return values;
  }
  SceneModel(camera, seed).render(first, count, values);
  return values;
}

}  // namespace nightgen
