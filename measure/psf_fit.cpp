// A star's profile, an elliptical Moffat, fitted with GSL's nonlinear
// least squares.
#include "psf_fit.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace tarnlook {

namespace {

// Parameters: amplitude A, centre (xc, yc) relative to the cutout's
// origin, the form Q = (l11 dx)^2 + (l21 dx + l22 dy)^2 (positive by
// construction), t with beta = 1 + e^t (finite flux), and the background B.
enum Parameter { kA, kXc, kYc, kL11, kL21, kL22, kT, kB, kParameters };

constexpr int kMaxIterations = 25;
constexpr double kGaussianBeta = 20.0;
constexpr double kStepTolerance = 1e-6;     // relative change of the parameters
constexpr double kGradientTolerance = 1e-8;
constexpr double kStartBeta = 3.0;
// Sub-grid: n x n samples a pixel, n the least with FWHM x n >= kSamplesPerFwhm
// (at most kMaxSubsamples): the midpoint rule then narrows a FWHM of 2 to
// 12 px by 1.3 % at most (a pixel's width adds 1/12 px^2 to a star's
// variance, n x n samples (1 - 1/n^2) / 12).
constexpr double kSamplesPerFwhm = 4.0;
constexpr int kMaxSubsamples = 3;
constexpr double kCutoutFwhms = 1.25;  // half-width of the cutout, FWHMs, plus kCutoutMargin
constexpr int kCutoutMargin = 2;
constexpr int kMinCutoutHalf = 4, kMaxCutoutHalf = 30;

struct FreeWorkspace {
  void operator()(gsl_multifit_nlinear_workspace* w) const { gsl_multifit_nlinear_free(w); }
};

// The pixels fitted, and the model with its Jacobian (computed together,
// kept for the Jacobian call at the same parameters).
struct Problem {
  std::vector<double> px, py, value;  // pixel centres relative to the cutout, ADU
  int subsamples = 1;
  std::vector<double> jacobian;       // value.size() x kParameters
  double at[kParameters] = {};
  bool cached = false;
};

void evaluate(const gsl_vector* p, Problem& problem, gsl_vector* residuals) {
  const double a = gsl_vector_get(p, kA), xc = gsl_vector_get(p, kXc), yc = gsl_vector_get(p, kYc);
  const double l11 = gsl_vector_get(p, kL11), l21 = gsl_vector_get(p, kL21), l22 = gsl_vector_get(p, kL22);
  const double betaLess1 = std::exp(gsl_vector_get(p, kT)), beta = 1.0 + betaLess1;
  const double b = gsl_vector_get(p, kB);
  const int n = problem.subsamples;
  const double step = 1.0 / n, weight = 1.0 / (n * n);
  for (std::size_t k = 0; k < problem.value.size(); ++k) {
    double m = 0.0, dx0 = 0.0, dy0 = 0.0, d11 = 0.0, d21 = 0.0, d22 = 0.0, dbeta = 0.0;
    for (int sy = 0; sy < n; ++sy) {
      const double dy = problem.py[k] - 0.5 + (sy + 0.5) * step - yc;
      for (int sx = 0; sx < n; ++sx) {
        const double dx = problem.px[k] - 0.5 + (sx + 0.5) * step - xc;
        const double u = l21 * dx + l22 * dy;
        const double q = l11 * l11 * dx * dx + u * u;
        const double log1q = std::log1p(q);
        const double value = std::exp(-beta * log1q);
        const double dq = -beta * value / (1.0 + q);  // dM/dQ
        m += value;
        dx0 -= dq * (2.0 * l11 * l11 * dx + 2.0 * u * l21);
        dy0 -= dq * 2.0 * u * l22;
        d11 += dq * 2.0 * l11 * dx * dx;
        d21 += dq * 2.0 * u * dx;
        d22 += dq * 2.0 * u * dy;
        dbeta -= value * log1q;
      }
    }
    if (residuals) gsl_vector_set(residuals, k, b + a * weight * m - problem.value[k]);
    double* row = &problem.jacobian[k * kParameters];
    row[kA] = weight * m;
    row[kXc] = a * weight * dx0;
    row[kYc] = a * weight * dy0;
    row[kL11] = a * weight * d11;
    row[kL21] = a * weight * d21;
    row[kL22] = a * weight * d22;
    row[kT] = a * weight * dbeta * betaLess1;
    row[kB] = 1.0;
  }
  for (int i = 0; i < kParameters; ++i) problem.at[i] = gsl_vector_get(p, static_cast<std::size_t>(i));
  problem.cached = true;
}

int residualsOf(const gsl_vector* p, void* data, gsl_vector* f) {
  evaluate(p, *static_cast<Problem*>(data), f);
  return GSL_SUCCESS;
}

int jacobianOf(const gsl_vector* p, void* data, gsl_matrix* j) {
  Problem& problem = *static_cast<Problem*>(data);
  bool same = problem.cached;
  for (int i = 0; same && i < kParameters; ++i) same = problem.at[i] == gsl_vector_get(p, static_cast<std::size_t>(i));
  if (!same) evaluate(p, problem, nullptr);
  for (std::size_t k = 0; k < problem.value.size(); ++k) {
    std::copy_n(&problem.jacobian[k * kParameters], kParameters, gsl_matrix_ptr(j, k, 0));
  }
  return GSL_SUCCESS;
}

// The fitted parameters as a profile; nothing when they ran off.
std::optional<PsfFit> profileOf(const gsl_vector* p, const Cutout& cutout, double x, double y,
                                double fwhmGuess) {
  PsfFit fit;
  fit.x = static_cast<double>(cutout.x0) + gsl_vector_get(p, kXc);
  fit.y = static_cast<double>(cutout.y0) + gsl_vector_get(p, kYc);
  fit.beta = 1.0 + std::exp(gsl_vector_get(p, kT));
  const double l11 = gsl_vector_get(p, kL11), l21 = gsl_vector_get(p, kL21), l22 = gsl_vector_get(p, kL22);
  // Q = r' C r with C = [[l11^2 + l21^2, l21 l22], [l21 l22, l22^2]]; the
  // half-maximum ellipse Q = k has semi-axes sqrt(k / eigenvalue).
  const double cxx = l11 * l11 + l21 * l21, cxy = l21 * l22, cyy = l22 * l22;
  const double mean = 0.5 * (cxx + cyy), spread = std::hypot(0.5 * (cxx - cyy), cxy);
  const double large = mean + spread, small = mean - spread;
  const double k = std::expm1(std::log(2.0) / fit.beta);
  if (!(small > 0.0) || !(gsl_vector_get(p, kA) > 0.0)) return std::nullopt;
  fit.fwhmPixels = 2.0 * std::sqrt(k) / std::sqrt(std::sqrt(large * small));
  fit.minorFwhmPixels = 2.0 * std::sqrt(k / large);
  fit.axisRatio = std::sqrt(large / small);
  if (std::hypot(fit.x - x, fit.y - y) > fwhmGuess || fit.fwhmPixels < 0.3 * fwhmGuess ||
      fit.fwhmPixels > 4.0 * fwhmGuess || !std::isfinite(fit.fwhmPixels)) {
    return std::nullopt;
  }
  return fit;
}

// The cutout's pixels left in the fit, into `problem`; returns the sky
// (the median of its edge) and the peak above it, or nothing when too few
// pixels are left.
std::optional<std::pair<double, double>> gather(const Cutout& cutout, Problem& problem) {
  float peak = -HUGE_VALF;
  std::vector<float> edge;
  for (int j = 0; j < cutout.size; ++j) {
    for (int i = 0; i < cutout.size; ++i) {
      const std::size_t at = static_cast<std::size_t>(j * cutout.size + i);
      const float v = cutout.values[at];
      if (cutout.masked[at] || !std::isfinite(v)) continue;
      problem.px.push_back(i);
      problem.py.push_back(j);
      problem.value.push_back(v);
      peak = std::max(peak, v);
      if (i == 0 || j == 0 || i == cutout.size - 1 || j == cutout.size - 1) edge.push_back(v);
    }
  }
  if (problem.value.size() < 4 * kParameters || edge.empty()) return std::nullopt;
  std::nth_element(edge.begin(), edge.begin() + static_cast<long>(edge.size() / 2), edge.end());
  const double sky = edge[edge.size() / 2];
  return std::pair{sky, peak - sky};
}

// GSL's trust-region Levenberg-Marquardt from `start` (changed to the
// solution); false when GSL cannot begin.
bool solve(Problem& problem, double (&start)[kParameters]) {
  gsl_multifit_nlinear_fdf fdf{};
  fdf.f = residualsOf;
  fdf.df = jacobianOf;
  fdf.n = problem.value.size();
  fdf.p = kParameters;
  fdf.params = &problem;
  // The normal equations (Cholesky) cost a fraction of a QR of the n x 8
  // Jacobian, and a star fitted at 16 sigmas or more keeps them well conditioned.
  gsl_multifit_nlinear_parameters settings = gsl_multifit_nlinear_default_parameters();
  settings.solver = gsl_multifit_nlinear_solver_cholesky;
  std::unique_ptr<gsl_multifit_nlinear_workspace, FreeWorkspace> work(
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &settings, fdf.n, fdf.p));
  gsl_vector_view p0 = gsl_vector_view_array(start, kParameters);
  if (!work || gsl_multifit_nlinear_init(&p0.vector, &fdf, work.get()) != GSL_SUCCESS) return false;
  // GSL's iteration and convergence test; beyond kGaussianBeta the profile
  // is a Gaussian to the noise and beta would only run on.
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    if (gsl_multifit_nlinear_iterate(work.get()) != GSL_SUCCESS) break;
    int info = 0;
    if (gsl_multifit_nlinear_test(kStepTolerance, kGradientTolerance, 0.0, &info, work.get()) == GSL_SUCCESS &&
        info != 0) {
      break;
    }
    if (gsl_vector_get(gsl_multifit_nlinear_position(work.get()), kT) > std::log(kGaussianBeta - 1.0)) break;
  }
  const gsl_vector* solution = gsl_multifit_nlinear_position(work.get());
  for (int i = 0; i < kParameters; ++i) start[i] = gsl_vector_get(solution, static_cast<std::size_t>(i));
  return true;
}

}  // namespace

