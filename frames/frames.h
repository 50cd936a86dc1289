// frames: what tarnlook reads of a night folder before any pixel, pure
// computation and the folder's listing: the names shown safely (escape),
// a frame's header cards and the time of its exposure, the night's order,
// and a file passed over with its reason.
#ifndef FRAMES_FRAMES_H
#define FRAMES_FRAMES_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnlook {

// ---------------------------------------------------------------------------
// Text taken from files (header values, file names) made safe to show: in
// a terminal, on a web page and in a CSV table.

// The bytes as printable ASCII, one form wherever they are shown: a byte
// from 0x20 to 0x7E stands as it is, except the backslash, which is
// doubled ("\\"); any other byte (control characters, DEL, every byte of a
// UTF-8 sequence) becomes "\xNN" with two upper-case hex digits. The form
// can be read back without ambiguity, and nothing of it reaches a terminal
// as a control sequence.
std::string visible(const std::string& bytes);

// `text` as HTML text and as a quoted attribute value: '&', '<', '>', '"'
// and '\'' become character references; every other byte is kept.
std::string htmlText(const std::string& text);

// `text` as one field of an RFC 4180 line: as it is when it holds no comma,
// double quote, CR or LF and does not begin or end with a blank; else
// between double quotes, each double quote doubled.
std::string csvField(const std::string& text);

// ---------------------------------------------------------------------------
// What tarnlook reads from a frame's header, and the time of its exposure
// taken from it: the order of the night.

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
  // The frame's type card as another observatory writes it, when DATA-TYP
  // is missing: the first of IMAGETYP, OBSTYPE, IMGTYPE and
  // HIERARCH ESO DPR TYPE that the header holds.
  std::string otherType{};
};

// What a frame is, whoever wrote its type card: "OBJECT" (OBJECT, LIGHT,
// SCIENCE, "Light Frame", SKY), "BIAS" (BIAS, ZERO), "DARK", "FLAT" (FLAT,
// "Flat Field", and any value starting with FLAT, as ESO's "FLAT,SKY"), any
// other value as it stands in upper case, and "" when the header has no type
// card at all. DATA-TYP first, else otherType; case and blanks around it
// are ignored.
std::string frameType(const FrameHeader& header);

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

// ---------------------------------------------------------------------------
// The current folder as tarnlook sees it: its names, and the sheets of an
// earlier run that this run's sheets replace.

// Appends the names of the entries of the folder `path` (without "." and
// ".."), in the order the system lists them. Returns an empty text on
// success, else "cannot read the folder 'path': reason"; `names` then holds
// what was read before the failure.
std::string listFolder(const std::string& path, std::vector<std::string>& names);

// ---------------------------------------------------------------------------
// A file passed over by the reading, and the note that says why.

// A file that was not drawn, and why.
struct PassedOver {
  std::string name;   // the file's
  int extension = 0;  // the HDU that could not be drawn
  std::string reason;
};

// "reason (name)  Skipped", the name (hduName) in its visible() form
// (above): the console's note.
std::string noteOf(const PassedOver& file);

}  // namespace tarnlook

#endif  // FRAMES_FRAMES_H
