// measure: what a frame's pixels say about it (SEP), and the flags the
// night raises on each frame.
#ifndef MEASURE_MEASURE_H
#define MEASURE_MEASURE_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frames.h"

namespace tarnlook {

// ---------------------------------------------------------------------------
// What a frame's pixels say about it: the level, noise and saturation of
// every frame, and for the sky (OBJECT frames) the stars found with SEP,
// the library of Source Extractor's algorithms: background, extraction and
// flux radius. Pure computation over a pixel array.

constexpr int kMeshPixels = 64;            // background mesh, pixels on a side
constexpr float kDetectSigmas = 3.0f;      // detection threshold, background noises per pixel
constexpr int kMinStarArea = 5;            // pixels above the threshold at least
// A star spreads its light: its brightest pixel holds at most this
// fraction of the light above the threshold (a Gaussian of FWHM 2 pixels,
// 0.2 of it). A hot pixel or a cosmic-ray hit holds nearly all of it.
// On a binned copy a star of FWHM 2 px holds up to 0.6 of its light in a
// pixel of the copy; a single hit still all of it.
constexpr double kMaxStarPeakFraction = 0.4;
constexpr double kMaxBinnedPeakFraction = 0.75;
// Memory for one frame's pixels while it is measured: a larger frame is
// measured on a copy binned by 2, 3, ... and one that needs more than
// kMaxBinning is not measured.
constexpr long long kMeasureBudgetPixels = 4LL << 20;  // 16 MiB of floats
constexpr int kMaxBinning = 8;
// SEP's own limits, set once per process (setSepLimits).
constexpr std::size_t kSepPixelStack = 300000;  // pixels in objects being extracted (SEP's default)
constexpr int kSepSubObjects = 1024;             // sub-objects in one deblending

// A star as the night's frames are matched by it: its centre in the
// frame's own pixels (x along NAXIS1, from 0) and its flux above the sky, ADU.
struct StarFlux {
  double x = 0.0, y = 0.0, flux = 0.0;
};

// The numbers of one frame, in the frame's own full-resolution pixels
// (values found on a binned copy are converted; the profiles are fitted at
// full resolution, see measurePixels).
struct Measurement {
  std::string notMeasured;  // why the stars were not measured; empty when they were
  int binning = 1;          // 1, or the block size of the copy that was measured
  double saturation = 0.0;  // ADU, the level given (saturationLevel)
  // Every frame, over its defined pixels (NaN and infinite values are undefined):
  double median = 0.0;           // ADU
  double noise = 0.0;            // ADU: standard deviation within 3 sigma of the median,
                                 // corrected for the cut (of 50 000 pixels taken evenly)
  double maximum = 0.0;          // ADU
  long long saturatedPixels = 0; // at or above the saturation level
  // OBJECT frames (`stars` set when the stars were looked for):
  bool starsMeasured = false;
  int stars = 0;                         // sources on the stellar locus (not cosmic rays,
                                         // hot pixels, galaxies), saturated ones included
  int saturatedStars = 0;
  // px: median over the stars fitted of the fitted elliptical Moffat's FWHM,
  // the geometric mean of its major and minor FWHM; unset without a star.
  std::optional<double> fwhmPixels;
  std::optional<double> elongation;      // the same as axisRatio (the flags read it)
  std::optional<double> skyLevel;        // ADU, SEP's global background
  std::optional<bool> targetSaturated;   // the star nearest the centre; none found: unset
  // The stars' profile, fitted on the brightest isolated unsaturated stars
  // (kMaxFittedStars in measure.cpp at most):
  std::optional<double> beta;                 // median Moffat beta (a Gaussian: large)
  std::optional<double> axisRatio;            // median fitted major / minor FWHM (1 for round stars)
  int starsFitted = 0;                        // stars whose profile was fitted
  std::optional<double> halfLightDiameter;    // px: median of twice the half-light radius
                                              // of the unsaturated stars (SEP's flux radius)
  int cosmicRays = 0;                         // sharp sources off the stellar locus (tracks, hot pixels)
  std::optional<double> backgroundGradient;   // (max - min) of SEP's background map over its median
  std::vector<StarFlux> brightStars{};        // the 100 brightest unsaturated stars at most, brightest first
};

// Sets SEP's pixel stack and sub-object limit for the whole process. Call
// before any thread measures (SEP keeps them in globals).
void setSepLimits(std::size_t pixelStack = kSepPixelStack, int subObjects = kSepSubObjects);

// The block size at which a frame of width x height pixels is measured: 1
// when it fits kMeasureBudgetPixels, else the least b with (w/b)(h/b) in
// it; 0 when b would exceed kMaxBinning.
int measureBinning(long long width, long long height);

// The pixels of a frame gathered for measuring while its rows stream past
// (FITS row 1 first): the rows themselves, or at binning b > 1 the means
// of the finite values in b x b blocks (NaN for a block without any).
class MeasureCopy {
 public:
  MeasureCopy(long long width, long long height, int binning);
  void addRows(const float* rows, long long rowCount);
  // The copy, once every row was added; width() x height() values.
  std::vector<float>& pixels();
  long long width() const { return width_; }
  long long height() const { return height_; }
  int binning() const { return binning_; }

