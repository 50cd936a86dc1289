// Judging the frames of a night against one another.
#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace tarnlook {

std::optional<double> medianOf(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : 0.5 * (values[half - 1] + values[half]);
}

bool numberIn(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

namespace {

using Pick = std::function<std::optional<double>(std::size_t)>;

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

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool sameSize(const FrameHeader& a, const FrameHeader& b) {
  return a.naxis1 == b.naxis1 && a.naxis2 == b.naxis2;
}

constexpr const char* kDarkest = "the night's darkest frame";

// What a frame says in few words, beside its full reason.
struct Reason {
  Quantity about;
  std::string text, brief;
};

class Night {
 public:
  Night(const std::vector<QualityInput>& frames, const Site& site, const std::vector<QualityInput>& clear)
      : f_(frames), site_(site), clear_(clear), q_(frames.size()), seconds_(frames.size()) {
    for (std::size_t i = 0; i < f_.size(); ++i) {
      double value = 0.0;
      if (numberIn(h(i).exptime, value) && value > 0.0) seconds_[i] = value;
      skyOf(i);
      if (f_[i].arcsecPerPixel && m(i).fwhmPixels) q_[i].fwhmArcsec = *m(i).fwhmPixels * *f_[i].arcsecPerPixel;
    }
    transparencies();
    const std::size_t none = f_.size();
    nightFwhm_ = medianOver(f_.size(), [&](std::size_t j) { return isObject(j); },
                            [&](std::size_t j) { return m(j).fwhmPixels; }, none, 1);
  }

  std::vector<FrameQuality> judge() {
    for (std::size_t i = 0; i < f_.size(); ++i) {
      if (isObject(i)) judgeObject(i);
      const std::string type = frameType(h(i));
      if (type == "FLAT") judgeFlat(i);
      if (type == "BIAS" || type == "DARK") judgeCalibration(i);
    }
    return q_;
  }

 private:
  const Measurement& m(std::size_t i) const { return *f_[i].measurement; }
  const FrameHeader& h(std::size_t i) const { return *f_[i].header; }
  bool isObject(std::size_t i) const { return isSkyFrame(h(i), m(i)) && m(i).starsMeasured; }
  void flag(std::size_t i, const Reason& reason) {
    q_[i].flags.push_back(reason.text);
    q_[i].briefs.push_back(reason.brief);
    q_[i].about.push_back(reason.about);
  }
  std::optional<double> levelOf(std::size_t j, const char* type, std::size_t i) const {
    const bool alike = frameType(h(j)) == type && sameSize(h(i), h(j)) && m(j).binning > 0;
    return alike ? std::optional<double>(m(j).median) : std::nullopt;
  }

  // The bias under the sky: the night's BIAS frames of the size, the site's
  // camera, else the lowest level of the night's frames of that size.
  void skyOf(std::size_t i) {
    if (!isObject(i) || !m(i).skyLevel || !seconds_[i]) return;
    const auto all = [](std::size_t) { return true; };
    auto bias = medianOver(f_.size(), all, [&](std::size_t j) { return levelOf(j, "BIAS", i); }, i, 1);
    std::string from = "the night's BIAS frames";
    const CameraSite* camera = cameraOf(site_, h(i));
    if (!bias && camera && camera->biasLevel) bias = camera->biasLevel, from = "the site file";
    if (!bias) bias = darkestLevel(i), from = kDarkest;
    // The darkest of the others, when above this sky, says nothing of it.
    if (!bias || (from == kDarkest && *bias > *m(i).skyLevel)) return;
    q_[i].skyPerSecond = (*m(i).skyLevel - *bias) / *seconds_[i];
    q_[i].biasFrom = from;
  }

  // The lowest level of the night's other frames of the frame's size: the
  // sky of a sky frame, the median of another.
  std::optional<double> darkestLevel(std::size_t i) const {
    std::optional<double> darkest;
    for (std::size_t j = 0; j < f_.size(); ++j) {
      if (j == i || !sameSize(h(i), h(j)) || m(j).binning <= 0) continue;
      const double level = isObject(j) && m(j).skyLevel ? *m(j).skyLevel : m(j).median;
      darkest = std::min(darkest.value_or(level), level);
    }
    return darkest;
  }

  // Whether frame j is of frame i's field: the same OBJECT and FILTER, with stars to match.
  bool sameField(std::size_t i, std::size_t j) const {
    return isObject(j) && seconds_[j] && !m(j).brightStars.empty() && h(j).object == h(i).object &&
           h(j).filter == h(i).filter;
  }

  // The light of each frame against the frame of its field with the most
  // stars to match (each frame matched once), then over the field's best.
  void transparencies() {
    const std::size_t n = f_.size();
    std::vector<std::size_t> reference(n);
    std::vector<std::optional<double>> ratio(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (!sameField(i, i)) continue;
      reference[i] = n;  // the first of the field with the most, the same for all of it
      for (std::size_t j = 0; j < n; ++j) {
        if (sameField(i, j) && (reference[i] == n || m(j).brightStars.size() > m(reference[i]).brightStars.size()))
          reference[i] = j;
      }
      const std::size_t r = reference[i];
      ratio[i] = fluxRatio(m(i).brightStars, *seconds_[i], m(r).brightStars, *seconds_[r]);
    }
    std::map<std::size_t, double> clear;  // by reference frame
    for (std::size_t i = 0; i < n; ++i) {
      if (!ratio[i]) continue;
      const auto known = clear.find(reference[i]);
      double best = known != clear.end() ? known->second : (clear[reference[i]] = clearBest(i, reference[i]));
      for (std::size_t j = 0; j < n; ++j) {
        if (ratio[j] && reference[j] == reference[i]) best = std::max(best, *ratio[j]);
      }
      if (best > 0.0) q_[i].transparency = *ratio[i] / best;
    }
  }

  // The light of the field's clear frames (the site's) against the
  // night's reference frame of the field, the largest; 0 for none.
  double clearBest(std::size_t i, std::size_t reference) const {
    double best = 0.0, seconds = 0.0;
    for (const QualityInput& c : clear_) {
      if (c.header->object != h(i).object || c.header->filter != h(i).filter) continue;
      if (!numberIn(c.header->exptime, seconds) || !(seconds > 0.0)) continue;
      const auto r = fluxRatio(c.measurement->brightStars, seconds, m(reference).brightStars, *seconds_[reference]);
      best = std::max(best, r.value_or(0.0));
    }
    return best;
  }

  // The night's best frames of the frame's size: the median FWHM of the
  // kBestFraction of them with the least.
  std::optional<double> bestFwhm(std::size_t i) const {
    std::vector<double> values;
    for (std::size_t j = 0; j < f_.size(); ++j) {
      if (isObject(j) && sameSize(h(i), h(j)) && m(j).fwhmPixels) values.push_back(*m(j).fwhmPixels);
    }
    if (values.size() < static_cast<std::size_t>(kMinOthers) + 1) return std::nullopt;
    std::sort(values.begin(), values.end());
    const auto count = static_cast<std::size_t>(std::ceil(kBestFraction * static_cast<double>(values.size())));
    values.resize(std::max<std::size_t>(1, count));
    return medianOf(values);
  }

  std::optional<Reason> fwhmReason(std::size_t i) const {
    const double fwhm = *m(i).fwhmPixels;
    const auto arcsec = q_[i].fwhmArcsec;
    double seeing = 0.0;
    if (arcsec && site_.fwhmLimitArcsec && *arcsec > *site_.fwhmLimitArcsec) {
      return Reason{Quantity::kFwhm, "FWHM " + fixed(*arcsec, 1) + " arcsec above the site's limit " +
                    measureText(site_.fwhmLimitArcsec, 1) + " (focus or seeing)", "FWHM " + fixed(*arcsec, 1) + " arcsec"};
    }
    if (arcsec && numberIn(h(i).seeing, seeing) && seeing > 0.0 && *arcsec > kSeeingFactor * seeing) {
      return Reason{Quantity::kFwhm, "FWHM " + fixed(*arcsec, 1) + " arcsec, " + fixed(*arcsec / seeing, 1) +
                    " x the observer's SEEING " + fixed(seeing, 1) + " (focus or seeing)",
                    "FWHM " + fixed(*arcsec, 1) + " arcsec against SEEING " + fixed(seeing, 1)};
    }
    if (nightFwhm_ && fwhm > kFwhmFactor * *nightFwhm_) {
      return Reason{Quantity::kFwhm, "FWHM " + fixed(fwhm / *nightFwhm_, 1) + " x the night's median (focus or seeing)",
                    "FWHM " + fixed(fwhm / *nightFwhm_, 1) + " x the median"};
    }
    const auto best = bestFwhm(i);
    if (best && fwhm > kFwhmFactor * *best) {
      return Reason{Quantity::kFwhm, "FWHM " + fixed(fwhm / *best, 1) + " x the night's best frames (focus or seeing)",
                    "FWHM " + fixed(fwhm / *best, 1) + " x the best"};
    }
    return std::nullopt;
  }

  void judgeObject(std::size_t i) {
    const Measurement& mi = m(i);
    if (mi.targetSaturated.value_or(false)) flag(i, {Quantity::kOther, "target saturated", "target saturated"});
    // Trailed stars are wide too: the trail is the reason given.
    if (mi.elongation && *mi.elongation > kElongationLimit) {
      flag(i, {Quantity::kFwhm, "elongated stars, a/b " + fixed(*mi.elongation, 1) + " (trailing or wind)",
               "trailed (a/b " + fixed(*mi.elongation, 1) + ")"});
    } else if (const auto reason = mi.fwhmPixels ? fwhmReason(i) : std::nullopt) {
      flag(i, *reason);
    }
    judgeSky(i);
    const std::string& filter = h(i).filter;
    const auto stars = medianOver(
        f_.size(),
        [&](std::size_t j) { return isObject(j) && h(j).object == h(i).object && h(j).filter == filter; },
        [&](std::size_t j) { return std::optional<double>(m(j).stars); }, i, kMinOthers);
    if (stars && mi.stars < kFewStarsFraction * *stars) {
      flag(i, {Quantity::kOther, std::to_string(mi.stars) + " stars against " + fixed(*stars, 0) + " on other frames of " +
                  h(i).object + " in " + filter + " (cloud, moon or twilight)",
               "few stars (" + std::to_string(mi.stars) + " against " + fixed(*stars, 0) + ")"});
    }
    const auto& light = q_[i].transparency;
    if (light && *light < site_.leastTransparency) {
      flag(i, {Quantity::kTransparency, "transparency " + fixed(100.0 * *light, 0) + " % of the best (cloud)",
               "cloud (transparency " + fixed(100.0 * *light, 0) + " %)"});
    }
    if (mi.backgroundGradient && *mi.backgroundGradient > site_.gradientLimit) {
      flag(i, {Quantity::kSky, "background gradient " + measureText(mi.backgroundGradient) +
                                   " (moon, twilight or scattered light)",
               "gradient " + measureText(mi.backgroundGradient)});
    }
  }

  // The sky per second against the site's limit of its filter, else
  // against the filter's median, and then beyond the frame's noise.
  void judgeSky(std::size_t i) {
    const auto& rate = q_[i].skyPerSecond;
    if (!rate) return;
    const std::string& filter = h(i).filter;
    for (const SkyLimit& limit : site_.skyLimits) {
      if (limit.filter == filter && *rate > limit.perSecond) {
        return flag(i, {Quantity::kSky, "sky " + measureText(rate, 1) + " ADU/s above the site's limit " +
                                            measureText(limit.perSecond, 1) + " for filter " + filter +
                                            " (cloud, moon or twilight)",
                        "bright sky (" + measureText(rate, 1) + " ADU/s)"});
      }
    }
    const auto sky = medianOver(
        f_.size(), [&](std::size_t j) { return isObject(j) && h(j).filter == filter; },
        [&](std::size_t j) { return q_[j].skyPerSecond; }, f_.size(), 1);
    const bool aboveNoise = (*rate - sky.value_or(0.0)) * *seconds_[i] > kLevelOffNoises * m(i).noise;
    if (sky && *sky > 0.0 && *rate > kSkyFactor * *sky && aboveNoise) {
      flag(i, {Quantity::kSky, "sky " + fixed(*rate / *sky, 1) + " x the median of filter " + filter +
                                   " (cloud, moon or twilight)",
               "bright sky (" + fixed(*rate / *sky, 1) + " x the median)"});
    }
  }

  void judgeFlat(std::size_t i) {
    const CameraSite* camera = cameraOf(site_, h(i));
    const double saturation = camera && camera->saturation ? *camera->saturation : m(i).saturation;
    if (!std::isfinite(saturation) || !(saturation > 0.0)) return;
    const double fraction = m(i).median / saturation;
    const std::string percent = fixed(100.0 * fraction, 1) + " % of saturation";
    if (fraction < kFlatFaintFraction) {
      flag(i, {Quantity::kOther, "flat too faint: median " + percent, "flat too faint"});
    } else if (fraction > kFlatNearSaturation) {
      flag(i, {Quantity::kOther, "flat near saturation: median " + percent, "flat near saturation"});
    }
  }

  // A BIAS against the night's other BIAS frames of its size; a DARK
  // against the other DARK frames of its size and EXPTIME.
  void judgeCalibration(std::size_t i) {
    const std::string type = frameType(h(i));
    const auto alike = [&](std::size_t j) {
      return frameType(h(j)) == type && sameSize(h(i), h(j)) && (type == "BIAS" || h(j).exptime == h(i).exptime);
    };
    // The median of all of them, this one too: one frame off among three
    // does not move it.
    const std::size_t all = f_.size(), least = kMinOthers + 1;
    const auto level = medianOver(all, alike, [&](std::size_t j) { return std::optional<double>(m(j).median); }, all, least);
    const auto noise = medianOver(all, alike, [&](std::size_t j) { return std::optional<double>(m(j).noise); }, all, least);
    if (!level || !noise) return;
    const std::string others = " of the night's " + type + " frames";
    if (std::fabs(m(i).median - *level) > kLevelOffNoises * *noise) {
      const std::string text = "level " + measureText(m(i).median, 1) + " against " + measureText(level, 1);
      flag(i, {Quantity::kOther, text + others, text});
    }
    if (m(i).noise > kNoiseFactor * *noise || m(i).noise * kNoiseFactor < *noise) {
      const std::string text = "noise " + measureText(m(i).noise) + " against " + measureText(noise);
      flag(i, {Quantity::kOther, text + others, text});
    }
  }

  const std::vector<QualityInput>& f_;
  const Site& site_;
  const std::vector<QualityInput>& clear_;
  std::vector<FrameQuality> q_;
  std::vector<std::optional<double>> seconds_;  // EXPTIME, when a positive number
  std::optional<double> nightFwhm_;
};

}  // namespace

std::vector<FrameQuality> judgeNight(const std::vector<QualityInput>& frames, const Site& site,
                                     const std::vector<QualityInput>& clear) {
  return Night(frames, site, clear).judge();
}

bool FrameQuality::flagged(Quantity q) const { return std::find(about.begin(), about.end(), q) != about.end(); }

std::string consoleEnd(const FrameHeader& header, const Measurement& measurement,
                       const FrameQuality& quality) {
  std::string text;
  if (!measurement.notMeasured.empty()) {
    text = "  not measured: " + measurement.notMeasured;
  } else if (isSkyFrame(header, measurement) && measurement.starsMeasured && measurement.stars == 0) {
    text = "  no stars";
  } else if (isSkyFrame(header, measurement)) {
    text = "  FWHM " + measureText(measurement.fwhmPixels) + (measurement.fwhmPixels ? " px" : "");
    if (quality.fwhmArcsec) text += " (" + measureText(quality.fwhmArcsec) + " arcsec)";
  }
  for (std::size_t k = 0; k < quality.flags.size(); ++k) {
    text += (k == 0 ? "  ! " : "; ") + quality.flags[k];
  }
  return text;
}

std::string measureText(const std::optional<double>& value, int decimals) {
  if (!value) return "-";
  const double size = std::fabs(*value);
  if (*value == 0.0 || (size >= 1.0 && size < 1e9)) return fixed(*value, decimals);
  char text[64];
  std::snprintf(text, sizeof text, "%.3g", *value);
  return text;
}

bool isSkyFrame(const FrameHeader& header, const Measurement& measurement) {
  const std::string type = frameType(header);
  return type == "OBJECT" || (type.empty() && measurement.starsMeasured);
}

}  // namespace tarnlook
