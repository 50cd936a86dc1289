// One frame read from a FITS file: header values, zscale limits and the
// grey thumbnail, made in one pass over the pixels.
#ifndef TARNLOOK_FRAME_H
#define TARNLOOK_FRAME_H

#include <string>
#include <vector>

#include "label.h"
#include "thumbnail.h"
#include "zscale.h"

namespace tarnlook {

struct Frame {
  std::string name;  // as given or as listed in the folder
  FrameHeader header;
  DisplayLimits limits;
  ThumbnailSize size;
  std::vector<unsigned char> grey;  // size.width x size.height, top row first
};

// Reads frames with CFITSIO, one after another, through one pixel buffer
// that is kept from frame to frame (it grows only for a longer row).
class FrameReader {
 public:
  // Reads the primary array of the file `name` (taken literally: no
  // CFITSIO file-name syntax). On success fills `frame` and returns an
  // empty text; otherwise returns the console note for the file, the name
  // in its visible() form (escape.h):
  //   "Cannot open. (name)  Skipped"           missing or unreadable file
  //   "Not a FITS file. (name)  Skipped"
  //   "Not a FITS image. (name)  Skipped"      header unreadable as an image
  //   "Not a 2-D image (NAXIS = n). (name)  Skipped"
  //   "Empty image. (name)  Skipped"           an axis of length 0
  //   "Image rows too long. (name)  Skipped"   NAXIS1 over 2^24
  //   "Cannot read the pixels. (name)  Skipped"  truncated data
  //   "No defined pixel. (name)  Skipped"      every pixel NaN or BLANK
  std::string read(const std::string& name, Frame& frame);

 private:
  std::vector<float> buffer_;
};

}  // namespace tarnlook

#endif  // TARNLOOK_FRAME_H
