// The camera header reader: recognises the camera set-up from the image size
// and walks the header card by card in that set-up's fixed order.
#ifndef DRIVER_CAMERA_HEADER_H
#define DRIVER_CAMERA_HEADER_H

#include <string>

#include "outcome.h"
#include "records.h"

struct HeaderParse {
  bool recognised = false;
  bool readTimeUnknown = false;  // Andor, full reading only
};

// Reads the camera part of `rec` from a 2880-byte header block by the rules
// of its camera set-up and the program's Andor rule.
HeaderParse parseCameraHeader(const std::string& block, AndorRule rule,
                              ObservationRecord& rec);

// Takes the first block of an input (`block`: what the file held of its
// first 2880 bytes). A shorter block or an unknown image size refuses the
// entry, and so does a T5 or S5 file under an editor's rule (not Full);
// otherwise the outcome carries the mode line (and the readout-time
// warning).
Outcome readCameraHeader(const std::string& block, AndorRule rule, ObservationRecord& rec);

// Samples in the largest image of the camera set-ups.
long long largestImagePixels();

#endif  // DRIVER_CAMERA_HEADER_H
