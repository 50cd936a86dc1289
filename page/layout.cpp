// The grid of a contact sheet.
#include "page.h"

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

bool isSheetName(const std::string& name) {
  if (name == "tarnlook.png") return true;
  const std::string head = "tarnlook-", tail = ".png";
  if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const std::string number = name.substr(head.size(), name.size() - head.size() - tail.size());
  // sheetName writes no leading zero and no sheet 0: "tarnlook-01.png" is
  // not a sheet of ours but someone's picture, and stays.
  if (number[0] == '0') return false;
  return number.find_first_not_of("0123456789") == std::string::npos;
}

std::vector<std::string> staleSheets(const std::vector<std::string>& names, int count) {
  std::vector<std::string> stale;
  if (count <= 0) return stale;
  for (const std::string& name : names) {
    if (!isSheetName(name)) continue;
    bool written = false;
    for (int i = 1; i <= count && !written; ++i) written = name == sheetName(i, count > 1);
    if (!written) stale.push_back(name);
  }
  return stale;
}

}  // namespace tarnlook