int cutoutHalfWidth(double fwhmGuess) {
  const int half = static_cast<int>(std::ceil(kCutoutFwhms * fwhmGuess)) + kCutoutMargin;
  return std::clamp(half, kMinCutoutHalf, kMaxCutoutHalf);
}

std::optional<PsfFit> fitMoffat(const Cutout& cutout, double x, double y, double fwhmGuess) {
  // GSL's errors (a singular matrix) come back as its status instead of
  // aborting; set once for the process, the first fit of any thread.
  static const bool quiet = (gsl_set_error_handler_off(), true);
  (void)quiet;
  Problem problem;
  const auto level = gather(cutout, problem);
  if (!level) return std::nullopt;
  problem.subsamples = std::clamp(static_cast<int>(std::ceil(kSamplesPerFwhm / fwhmGuess)), 1, kMaxSubsamples);
  problem.jacobian.resize(problem.value.size() * kParameters);
  // Start: a round Moffat of beta kStartBeta and FWHM fwhmGuess.
  const double alpha = fwhmGuess / (2.0 * std::sqrt(std::expm1(std::log(2.0) / kStartBeta)));
  double parameters[kParameters] = {};
  parameters[kA] = level->second;
  parameters[kXc] = x - static_cast<double>(cutout.x0);
  parameters[kYc] = y - static_cast<double>(cutout.y0);
  parameters[kL11] = parameters[kL22] = 1.0 / alpha;
  parameters[kT] = std::log(kStartBeta - 1.0);
  parameters[kB] = level->first;
  if (!solve(problem, parameters)) return std::nullopt;
  const gsl_vector_const_view solution = gsl_vector_const_view_array(parameters, kParameters);
  return profileOf(&solution.vector, cutout, x, y, fwhmGuess);
}

}  // namespace tarnlook
