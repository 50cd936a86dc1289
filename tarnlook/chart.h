// The night drawn over time: inline SVG charts of the OBJECT frames'
// FWHM, sky and airmass against UT, for the page (no script, no outside
// reference; they scale down to a phone's width).
#ifndef TARNLOOK_CHART_H
#define TARNLOOK_CHART_H

#include <string>

#include "night_report.h"

namespace tarnlook {

// The section "The night" with three charts sharing the UT axis:
//  - FWHM of each OBJECT frame in pixels; where a scale is known, the
//    observer's SEEING (arcseconds) is drawn beside it in pixels, squares;
//  - the sky per second (ADU/s) where the night has a bias, else the sky
//    level (ADU);
//  - the AIRMASS of the header.
// Each point is a link to its frame's row ("#fN") with a title naming the
// frame and the value; points go in the night's order (time). Empty when
// fewer than two OBJECT frames with a time have a value to draw.
std::string nightChart(const NightReport& report);

}  // namespace tarnlook

#endif  // TARNLOOK_CHART_H
