// One frame read from a FITS file: header values, zscale limits and the
// grey thumbnail, made in one pass over the pixels. The image is the
// primary array or, when that holds none, the first image extension.
#ifndef TARNLOOK_FRAME_H
#define TARNLOOK_FRAME_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frame_header.h"
#include "measure.h"
#include "thumbnail.h"
#include "zscale.h"

namespace tarnlook {

struct Frame {
  std::string name;   // the file's, as given or as listed in the folder
  int extension = 0;  // the HDU of the image: 0 the primary, n extension n
  FrameHeader header;
  DisplayLimits limits;
  ThumbnailSize size;
  std::vector<unsigned char> grey;  // size.width x size.height, top row first
  // Its numbers (measure.h): the stars looked for when DATA-TYP is OBJECT;
  // "too large for the memory budget" (binning 0) when even a binned copy is.
  Measurement measurement;
};

// A file that was not drawn, and why.
struct PassedOver {
  std::string name;   // the file's
  int extension = 0;  // the HDU that could not be drawn
  std::string reason;
};

// "reason (name)  Skipped", the name (hduName) in its visible() form
// (escape.h): the console's note.
std::string noteOf(const PassedOver& file);

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

}  // namespace tarnlook

#endif  // TARNLOOK_FRAME_H
