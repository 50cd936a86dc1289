// The light of a frame's stars against another frame of the same field.
#include <algorithm>
#include <cmath>

#include "measure.h"

namespace tarnlook {

namespace {

struct Offset {
  double dx = 0.0, dy = 0.0;
};

std::vector<StarFlux> brightest(std::vector<StarFlux> stars) {
  std::sort(stars.begin(), stars.end(), [](const StarFlux& a, const StarFlux& b) { return a.flux > b.flux; });
  if (stars.size() > kMatchStars) stars.resize(kMatchStars);
  return stars;
}

// The reference star within kMatchPixels of `star` shifted by `offset`; null when none.
const StarFlux* partner(const StarFlux& star, const Offset& offset, const std::vector<StarFlux>& reference) {
  const StarFlux* best = nullptr;
  double nearest = kMatchPixels * kMatchPixels;
  for (const StarFlux& r : reference) {
    const double dx = star.x - offset.dx - r.x, dy = star.y - offset.dy - r.y;
    if (dx * dx + dy * dy <= nearest) nearest = dx * dx + dy * dy, best = &r;
  }
  return best;
}

int matches(const std::vector<StarFlux>& frame, const Offset& offset, const std::vector<StarFlux>& reference) {
  int count = 0;
  for (const StarFlux& star : frame) count += partner(star, offset, reference) != nullptr;
  return count;
}

// The shift that the most stars share: each pair of the kOffsetStars
// brightest of each proposes its own (both lists brightest first).
std::optional<Offset> pointingOffset(const std::vector<StarFlux>& frame, const std::vector<StarFlux>& reference) {
  std::optional<Offset> best;
  int most = kMinMatched - 1;
  const auto proposers = [](const std::vector<StarFlux>& stars) {
    return std::vector<StarFlux>(stars.begin(), stars.begin() + static_cast<long>(std::min(stars.size(), kOffsetStars)));
  };
  for (const StarFlux& a : proposers(frame)) {
    for (const StarFlux& b : proposers(reference)) {
      const Offset offset{a.x - b.x, a.y - b.y};
      if (std::hypot(offset.dx, offset.dy) > kMatchOffsetPixels) continue;
      const int count = matches(frame, offset, reference);
      if (count > most) most = count, best = offset;
    }
  }
  return best;
}

}  // namespace

std::optional<double> fluxRatio(const std::vector<StarFlux>& frame, double frameSeconds,
                                const std::vector<StarFlux>& reference, double referenceSeconds) {
  if (!(frameSeconds > 0.0) || !(referenceSeconds > 0.0)) return std::nullopt;
  const std::vector<StarFlux> a = brightest(frame), b = brightest(reference);
  const auto offset = pointingOffset(a, b);
  if (!offset) return std::nullopt;
  std::vector<double> ratios;
  for (const StarFlux& star : a) {
    const StarFlux* r = partner(star, *offset, b);
    if (r != nullptr && r->flux > 0.0) ratios.push_back((star.flux / frameSeconds) / (r->flux / referenceSeconds));
  }
  if (ratios.size() < static_cast<std::size_t>(kMinMatched)) return std::nullopt;
  std::sort(ratios.begin(), ratios.end());
  const std::size_t half = ratios.size() / 2;
  return ratios.size() % 2 ? ratios[half] : 0.5 * (ratios[half - 1] + ratios[half]);
}

}  // namespace tarnlook
