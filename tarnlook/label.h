// The texts about a frame: its label on the sheet and its console line.
#ifndef TARNLOOK_LABEL_H
#define TARNLOOK_LABEL_H

#include <cstddef>
#include <string>
#include <vector>

#include "frame_header.h"
#include "zscale.h"

namespace tarnlook {

// At most three lines, each cut to maxChars characters (a cut line ends in
// '~'), bytes outside printable ASCII shown as '?':
//   1. the frame's name (hduName);
//   2. OBJECT, DATA-TYP and FILTER, those present, two blanks apart; when
//      none is, the image size "NAXIS1 x NAXIS2";
//   3. "UT hh:mm:ss" and "airmass X" (shownAirmass; "airmass X impossible"
//      when it is), those present; left out when neither is.
std::vector<std::string> labelLines(const std::string& name, const FrameHeader& header,
                                    std::size_t maxChars);

// The AIRMASS shown for a frame: the header's value on an OBJECT frame;
// nothing on a calibration frame (BIAS, DARK, FLAT, COMPARISON, ...), where
// it means nothing, nor for exactly 0, a placeholder.
std::string shownAirmass(const FrameHeader& header);

// Whether the shown airmass is impossible: a number below 1 (the target
// below the horizon).
bool impossibleAirmass(const FrameHeader& header);

// "name  object  low..high": the OBJECT value or "-", the limits as
// limitText gives them; the name and the value in their visible() form
// (escape.h).
std::string consoleLine(const std::string& name, const FrameHeader& header,
                        const DisplayLimits& limits);

// A zscale limit with six significant digits (as %.6g in the C locale).
std::string limitText(double value);

}  // namespace tarnlook

#endif  // TARNLOOK_LABEL_H
