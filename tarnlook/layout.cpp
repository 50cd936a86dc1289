// The grid of a contact sheet.
#include "layout.h"

#include <algorithm>

namespace tarnlook {

SheetLayout layOutSheet(const std::vector<ThumbnailSize>& sizes, int lineHeight) {
  SheetLayout sheet;
  const int n = static_cast<int>(sizes.size());
  const int columns = std::min(kFramesAcross, n);
  const int rows = (n + columns - 1) / columns;
  const int labelHeight = kLabelGap + kLabelLines * lineHeight;
  sheet.width = 2 * kMargin + columns * kThumbnailMax + (columns - 1) * kGap;
  int y = kMargin;
  for (int row = 0; row < rows; ++row) {
    const int first = row * columns, end = std::min(n, first + columns);
    int tallest = 0;
    for (int i = first; i < end; ++i) tallest = std::max(tallest, sizes[i].height * sizes[i].zoom);
    for (int i = first; i < end; ++i) {
      const int cellX = kMargin + (i - first) * (kThumbnailMax + kGap);
      const int w = sizes[i].width * sizes[i].zoom, h = sizes[i].height * sizes[i].zoom;
      sheet.thumbnails.push_back({cellX + (kThumbnailMax - w) / 2, y + tallest - h, w, h});
      sheet.labels.push_back({cellX, y + tallest + kLabelGap, kThumbnailMax,
                              kLabelLines * lineHeight});
    }
    y += tallest + labelHeight + (row + 1 < rows ? kGap : 0);
  }
  sheet.height = y + kMargin;
  return sheet;
}

std::string sheetName(int index, bool numbered) {
  if (!numbered) return "tarnlook.png";
  return "tarnlook-" + std::to_string(index) + ".png";
}

}  // namespace tarnlook
