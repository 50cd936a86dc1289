// Where the thumbnails and their labels go on a contact sheet, and the
// names of the sheets.
#ifndef TARNLOOK_LAYOUT_H
#define TARNLOOK_LAYOUT_H

#include <string>
#include <vector>

#include "thumbnail.h"

namespace tarnlook {

constexpr int kFramesAcross = 8;  // columns of a sheet at most
constexpr int kFramesDown = 6;    // rows of a sheet at most
constexpr int kFramesPerSheet = kFramesAcross * kFramesDown;
constexpr int kMargin = 8;        // pixels around the grid
constexpr int kGap = 8;           // pixels between columns and between rows
constexpr int kLabelGap = 2;      // pixels between a thumbnail and its label
constexpr int kLabelLines = 3;    // text lines reserved under each thumbnail

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
};

struct SheetLayout {
  int width = 0, height = 0;
  std::vector<Box> thumbnails;  // as drawn (zoom applied), one per frame
  std::vector<Box> labels;      // the text area under each thumbnail
};

// The grid of one sheet for thumbnails of the given sizes, in order, row by
// row: min(8, n) columns of 256 pixels, ceil(n / columns) rows. A row is as
// high as its highest thumbnail plus the label (kLabelGap + 3 lines of
// lineHeight pixels); each thumbnail is centred in its column and stands on
// its label. The sheet is width 2 x kMargin + columns x 256 + (columns-1) x
// kGap and height 2 x kMargin + the rows + (rows-1) x kGap. Requires
// 1 <= n <= 48.
SheetLayout layOutSheet(const std::vector<ThumbnailSize>& sizes, int lineHeight);

// The file name of sheet `index` (from 1): "tarnlook.png" for the only
// sheet of a run, else (numbered) "tarnlook-1.png", "tarnlook-2.png", ...
std::string sheetName(int index, bool numbered);

// Whether `name` is one that sheetName can return: "tarnlook.png", or
// "tarnlook-N.png" with N a positive whole number in decimal without
// leading zeros ("tarnlook-01.png" and "tarnlook-0.png" are not).
bool isSheetName(const std::string& name);

// The sheets among `names` (the entries of a folder) that a run writing
// `count` sheets did not write: every sheet name but those of sheets 1 to
// count, numbered when count > 1. Nothing when count is 0 (a run without a
// frame leaves the folder as it is). Other names are never among them.
std::vector<std::string> staleSheets(const std::vector<std::string>& names, int count);

}  // namespace tarnlook

#endif  // TARNLOOK_LAYOUT_H
