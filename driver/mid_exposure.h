// Mid-exposure time in UT, the observation's epoch and the apparent position
// of an entry.
#ifndef DRIVER_MID_EXPOSURE_H
#define DRIVER_MID_EXPOSURE_H

#include "records.h"

// Sets midMjd (UT) and its calendar fields, epochYear and the apparent
// position from the JST start, the exposure and the catalogue position.
void computeMidExposure(ObservationRecord& rec, const CatalogueEntry& cat);

#endif  // DRIVER_MID_EXPOSURE_H
