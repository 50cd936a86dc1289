// Judging the frames of a night against one another.
#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace tarnlook {

namespace {

using Pick = std::function<std::optional<double>(std::size_t)>;

std::optional<double> medianOf(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : 0.5 * (values[half - 1] + values[half]);
}

// The median of pick(j) over the frames j that `alike` admits, other than
// `self`; none with fewer than `least` values.
std::optional<double> medianOver(std::size_t count, const std::function<bool(std::size_t)>& alike,
                                 const Pick& pick, std::size_t self, std::size_t least) {
  std::vector<double> values;
  for (std::size_t j = 0; j < count; ++j) {
    if (j == self || !alike(j)) continue;
    if (const auto v = pick(j)) values.push_back(*v);
  }
  return values.size() < least ? std::nullopt : medianOf(values);
}

bool numberIn(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool sameSize(const FrameHeader& a, const FrameHeader& b) {
  return a.naxis1 == b.naxis1 && a.naxis2 == b.naxis2;
}

class Night {
 public:
  explicit Night(const std::vector<QualityInput>& frames) : f_(frames), q_(frames.size()) {
    for (std::size_t i = 0; i < f_.size(); ++i) q_[i].skyPerSecond = skyPerSecond(i);
    const std::size_t none = f_.size();
    nightFwhm_ = medianOver(f_.size(), [&](std::size_t j) { return isObject(j); },
                            [&](std::size_t j) { return f_[j].measurement->fwhmPixels; }, none, 1);
  }

  std::vector<FrameQuality> judge() {
    for (std::size_t i = 0; i < f_.size(); ++i) {
      if (isObject(i)) judgeObject(i);
      const std::string& type = f_[i].header->dataType;
      if (type == "FLAT") judgeFlat(i);
      if (type == "BIAS" || type == "DARK") judgeCalibration(i);
    }
    return q_;
  }

 private:
  const Measurement& m(std::size_t i) const { return *f_[i].measurement; }
  const FrameHeader& h(std::size_t i) const { return *f_[i].header; }
  bool isObject(std::size_t i) const { return isSkyFrame(h(i), m(i)) && m(i).starsMeasured; }
  void flag(std::size_t i, const std::string& reason) { q_[i].flags.push_back(reason); }

  std::optional<double> skyPerSecond(std::size_t i) const {
    double seconds = 0.0;
    if (!isObject(i) || !m(i).skyLevel || !numberIn(h(i).exptime, seconds) || seconds <= 0.0) {
      return std::nullopt;
    }
    const auto bias = medianOver(
        f_.size(), [&](std::size_t j) { return h(j).dataType == "BIAS" && sameSize(h(i), h(j)); },
        [&](std::size_t j) { return std::optional<double>(m(j).median); }, i, 1);
    if (!bias) return std::nullopt;
    return (*m(i).skyLevel - *bias) / seconds;
  }

  void judgeObject(std::size_t i) {
    const Measurement& mi = m(i);
    if (mi.targetSaturated.value_or(false)) flag(i, "target saturated");
    // Trailed stars are wide too: the trail is the reason given.
    if (mi.elongation && *mi.elongation > kElongationLimit) {
      flag(i, "elongated stars, a/b " + fixed(*mi.elongation, 1) + " (trailing or wind)");
    } else if (mi.fwhmPixels && nightFwhm_ && *mi.fwhmPixels > kFwhmFactor * *nightFwhm_) {
      flag(i, "FWHM " + fixed(*mi.fwhmPixels / *nightFwhm_, 1) + " x the night's median (focus or seeing)");
    }
    const std::string& filter = h(i).filter;
    const auto sky = medianOver(
        f_.size(), [&](std::size_t j) { return isObject(j) && h(j).filter == filter; },
        [&](std::size_t j) { return q_[j].skyPerSecond; }, f_.size(), 1);
    if (q_[i].skyPerSecond && sky && *sky > 0.0 && *q_[i].skyPerSecond > kSkyFactor * *sky) {
      flag(i, "sky " + fixed(*q_[i].skyPerSecond / *sky, 1) + " x the median of filter " + filter +
                  " (cloud, moon or twilight)");
    }
    const auto stars = medianOver(
        f_.size(),
        [&](std::size_t j) { return isObject(j) && h(j).object == h(i).object && h(j).filter == filter; },
        [&](std::size_t j) { return std::optional<double>(m(j).stars); }, i, kMinOthers);
    if (stars && mi.stars < kFewStarsFraction * *stars) {
      flag(i, std::to_string(mi.stars) + " stars against " + fixed(*stars, 0) + " on other frames of " +
                  h(i).object + " in " + filter + " (cloud, moon or twilight)");
    }
  }

  void judgeFlat(std::size_t i) {
    if (!std::isfinite(m(i).saturation) || !(m(i).saturation > 0.0)) return;
    const double fraction = m(i).median / m(i).saturation;
    if (fraction < kFlatFaintFraction) {
      flag(i, "flat too faint: median " + fixed(100.0 * fraction, 1) + " % of saturation");
    } else if (fraction > kFlatNearSaturation) {
      flag(i, "flat near saturation: median " + fixed(100.0 * fraction, 1) + " % of saturation");
    }
  }

  // A BIAS against the night's other BIAS frames of its size; a DARK
  // against the other DARK frames of its size and EXPTIME.
  void judgeCalibration(std::size_t i) {
    const auto alike = [&](std::size_t j) {
      return h(j).dataType == h(i).dataType && sameSize(h(i), h(j)) &&
             (h(i).dataType == "BIAS" || h(j).exptime == h(i).exptime);
    };
    // The median of all of them, this one too: one frame off among three
    // does not move it.
    const std::size_t all = f_.size(), least = kMinOthers + 1;
    const auto level = medianOver(all, alike, [&](std::size_t j) { return std::optional<double>(m(j).median); }, all, least);
    const auto noise = medianOver(all, alike, [&](std::size_t j) { return std::optional<double>(m(j).noise); }, all, least);
    if (!level || !noise) return;
    const std::string others = " of the night's " + h(i).dataType + " frames";
    if (std::fabs(m(i).median - *level) > kLevelOffNoises * *noise) {
      flag(i, "level " + fixed(m(i).median, 1) + " against " + fixed(*level, 1) + others);
    }
    if (m(i).noise > kNoiseFactor * *noise || m(i).noise * kNoiseFactor < *noise) {
      flag(i, "noise " + fixed(m(i).noise, 2) + " against " + fixed(*noise, 2) + others);
    }
  }

  const std::vector<QualityInput>& f_;
  std::vector<FrameQuality> q_;
  std::optional<double> nightFwhm_;
};

}  // namespace

std::vector<FrameQuality> judgeNight(const std::vector<QualityInput>& frames) {
  return Night(frames).judge();
}

std::string consoleEnd(const FrameHeader& header, const Measurement& measurement,
                       const FrameQuality& quality) {
  std::string text;
  if (!measurement.notMeasured.empty()) {
    text = "  not measured: " + measurement.notMeasured;
  } else if (isSkyFrame(header, measurement)) {
    text = "  FWHM " + measureText(measurement.fwhmPixels);
  }
  for (std::size_t k = 0; k < quality.flags.size(); ++k) {
    text += (k == 0 ? "  ! " : "; ") + quality.flags[k];
  }
  return text;
}

std::string measureText(const std::optional<double>& value, int decimals) {
  return value ? fixed(*value, decimals) : "-";
}

bool isSkyFrame(const FrameHeader& header, const Measurement& measurement) {
  const std::string type = frameType(header);
  return type == "OBJECT" || (type.empty() && measurement.starsMeasured);
}

}  // namespace tarnlook
