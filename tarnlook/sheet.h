// Drawing a contact sheet with libgd and writing it as a PNG file.
#ifndef TARNLOOK_SHEET_H
#define TARNLOOK_SHEET_H

#include <cstddef>
#include <string>
#include <vector>

#include "frame.h"
#include "leftovers.h"

namespace tarnlook {

// Draws the frames (1 to 48) on one sheet: a dark grey background, each
// thumbnail in grey levels where layOutSheet puts it, its label lines in
// white under it (libgd's small built-in font). Writes the PNG beside
// `path` under a temporary name and renames it over `path` only when it is
// complete, so that an older picture is replaced whole or not at all.
// Returns an empty text on success, else what went wrong (the temporary
// file is then removed and `path` is left as it was).
std::string writeSheet(const std::vector<Frame>& frames, const std::string& path,
                       LeftoverTemporaries& leftovers);

// Writes `size` bytes to a new file beside `path` and renames it over
// `path` (temporary_file.h: the temporary names, the leftovers of killed
// runs, the clean-up on a signal); returns an empty text, else what went
// wrong (`path` unchanged).
std::string replaceFile(const std::string& path, const void* bytes, std::size_t size,
                        LeftoverTemporaries& leftovers);

// The thumbnail of a frame alone, at its own size (not zoomed), as the bytes
// of a PNG file for the page; empty when libgd cannot make it.
std::string thumbnailPng(const Frame& frame);

// The height in pixels of a label line, as writeSheet lays out the sheet.
int labelLineHeight();

}  // namespace tarnlook

#endif  // TARNLOOK_SHEET_H
