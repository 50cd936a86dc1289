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
//   3. "UT hh:mm:ss" and "airmass X", those present; left out when neither is.
std::vector<std::string> labelLines(const std::string& name, const FrameHeader& header,
                                    std::size_t maxChars);

// "name  object  low..high": the OBJECT value or "-", the limits as
// limitText gives them; the name and the value in their visible() form
// (escape.h).
std::string consoleLine(const std::string& name, const FrameHeader& header,
                        const DisplayLimits& limits);

// A zscale limit with six significant digits (as %.6g in the C locale).
std::string limitText(double value);

}  // namespace tarnlook

#endif  // TARNLOOK_LABEL_H
