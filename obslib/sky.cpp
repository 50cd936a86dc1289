// Sidereal time, hour angle, zenith distance, airmass and first-order
// precession. Angles are radians; the stored circle constants of obslib.h
// are used throughout, so results match the programs' printed values rather
// than the exact circle.
#include <algorithm>
#include <cmath>

#include "obslib.h"

namespace {

// Sidereal time in turns: its value at MJD 40000.0 (0 h UT) on longitude 0,
// and sidereal turns per solar day.
constexpr double kSiderealEpochMjd = 40000.0;
constexpr double kSiderealTurnsAtEpoch = 0.671262;
constexpr double kSiderealTurnsPerDay = 1.002737909;

// Hardie's airmass polynomial in (sec z - 1).
constexpr double kHardieLinear = 0.0018167;
constexpr double kHardieQuadratic = 0.002875;
constexpr double kHardieCubic = 0.0008083;
constexpr double kSquare = 2.0;
constexpr double kCube = 3.0;

// Precession rates m (right ascension) and n (declination), rad/year, as
// quadratics in the interval between the epochs (years).
constexpr double kRateM0 = 0.000223426676;
constexpr double kRateM1 = 1.354812e-06;
constexpr double kRateM2 = 5.82e-10;
constexpr double kRateN0 = 9.718987143e-05;
constexpr double kRateN1 = -4.136915e-07;
constexpr double kRateN2 = -1.794e-09;

// Bounds of a sine.
constexpr double kSineMin = -1.0;
constexpr double kSineMax = 1.0;

}  // namespace

// getst: local mean sidereal time.
//
// Given: mjd (UT, days); east longitude of the site (rad, east positive).
// Returned: local sidereal time (rad).
// Notes:
//   A linear expression in turns, anchored at MJD 40000; only the fraction
//   of a turn is kept, cut toward zero, so the result lies in
//   [0, 6.283185307) while the turn count is positive (after about
//   MJD 39999.33 at longitude 0) and in (-6.283185307, 0] before. The
//   anchor is quoted to 1e-6 turn (0.09 s) and the rate omits its slow
//   secular change: about a second of time from modern sidereal time over
//   1990-2030. The stored full turn 6.283185307 is 1.8e-10 short of 2 pi.
double getst(double mjd, double eastLongitudeRadians) {
  const double turns = (mjd - kSiderealEpochMjd) * kSiderealTurnsPerDay +
                       kSiderealTurnsAtEpoch +
                       eastLongitudeRadians / kFullTurnRadians;
  return (turns - std::trunc(turns)) * kFullTurnRadians;
}

// getha: hour angle (rad) = sidereal time - right ascension (both rad). Not
// wrapped: the result may lie anywhere between -2 pi and +2 pi.
double getha(double siderealRadians, double raRadians) {
  return siderealRadians - raRadians;
}

// getzd: zenith distance.
//
// Given: declination, latitude of the site, hour angle (rad).
// Returned: zenith distance (rad), 0 at the zenith, pi/2 on the horizon.
// Notes:
//   The altitude comes from its sine; rounding can carry that sine a hair
//   past 1 for a target exactly at the zenith, so it is clamped to [-1, 1]
//   and the result is never NaN. The stored right angle 1.570796327 exceeds
//   pi/2 by 2.1e-10, so every result is that much larger than the exact
//   zenith distance (a zenith target gives about 2.05e-10).
double getzd(double decRadians, double latitudeRadians, double haRadians) {
  const double sinAltitude =
      std::sin(decRadians) * std::sin(latitudeRadians) +
      std::cos(decRadians) * std::cos(latitudeRadians) * std::cos(haRadians);
  return kRightAngleRadians -
         std::asin(std::clamp(sinAltitude, kSineMin, kSineMax));
}

// getfz: airmass by Hardie's polynomial.
//
// Given: zenith distance z (rad).
// Returned: airmass (1 at the zenith, 1.9945 at sec z = 2).
// Notes:
//   Good to a few thousandths up to sec z of about 4. No domain test: near
//   a right angle the value grows without bound, beyond it the formula's
//   value is negative (about -2.398 at z = 2 rad).
double getfz(double zdRadians) {
  const double secz = 1.0 / std::cos(zdRadians);
  const double excess = secz - 1.0;
  return secz - kHardieLinear * excess -
         kHardieQuadratic * std::pow(excess, kSquare) -
         kHardieCubic * std::pow(excess, kCube);
}

namespace {

// Annual precession rates (rad/year) for an interval of years.
double rateM(double years) {
  return kRateM0 + kRateM1 * years + kRateM2 * years * years;
}
double rateN(double years) {
  return kRateN0 + kRateN1 * years + kRateN2 * years * years;
}

}  // namespace

// corrra: right ascension precessed between two epochs.
//
// Given: right ascension, declination (rad) at epochFrom; epochFrom,
//   epochTo (years).
// Returned: right ascension (rad) at epochTo, not wrapped into [0, 2 pi).
// Notes:
//   First order in the rates, evaluated once at the starting position:
//   RA + dt (m + n sin RA tan Dec). The error grows with the interval and
//   with tan Dec; near the poles the formula is meaningless. Equal epochs
//   return the right ascension unchanged.
double corrra(double raRadians, double decRadians, double epochFrom,
              double epochTo) {
  const double years = epochTo - epochFrom;
  return raRadians +
         years * (rateM(years) + rateN(years) * std::sin(raRadians) *
                                     std::tan(decRadians));
}

// corrdec: declination precessed between two epochs.
//
// Given: right ascension, declination (rad) at epochFrom; epochFrom,
//   epochTo (years).
// Returned: declination (rad) at epochTo: Dec + dt n cos RA. Not limited to
//   [-pi/2, pi/2].
double corrdec(double raRadians, double decRadians, double epochFrom,
               double epochTo) {
  const double years = epochTo - epochFrom;
  return decRadians + years * rateN(years) * std::cos(raRadians);
}
