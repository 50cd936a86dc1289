// obslib: the astronomical utility library shared by tarnfits, tarnfits4 and
// tarnfits4s.
//
// Instants are Modified Julian Dates (days; MJD 0.0 is 1858-11-17 0 h) with
// no time zone attached; angles are radians; epochs are years with a fraction.
// Integer fields are always cut toward zero, never rounded.
//
// Text results live in four process-wide result areas (str1 to str4). A text
// function writes its area and returns a pointer into it, valid until the next
// call of any function that writes the same area:
//
//   str1  mid, convstr
//   str2  fitsdate, fitsra, fitsdatemjd
//   str3  fitstime, fitsdec, fitstimemjd
//   str4  chartolower, chartoupper
//
// The areas hold texts of any length. Nothing here tests its arguments.
#ifndef OBSLIB_OBSLIB_H
#define OBSLIB_OBSLIB_H

#include <ctime>
#include <string>

// ---------------------------------------------------------------------------
// Stored constants. The library and the programs use these decimal values,
// not the exact ones: every printed result depends on them.

constexpr double kFullTurnRadians = 6.283185307;      // 2 pi, as stored (rad)
constexpr double kRightAngleRadians = 1.570796327;    // pi/2 + 2.1e-10 (rad)
constexpr double kDegreesPerRadian = 57.2957795130824;  // (deg/rad)
constexpr double kRadiansPerHourOfRa = 0.261799387;   // catalogue RA (rad/h)
constexpr double kRadiansPerDegree = 0.017453292;     // catalogue Dec (rad/deg)
constexpr double kHalfSecondDays = 5.787037e-6;       // half a second (days)
constexpr int kJstHoursAheadOfUt = 9;                 // JST - UT (hours)
constexpr double kJstOffsetDays = kJstHoursAheadOfUt / 24.0;  // 0.375 (days)
constexpr double kMinutesPerHour = 60.0;              // also arcmin per degree
constexpr double kSecondsPerMinute = 60.0;            // also arcsec per arcmin
constexpr double kSecondsPerHour = 3600.0;            // also arcsec per degree
constexpr double kDaysPerYear = 365.25;               // fractional year (days)
constexpr double kMjdToJd = 2400000.5;                // JD - MJD (days)
constexpr double kSiteLongitudeRadians = 2.375742;    // 136.1200 deg east (rad)
constexpr double kSiteLatitudeRadians = 0.62831853;   // 36.0000 deg north (rad)
constexpr double kJ2000Epoch = 2000.0;                // (years)

// ---------------------------------------------------------------------------
// Calendar and Modified Julian Date

// Civil fields (Gregorian, four-digit year) to MJD. Month <= 2 counts as
// month 13/14 of the year before; day 0 is the last day of the month before;
// out-of-range hours, minutes and seconds add their share. Right for years
// from 1 on.
double timetomjd(int year, int month, int day, int hour, int minute,
                 int second);

// MJD of a broken-down time; tm_year 0..70 are the years 2000..2070,
// 71 and more are 1971 on. Reads year, month, day, hour, minute, second only.
double getmjdtm(const std::tm* t);

// MJD to civil fields, every field cut toward zero (a time a hair below a
// whole second gives the second before). Right for whole MJDs from
// 0001-01-01 to 9999-12-31.
void mjdtotime(double mjd, int* year, int* month, int* day, int* hour,
               int* minute, int* second);

// Date "%04d-%02d-%02d" of an MJD, in str2.
const char* fitsdatemjd(double mjd);
// Time of day "%02d:%02d:%02d" of an MJD, in str3.
const char* fitstimemjd(double mjd);

// ---------------------------------------------------------------------------
// Sidereal time, zenith distance, airmass

// Local sidereal time (rad) of a UT MJD at an east longitude (rad). Keeps the
// fraction of a turn cut toward zero: in [0, 2 pi) for MJD after ~39999.33.
double getst(double mjd, double eastLongitudeRadians);
// Hour angle = sidereal time - right ascension (rad), not wrapped.
double getha(double siderealRadians, double raRadians);
// Zenith distance (rad); the asin argument is clamped to [-1, 1].
double getzd(double decRadians, double latitudeRadians, double haRadians);
// Airmass by Hardie's polynomial in sec z - 1; no domain test.
double getfz(double zdRadians);

// ---------------------------------------------------------------------------
// Precession (first order in the annual rates, evaluated once)

double corrra(double raRadians, double decRadians, double epochFrom,
              double epochTo);
double corrdec(double raRadians, double decRadians, double epochFrom,
               double epochTo);

// ---------------------------------------------------------------------------
// FITS values and strings

// Result areas. Owned by the library; callers only read them.
extern std::string str1;
extern std::string str2;
extern std::string str3;
extern std::string str4;

// length characters of text from start (counted from 1), in str1; never reads
// past the end of text (a shorter text gives what there is, a start beyond
// its end gives ""). A length of 0 or less gives ""; a start below 1 counts
// as 1.
const char* mid(const char* text, int start, int length);
// text as a FITS string value in str1: apostrophes doubled, then "'%-8s'"
// when the doubled text has 7 characters or fewer, else "'%s'".
const char* convstr(const char* text);
// Date of a broken-down time "%04d-%02d-%02d" (year rule of getmjdtm), str2.
const char* fitsdate(const std::tm* t);
// Time of day of a broken-down time "%02d:%02d:%02d", in str3.
const char* fitstime(const std::tm* t);
// Right ascension (rad) as "%02d:%02d:%02d" hours, in str2 (1e-6 rule).
const char* fitsra(double raRadians);
// Angle (rad) as "%c%02d:%02d:%02d" sign and degrees, in str3 (1e-6 rule).
const char* fitsdec(double angleRadians);
// ASCII case change of a text, in str4.
const char* chartolower(const char* text);
const char* chartoupper(const char* text);

// ---------------------------------------------------------------------------
// Error log

// The error log's name, in the current folder.
inline constexpr const char* kErrorLogName = "tarnfits.log";

// Appends "cannot open '<fileName>'  (<reason>)\n" to "tarnfits.log" in the
// current folder. When the log cannot be written, prints a warning on standard
// error and returns.
void errlist(const char* fileName, const char* reason);
// The same line without the warning; true when it was written. A line that
// fails part way (a full disk) is cut off again: the log keeps whole lines.
bool errlistquiet(const char* fileName, const char* reason);
// The file name and the reason of a line that errlist wrote (`line` without
// its line end); false for any other line. A name is a word of the run list,
// without blanks, so the first "'  (" after it ends it.
bool errlistline(const std::string& line, std::string& fileName, std::string& reason);

#endif  // OBSLIB_OBSLIB_H
