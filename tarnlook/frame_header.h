// What tarnlook reads from a frame's header, and the time of its exposure
// taken from it: the order of the night.
#ifndef TARNLOOK_FRAME_HEADER_H
#define TARNLOOK_FRAME_HEADER_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnlook {

// Header values of a frame as written (strings without quotes or trailing
// blanks, numbers as their text); empty when the card is missing.
struct FrameHeader {
  std::string object, dataType, filter, exptime, ut, airmass;
  long long naxis1 = 0, naxis2 = 0;
  // The time cards besides UT, and the night's conditions.
  std::string dateObs{}, timeObs{}, jd{}, mjdObs{};
  std::string observer{}, weather{}, seeing{};
  // The camera's own cards, which the editors keep: DATE, the start of the
  // exposure in UT ("YYYY-MM-DDThh:mm:ss"), and EXPOSURE, in seconds.
  std::string cameraDate{}, cameraExposure{};
};

// The time of the exposure in seconds of UT since MJD 0 (1858-11-17
// 00:00:00), from the first of these that the header holds in a form read
// here:
//   1. DATE-OBS with its own time, "YYYY-MM-DDThh:mm:ss[.s...]";
//   2. DATE-OBS as a date ("YYYY-MM-DD", or "DD/MM/YY" of 1900 to 1999)
//      with UT, or else with TIME-OBS, as "hh:mm:ss[.s...]";
//   3. MJD-OBS, or else JD, a number of days.
// Nothing when none is there. The time is the one the cards mean: the
// converters write DATE-OBS, UT and JD for the middle of the exposure.
std::optional<double> exposureTime(const FrameHeader& header);

// "YYYY-MM-DD" and "hh:mm:ss" (seconds cut, not rounded) of such a time.
std::string utDate(double seconds);
std::string utClock(double seconds);

// The order of a night: the indices of `times` sorted by time, the frames
// without a time after those with one, ties and untimed frames kept in the
// order given.
std::vector<std::size_t> nightOrder(const std::vector<std::optional<double>>& times);

// The name of a frame as it is shown: the file name, followed by "[n]" when
// the image is in extension n (0: the primary HDU), as in CFITSIO's syntax.
std::string hduName(const std::string& name, int extension);

}  // namespace tarnlook

#endif  // TARNLOOK_FRAME_HEADER_H