 private:
  long long naxis1_, width_, height_;
  int binning_;
  long long rowsSeen_ = 0;
  std::vector<float> values_;
  std::vector<unsigned char> counts_;   // finite values in each block (b > 1; at most kMaxBinning^2 = 64)
};

// Reads the frame's full-resolution pixels x0 .. x0 + w - 1, y0 .. y0 + h - 1
// (from 0, x along NAXIS1) into `out`, row after row, undefined pixels NaN;
// false when the rectangle leaves the frame or cannot be read.
using CutoutReader =
    std::function<bool(long long x0, long long y0, int w, int h, std::vector<float>& out)>;

// Measures the image `pixels` (width x height, row 1 first; a binned copy
// when binning > 1), whose saturation level is `saturation` ADU (infinite
// when it has none). When findStars, the background is subtracted in place
// and the stars are measured: SEP finds the sources, the stellar locus
// tells the stars, and the brightest isolated unsaturated stars are fitted
// (neighbours masked with SEP's segmentation) on the image itself, or, on
// a binned copy, on cutouts that fullResolution reads from the frame
// (without it, on the copy: FWHM then only to a pixel of the copy). A
// reason in notMeasured instead when:
//   "smaller than the background mesh (64 x 64 pixels)"
//   "a constant frame"                     no noise (half the pixels or more alike)
//   "too few defined pixels"               fewer than half
//   "SEP: <SEP's message>"                 pixel stack full, too many objects
Measurement measurePixels(std::vector<float>& pixels, long long width, long long height,
                          int binning, double saturation, bool findStars,
                          const CutoutReader& fullResolution = {});

// The largest value a FITS image of this BITPIX, BZERO and BSCALE can hold
// (BITPIX 16, BZERO 32768: 65535; BSCALE 2 doubles it); infinity for
// floating-point images. A SATURATE card, when present, is used instead.
double saturationLevel(int bitpix, double bzero, double bscale);

// ---------------------------------------------------------------------------
// The problems a frame shows against the rest of its night, each with its
// reason in words: the flags of the morning report. Pure computation over
// the frames' headers and measurements (above).

// The thresholds, each named once (docs/tarnlook.md, "What the report
// measures"). The plain generated night raises none.
constexpr double kFwhmFactor = 1.5;         // FWHM above this x the night's median, or its best frames'
constexpr double kSeeingFactor = 1.5;       // FWHM in arcsec above this x the observer's SEEING
constexpr double kBestFraction = 0.25;      // the night's best frames: this fraction with the least FWHM
constexpr double kElongationLimit = 1.5;    // median a/b above this
constexpr double kSkyFactor = 3.0;          // sky per second above this x the filter's median
constexpr double kFewStarsFraction = 0.5;   // stars below this x the median of the same target and filter
constexpr double kFlatFaintFraction = 0.05; // FLAT median below this fraction of saturation
constexpr double kFlatNearSaturation = 0.8; // FLAT median above this fraction of saturation
constexpr double kLevelOffNoises = 5.0;     // BIAS/DARK level off the others' median by this many noises
constexpr double kNoiseFactor = 1.5;        // BIAS/DARK noise this many times above or below the others'
constexpr int kMinOthers = 2;               // frames to compare with at least
constexpr double kLeastTransparency = 0.7;  // light of the field's best frame, as a fraction, at least
constexpr double kGradientLimit = 0.2;      // background (max - min) / median at most
// Matching the stars of two frames of one field: the pointing may differ by
// up to kMatchOffsetPixels; two stars are one within kMatchPixels of the
// offset found, which at least kMinMatched stars must share.
constexpr double kMatchOffsetPixels = 200.0;
constexpr double kMatchPixels = 2.0;
constexpr int kMinMatched = 3;
constexpr std::size_t kMatchStars = 30;     // the brightest stars of each frame tried
constexpr std::size_t kOffsetStars = 10;    // of them, those whose pairs propose the offset

// ---------------------------------------------------------------------------
// The site file: what an observatory knows of its cameras and what it
// accepts of a night (docs/tarnlook.md, "The site file"). Plain text, one
// setting a line, '#' to the end of a line a comment:
//   camera NAXIS1xNAXIS2 [scale ARCSEC] [bias ADU] [saturation ADU]
//   fwhm_limit ARCSEC
//   sky_limit FILTER ADU_PER_S
//   least_transparency FRACTION
//   gradient_limit FRACTION
//   clear_frame PATH          a frame of a clear night: its field's light at best

constexpr const char* kSiteFileName = "site.conf";

// One camera at one binning, known by its image size.
struct CameraSite {
  long long naxis1 = 0, naxis2 = 0;
  std::optional<double> arcsecPerPixel;  // the sky's scale
  std::optional<double> biasLevel;       // ADU, the level of a frame of no exposure
  std::optional<double> saturation;      // ADU, where the camera saturates
};

struct SkyLimit {
  std::string filter;      // FILTER as the header has it
  double perSecond = 0.0;  // ADU/s above the bias, at most
};

struct Site {
  std::vector<CameraSite> cameras;
  std::optional<double> fwhmLimitArcsec;
  std::vector<SkyLimit> skyLimits;
  double leastTransparency = kLeastTransparency;
  double gradientLimit = kGradientLimit;
  // Frames of clear nights (paths, absolute or from the night's folder):
  // the light of their field and filter at its best, so that a night
  // cloudy throughout is judged against more than its own best.
  std::vector<std::string> clearFrames{};
};

// Reads a site file's text into `site` (settings not given keep their
// defaults; a camera given twice: the later line). Returns an empty text,
// else "line N: <what is wrong>" for the first line that is not a setting;
// `site` is then unchanged.
std::string parseSite(const std::string& text, Site& site);

// The camera of the frames of this header's size; none when not given.
const CameraSite* cameraOf(const Site& site, const FrameHeader& header);

// ---------------------------------------------------------------------------
// Relative transparency: the light of the stars a frame shares with another
// frame of its field.

// The ratio of the flux per second of the stars that `frame` shares with
// `reference` (exposures of `frameSeconds` and `referenceSeconds`), the
// median over the matched stars: 1 for the same sky, 0.25 when cloud took
// three quarters of the light. The two may be offset by a pointing shift
// of up to kMatchOffsetPixels; none when fewer than kMinMatched stars match.
std::optional<double> fluxRatio(const std::vector<StarFlux>& frame, double frameSeconds,
                                const std::vector<StarFlux>& reference, double referenceSeconds);

// ---------------------------------------------------------------------------
// The judging.

// What a flag is about: the chart marks a frame red on its own quantity's panel only.
enum class Quantity { kOther, kFwhm, kSky, kTransparency };

// What the night says of one frame.
struct FrameQuality {
  // The sky level above the bias per second of EXPTIME, ADU/s: OBJECT
  // frames whose bias level is known (biasFrom says whence); else none.
  std::optional<double> skyPerSecond;
  // whence the bias: "the night's BIAS frames", "the site file" or
  // "the night's darkest frame" (the page names it in the sky cell's title)
  std::string biasFrom;
  std::optional<double> fwhmArcsec;    // FWHM x the scale, where the scale is known
  std::optional<double> transparency;  // light against the field's best frame (1 for it)
  std::vector<std::string> flags;      // the reasons, in words
  std::vector<std::string> briefs;     // each in a few words, for the box and the sheet
  std::vector<Quantity> about;         // what each flag is about
  bool flagged(Quantity q) const;
};

// One frame of the night, as the flags see it.
struct QualityInput {
  const FrameHeader* header;
  const Measurement* measurement;
  std::optional<double> arcsecPerPixel{};  // the scale (--scale or the site file)
};

// The quality of each frame, in the order given:
//   "target saturated"
//   "elongated stars, a/b E (trailing or wind)"                 > kElongationLimit
//   a FWHM flag, the first that holds, unless elongated:
//   "FWHM F arcsec above the site's limit L (focus or seeing)"
//   "FWHM F arcsec, X x the observer's SEEING S (focus or seeing)"  > kSeeingFactor
//   "FWHM F x the night's median (focus or seeing)"              > kFwhmFactor
//   "FWHM F x the night's best frames (focus or seeing)"         > kFwhmFactor
//   "sky S ADU/s above the site's limit L for filter X (cloud, moon or twilight)"
//   "sky S x the median of filter X (cloud, moon or twilight)"  > kSkyFactor
//   "N stars against M on other frames of T in X (cloud, moon or twilight)"
//   "transparency P % of the best (cloud)"                      < leastTransparency
//   "background gradient G (moon, twilight or scattered light)" > gradientLimit
//   "flat too faint: median P % of saturation"                  < kFlatFaintFraction
//   "flat near saturation: median P % of saturation"            > kFlatNearSaturation
//   "level L against M of the night's BIAS frames"              (or DARK, same EXPTIME)
//   "noise N against M of the night's BIAS frames"
// Medians of the night are over the frames measured; a comparison needs
// kMinOthers frames besides the one compared (the BIAS and DARK medians
// count the frame itself). The night's best frames are the kBestFraction
// of the frames of one image size with the least FWHM (one at least), the
// comparison their median FWHM; it needs kMinOthers + 1 frames of the
// size. The bias level under the sky comes from the night's BIAS frames of
// the frame's size, else the site file's camera, else the lowest level of
// the night's other frames of that size (the sky then reads low, never
// high; none when that level is above the frame's sky). The transparency's
// best is that of the night's frames of the field and filter and of the
// `clear` frames (the site's clear_frame, measured) of the same OBJECT and
// FILTER. A sky flag against
// the filter's median also needs the excess to pass kLevelOffNoises of the
// frame's noise.
std::vector<FrameQuality> judgeNight(const std::vector<QualityInput>& frames, const Site& site = {},
                                     const std::vector<QualityInput>& clear = {});

// The end of a frame's console line: "  FWHM 4.24 px" for an OBJECT frame
// ("FWHM -" when no star was measured, "no stars" when none was found;
// the FWHM in arcsec beside it where the scale is known, "  FWHM 4.24 px
// (1.61 arcsec)"), "  not measured: <reason>" instead when
// the frame was not, then "  ! " and the flags, "; " between them.
std::string consoleEnd(const FrameHeader& header, const Measurement& measurement,
                       const FrameQuality& quality);

// Whether the frame is judged as the sky: its type says OBJECT (frameType),
// or it has no type card and its stars were measured.
bool isSkyFrame(const FrameHeader& header, const Measurement& measurement);

// The median of the values (the mean of the middle two of an even count);
// none for no value.
std::optional<double> medianOf(std::vector<double> values);

// Whether all of `text` is one finite number (as a header value), put in `value`.
bool numberIn(const std::string& text, double& value);

// "4.24" (two decimals) or "-": a number as the page, table and console
// show it. A value below 1 in size, or of 10^9 or more, keeps three
// significant digits instead ("0.0042", "2.2e-19"): it never shows as 0.00.
std::string measureText(const std::optional<double>& value, int decimals = 2);

}  // namespace tarnlook

#endif  // MEASURE_MEASURE_H
