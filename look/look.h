// look: a night looked at, as tarnlook does it: the frames read in one
// pass each on every core, measured, judged, drawn and written.
#ifndef LOOK_LOOK_H
#define LOOK_LOOK_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "page.h"

namespace tarnlook {

// ---------------------------------------------------------------------------
// Reading the frames of a night with CFITSIO, one pass over the pixels of each.

// Reads frames with CFITSIO, one after another, through one pixel buffer
// that is kept from frame to frame (it grows only for a longer row).
class FrameReader {
 public:
  // Reads the image of the file `name` (taken literally: no CFITSIO
  // file-name syntax): its primary array, or when that has no axes, the
  // first image extension, tile-compressed ones included. Header values
  // missing in an extension are taken from the primary header, as the
  // INHERIT convention of multi-extension files has them. Fills `frame` and returns nothing, or else
  // returns why the file is passed over:
  //   "Cannot open."                 missing or unreadable file
  //   "Not a FITS file."
  //   "Not a FITS image."            a header unreadable as an image
  //   "No image in any HDU."         no axes in the primary, no extension
  //                                  with an image
  //   "Not a 2-D image (NAXIS = n)."
  //   "Empty image."                 an axis of length 0
  //   "Image rows too long."         NAXIS1 over 2^24
  //   "Cannot read the pixels."      truncated data
  //   "No defined pixel."            every pixel NaN or BLANK
  // `complete`, when given, fills in what the header lacks (the run list's
  // values for an editor's output) before the frame is measured.
  std::optional<PassedOver> read(const std::string& name, Frame& frame,
                                 const std::function<void(FrameHeader&)>& complete = {});

  // The header of the image that read() would draw; nothing when the file
  // has no image. Reads the headers only.
  std::optional<FrameHeader> header(const std::string& name);

 private:
  std::vector<float> buffer_;
};

// What tarnlook is asked to look at.
struct LookOptions {
  std::vector<std::string> files;    // the files named; empty: every *.fit of the current folder
  std::vector<PixelScale> scales;    // --scale, by image size
};

// Looks at the night of the current folder (or the files named), as the
// program tarnlook does: prints the console lines to standard output, a
// failure's cause to standard error, and writes the sheets, the page and
// the tables into the current folder. Returns the exit status: 0 written
// (or no frame), 1 a file could not be written or the folder not read.
int lookAtNight(const LookOptions& options);

}  // namespace tarnlook

#endif  // LOOK_LOOK_H
