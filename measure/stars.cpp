// The stars of a frame told from cosmic rays, hot pixels and galaxies by
// the stellar locus: every star of a frame has the same image (the seeing,
// the focus, the trailing), so stars share one half-light radius and one
// shape, whatever their flux; cosmic-ray tracks (any length and angle) and
// galaxies (any size) do not.
#include <algorithm>
#include <cmath>

#include "psf_fit.h"

namespace tarnlook {

namespace {

constexpr int kMinLocusStars = 3;         // candidates that make a locus at least
constexpr std::size_t kLocusSeeds = 400;  // the brightest candidates that seek it
// Within the cluster: half-light radius and elongation within these
// natural-log ranges of each other (15 %), position angle within
// kLocusAngle when the stars are elongated (a/b above kRoundElongation).
constexpr double kClusterLog = 0.15;
// A star lies within these of the locus's median (faint stars are noisy;
// a neighbour in its aperture widens its half-light radius, up to 2 x).
constexpr double kStarLog = 0.3;
constexpr double kStarWiderLog = 0.7;
constexpr double kRoundElongation = 1.2;
constexpr double kLocusAngle = 0.35;  // radians, 20 degrees
// Off the locus and this much narrower than its stars (SEP's minor axis):
// a cosmic-ray track, which the seeing does not blur; without a locus,
// narrower than kSharpMinor pixels.
constexpr double kNarrowerThanStars = 0.7;
constexpr double kSharpMinor = 0.5;

bool eligible(const Candidate& c) { return !c.sharp && !c.saturated && !c.truncated && c.halfLight > 0.0; }

double angleApart(double a, double b) {
  const double d = std::fmod(std::fabs(a - b), M_PI);
  return std::min(d, M_PI - d);
}

bool near(const Candidate& a, double halfLight, double elongation, double theta, double range,
          double widerRange) {
  const double wider = std::log(a.halfLight / halfLight);
  if (wider > widerRange || -wider > range) return false;
  if (std::fabs(std::log(a.elongation / elongation)) > range) return false;
  const bool elongated = elongation > kRoundElongation && a.elongation > kRoundElongation;
  return !elongated || angleApart(a.theta, theta) < kLocusAngle;
}

double medianOf(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

struct Locus {
  double halfLight, elongation, theta, minor;
};

// The locus: the seed with the most candidates near it, and the medians of
// those; nothing when fewer than kMinLocusStars make it.
std::optional<Locus> locusOf(const std::vector<Candidate>& candidates) {
  std::vector<const Candidate*> seeds;
  for (const Candidate& c : candidates) {
    if (eligible(c)) seeds.push_back(&c);
  }
  if (seeds.size() > kLocusSeeds) {
    std::partial_sort(seeds.begin(), seeds.begin() + kLocusSeeds, seeds.end(),
                      [](const Candidate* a, const Candidate* b) { return a->flux > b->flux; });
    seeds.resize(kLocusSeeds);
  }
  std::size_t best = 0, bestCount = 0;
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    std::size_t count = 0;
    for (const Candidate* c : seeds) count += near(*c, seeds[i]->halfLight, seeds[i]->elongation, seeds[i]->theta, kClusterLog, kClusterLog);
    if (count > bestCount) best = i, bestCount = count;
  }
  if (bestCount < kMinLocusStars) return std::nullopt;
  std::vector<double> halfLight, elongation, minor, cosines, sines;
  for (const Candidate* c : seeds) {
    if (!near(*c, seeds[best]->halfLight, seeds[best]->elongation, seeds[best]->theta, kClusterLog, kClusterLog)) continue;
    halfLight.push_back(c->halfLight);
    elongation.push_back(c->elongation);
    minor.push_back(c->minor);
  }
  return Locus{medianOf(halfLight), medianOf(elongation), seeds[best]->theta, medianOf(minor)};
}

}  // namespace

std::vector<SourceKind> classifySources(const std::vector<Candidate>& candidates) {
  const std::optional<Locus> locus = locusOf(candidates);
  std::vector<SourceKind> kinds;
  kinds.reserve(candidates.size());
  for (const Candidate& c : candidates) {
    SourceKind kind = SourceKind::Other;
    if (c.sharp) {
      kind = SourceKind::CosmicRay;
    } else if (locus && c.saturated) {
      kind = SourceKind::Star;
    } else if (locus && eligible(c) && near(c, locus->halfLight, locus->elongation, locus->theta, kStarLog, kStarWiderLog)) {
      kind = SourceKind::Star;
    } else if (!c.saturated && c.minor < (locus ? kNarrowerThanStars * locus->minor : kSharpMinor)) {
      kind = SourceKind::CosmicRay;
    }
    kinds.push_back(kind);
  }
  return kinds;
}

}  // namespace tarnlook
