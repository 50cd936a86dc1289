// measure, inside: a star's profile fitted on a cutout of the frame, and
// the stars told from cosmic rays and galaxies. Not part of the interface
// (measure.h); its sources are psf_fit.cpp and stars.cpp.
#ifndef MEASURE_PSF_FIT_H
#define MEASURE_PSF_FIT_H

#include <optional>
#include <vector>

namespace tarnlook {

// A square of full-resolution pixels around a star, background not
// necessarily removed: value of pixel (i, j) at values[j * size + i],
// centred on frame pixel (x0 + i, y0 + j). A masked pixel (a neighbour's,
// or undefined) is left out of the fit.
struct Cutout {
  long long x0 = 0, y0 = 0;
  int size = 0;
  std::vector<float> values;
  std::vector<unsigned char> masked;
};

// The fitted profile of one star:
//   I(x, y) = B + A (1 + Q(x - xc, y - yc))^-beta,
// an elliptical Moffat, Q a positive quadratic form, integrated over each
// pixel (sampled on a sub-grid fine enough that a star of FWHM 2 to 12 px
// keeps its FWHM to 1.3 %). The FWHM along an axis is where Q = 2^(1/beta) - 1.
struct PsfFit {
  double x = 0.0, y = 0.0;   // centre, frame pixels
  double fwhmPixels = 0.0;   // geometric mean of the major and minor FWHM
  double minorFwhmPixels = 0.0;
  double beta = 0.0;         // Moffat index; a Gaussian fits with a large one
  double axisRatio = 1.0;    // major over minor FWHM, >= 1
};

// Fits the profile to the cutout with GSL's nonlinear least squares
// (Levenberg-Marquardt), starting at centre (x, y) in frame pixels with a
// FWHM of about fwhmGuess px. Returns nothing when the fit fails to
// converge, runs off (centre moved by more than fwhmGuess, FWHM outside
// 0.3 to 4 x fwhmGuess) or has no flux.
std::optional<PsfFit> fitMoffat(const Cutout& cutout, double x, double y, double fwhmGuess);

// The half-width of the square cutout that fitMoffat wants for a star of
// about fwhmGuess px: room for its wings.
int cutoutHalfWidth(double fwhmGuess);

// A source that SEP found, as the star finder sees it (full-resolution
// pixels for positions; sizes in the pixels that were searched).
struct Candidate {
  double x = 0.0, y = 0.0;   // centre
  double flux = 0.0;         // ADU above the background
  double halfLight = 0.0;    // half-light radius
  double minor = 0.0;        // SEP's second-moment minor axis
  double elongation = 1.0;   // SEP's a/b
  double theta = 0.0;        // SEP's position angle, radians
  bool sharp = false;        // its brightest pixel holds most of its light
  bool saturated = false;
  bool truncated = false;    // at the edge of the frame
  bool blended = false;      // deblended from a neighbour
};

// What the stellar locus says of each candidate.
enum class SourceKind { Star, CosmicRay, Other };

// The kind of each candidate: a star when it is unsaturated and its
// half-light radius and shape (elongation and angle) lie on the locus, the
// tightest cluster that at least kMinLocusStars unsaturated candidates
// make; a saturated candidate that is not sharp is a star too. A cosmic ray
// (or hot pixel) is sharp, or off the locus and narrower than its stars.
// No locus: no stars.
std::vector<SourceKind> classifySources(const std::vector<Candidate>& candidates);

}  // namespace tarnlook

#endif  // MEASURE_PSF_FIT_H
