// The problems a frame shows against the rest of its night, each with its
// reason in words: the flags of the morning report. Pure computation over
// the frames' headers and measurements (measure.h).
#ifndef TARNLOOK_QUALITY_H
#define TARNLOOK_QUALITY_H

#include <optional>
#include <string>
#include <vector>

#include "frame_header.h"
#include "measure.h"

namespace tarnlook {

// The thresholds, each named once (docs/tarnlook.md, "What the report
// measures"). The plain generated night raises none.
constexpr double kFwhmFactor = 1.5;         // FWHM above this x the night's median
constexpr double kElongationLimit = 1.5;    // median a/b above this
constexpr double kSkyFactor = 3.0;          // sky per second above this x the filter's median
constexpr double kFewStarsFraction = 0.5;   // stars below this x the median of the same target and filter
constexpr double kFlatFaintFraction = 0.05; // FLAT median below this fraction of saturation
constexpr double kFlatNearSaturation = 0.8; // FLAT median above this fraction of saturation
constexpr double kLevelOffNoises = 5.0;     // BIAS/DARK level off the others' median by this many noises
constexpr double kNoiseFactor = 1.5;        // BIAS/DARK noise this many times above or below the others'
constexpr int kMinOthers = 2;               // frames to compare with at least

// What the night says of one frame.
struct FrameQuality {
  // The sky level above the bias per second of EXPTIME, ADU/s: OBJECT
  // frames whose night has BIAS frames of the same size (the bias level is
  // their median level); else none.
  std::optional<double> skyPerSecond;
  std::vector<std::string> flags;  // the reasons, in words
};

// One frame of the night, as the flags see it.
struct QualityInput {
  const FrameHeader* header;
  const Measurement* measurement;
};

// The quality of each frame, in the order given:
//   "target saturated"
//   "elongated stars, a/b E (trailing or wind)"                 > kElongationLimit
//   "FWHM F x the night's median (focus or seeing)"            > kFwhmFactor, not elongated
//   "sky S x the median of filter X (cloud, moon or twilight)"  > kSkyFactor
//   "N stars against M on other frames of T in X (cloud, moon or twilight)"
//   "flat too faint: median P % of saturation"                  < kFlatFaintFraction
//   "flat near saturation: median P % of saturation"            > kFlatNearSaturation
//   "level L against M of the night's BIAS frames"              (or DARK, same EXPTIME)
//   "noise N against M of the night's BIAS frames"
// Medians of the night are over the frames measured; a comparison needs
// kMinOthers frames besides the one compared (the BIAS and DARK medians
// count the frame itself).
std::vector<FrameQuality> judgeNight(const std::vector<QualityInput>& frames);

// The end of a frame's console line: "  FWHM 4.24" for an OBJECT frame
// ("-" when no star was measured), "  not measured: <reason>" instead when
// the frame was not, then "  ! " and the flags, "; " between them.
std::string consoleEnd(const FrameHeader& header, const Measurement& measurement,
                       const FrameQuality& quality);

// "4.24" (two decimals) or "-": a number as the page, table and console show it.
std::string measureText(const std::optional<double>& value, int decimals = 2);

}  // namespace tarnlook

#endif  // TARNLOOK_QUALITY_H
