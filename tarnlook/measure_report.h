// The measurements and flags of the night's frames on the page and in the
// table: their columns, the flags under each thumbnail, and the scale that
// turns pixels into arcseconds.
#ifndef TARNLOOK_MEASURE_REPORT_H
#define TARNLOOK_MEASURE_REPORT_H

#include <optional>
#include <string>
#include <vector>

#include "night_report.h"

namespace tarnlook {

// The CSV columns, after the table's others:
//   level,noise,maximum,saturated_pixels,binning,stars,fwhm_px,fwhm_arcsec,
//   SEEING,elongation,sky,sky_per_s,saturated_stars,target_saturated,flags,
//   not_measured
// (measure.h and quality.h define them); ",level,..." with its comma.
std::string measureCsvHeader();
// One frame's fields, ",..." with the leading comma; a value that does not
// apply is an empty field; flags "; " between them; target_saturated "yes",
// "no" or empty.
std::string measureCsvFields(const ReportFrame& frame, const std::vector<PixelScale>& scales);

// The page table's heading cells and one row's cells, after the others:
// stars, FWHM (pixels, and arcseconds beside SEEING where a scale is
// known), a/b, sky per second, level, noise, maximum, saturated pixels and
// the flags or "not measured: <reason>".
std::string measureHeadCells();
std::string measureCells(const ReportFrame& frame, const std::vector<PixelScale>& scales);

// The flags of a frame for its thumbnail's caption: "<br><span class=
// "flag">reason</span>" for each; empty when it has none.
std::string flagCaption(const ReportFrame& frame);

// The styles of the cells, the flags and the chart, for the page's <style>.
extern const char* const kMeasureStyle;

}  // namespace tarnlook

#endif  // TARNLOOK_MEASURE_REPORT_H
