// A contact sheet drawn with libgd.
#include "page.h"

#include <gd.h>
#include <gdfonts.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "temporary_file.h"

namespace tarnlook {

namespace {

constexpr int kBackgroundGrey = 40;
constexpr int kTextGrey = 255;
constexpr int kMarkBorder = 3;  // pixels of red around a flagged thumbnail
constexpr int kPngLevel = 6;  // zlib's own default: size and speed balanced
// The page's thumbnails: noisy sky compresses little whatever the effort, so
// the fastest level.
constexpr int kThumbnailPngLevel = 1;

struct ImageDeleter {
  void operator()(gdImage* image) const { gdImageDestroy(image); }
};
using ImagePtr = std::unique_ptr<gdImage, ImageDeleter>;

struct GdFree {
  void operator()(void* bytes) const { gdFree(bytes); }
};
using GdBytes = std::unique_ptr<void, GdFree>;

// A palette image whose colour index i is the grey level i.
ImagePtr greyImage(int width, int height) {
  ImagePtr image(gdImageCreate(width, height));
  if (!image) return image;
  for (int grey = 0; grey < 256; ++grey) gdImageColorAllocate(image.get(), grey, grey, grey);
  return image;
}

void drawThumbnail(gdImage* image, const Frame& frame, const Box& box) {
  const int zoom = frame.size.zoom;
  for (int y = 0; y < frame.size.height; ++y) {
    const unsigned char* row = frame.grey.data() + static_cast<std::size_t>(y) * frame.size.width;
    if (zoom == 1) {
      // The layout keeps the box inside the picture: the row is copied
      // straight into the palette image's row of colour indices.
      std::memcpy(image->pixels[box.y + y] + box.x, row, static_cast<std::size_t>(frame.size.width));
      continue;
    }
    for (int x = 0; x < frame.size.width; ++x) {
      gdImageFilledRectangle(image, box.x + x * zoom, box.y + y * zoom, box.x + x * zoom + zoom - 1,
                             box.y + y * zoom + zoom - 1, row[x]);
    }
  }
}

void drawLabel(gdImage* image, const Frame& frame, const Box& box, gdFontPtr font) {
  const auto lines = labelLines(hduName(frame.name, frame.extension), frame.header,
                                static_cast<std::size_t>(box.width / font->w));
  int y = box.y;
  for (const std::string& line : lines) {
    std::string text = line;  // gdImageString wants a writable C string
    gdImageString(image, font, box.x, y, reinterpret_cast<unsigned char*>(&text[0]), kTextGrey);
    y += font->h;
  }
}

// A flagged frame: a red border around its thumbnail and its first reason
// in red on a black band across the thumbnail's top (a true-colour image).
void drawMark(gdImage* image, const Frame& frame, const Box& box, gdFontPtr font) {
  if (frame.marks.empty()) return;
  const int red = gdTrueColor(230, 30, 30);
  for (int k = 1; k <= kMarkBorder; ++k)
    gdImageRectangle(image, box.x - k, box.y - k, box.x + box.width - 1 + k, box.y + box.height - 1 + k, red);
  std::string text = frame.marks.front().substr(0, static_cast<std::size_t>(box.width / font->w));
  gdImageFilledRectangle(image, box.x, box.y, box.x + box.width - 1, box.y + font->h, gdTrueColor(0, 0, 0));
  gdImageString(image, font, box.x + 1, box.y + 1, reinterpret_cast<unsigned char*>(&text[0]), red);
}

}  // namespace

Frame sheetFrame(const ReportFrame& frame) {
  Frame drawn;
  drawn.name = frame.name;
  drawn.extension = frame.extension;
  drawn.header = frame.header;
  drawn.size = frame.size;
  drawn.marks = frame.quality.briefs;
  drawn.grey.assign(static_cast<std::size_t>(frame.size.width) * static_cast<std::size_t>(frame.size.height), kMidGrey);
  ImagePtr png(gdImageCreateFromPngPtr(static_cast<int>(frame.png.size()), const_cast<char*>(frame.png.data())));
  if (!png || gdImageSX(png.get()) != frame.size.width || gdImageSY(png.get()) != frame.size.height) return drawn;
  for (int y = 0; y < frame.size.height; ++y) {
    for (int x = 0; x < frame.size.width; ++x) {
      drawn.grey[static_cast<std::size_t>(y) * frame.size.width + x] =
          static_cast<unsigned char>(gdImageRed(png.get(), gdImageGetPixel(png.get(), x, y)));
    }
  }
  return drawn;
}

std::string replaceFile(const std::string& path, const void* bytes, std::size_t size,
                        LeftoverTemporaries& leftovers) {
  const int error = replaceFileWith(path, bytes, size, leftovers);
  return error == 0 ? std::string() : "cannot write " + path + ": " + std::strerror(error);
}

int labelLineHeight() { return gdFontGetSmall()->h; }

std::string thumbnailPng(const Frame& frame) {
  ImagePtr image = greyImage(frame.size.width, frame.size.height);
  if (!image) return "";
  for (int y = 0; y < frame.size.height; ++y) {
    // A palette image keeps its pixels as rows of colour indices: the grey
    // levels themselves.
    std::memcpy(image->pixels[y], frame.grey.data() + static_cast<std::size_t>(y) * frame.size.width,
                static_cast<std::size_t>(frame.size.width));
  }
  int size = 0;
  GdBytes png(gdImagePngPtrEx(image.get(), &size, kThumbnailPngLevel));
  return png && size > 0 ? std::string(static_cast<const char*>(png.get()), static_cast<std::size_t>(size))
                         : std::string();
}

std::string writeSheet(const std::vector<Frame>& frames, const std::string& path,
                       LeftoverTemporaries& leftovers) {
  gdFontPtr font = gdFontGetSmall();
  std::vector<ThumbnailSize> sizes;
  for (const Frame& f : frames) sizes.push_back(f.size);
  const SheetLayout layout = layOutSheet(sizes, font->h);
  ImagePtr image = greyImage(layout.width, layout.height);
  if (!image) return "cannot make a picture of " + std::to_string(layout.width) + " x " +
                     std::to_string(layout.height) + " pixels";
  gdImageFilledRectangle(image.get(), 0, 0, layout.width - 1, layout.height - 1, kBackgroundGrey);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    drawThumbnail(image.get(), frames[i], layout.thumbnails[i]);
    drawLabel(image.get(), frames[i], layout.labels[i], font);
  }
  const bool marked = std::any_of(frames.begin(), frames.end(), [](const Frame& f) { return !f.marks.empty(); });
  if (marked && !gdImagePaletteToTrueColor(image.get())) return "cannot draw the flags on " + path;
  for (std::size_t i = 0; marked && i < frames.size(); ++i)
    drawMark(image.get(), frames[i], layout.thumbnails[i], font);
  int size = 0;
  GdBytes png(gdImagePngPtrEx(image.get(), &size, kPngLevel));
  if (!png || size <= 0) return "cannot encode the picture " + path;
  return replaceFile(path, png.get(), static_cast<std::size_t>(size), leftovers);
}

std::string removeStaleSheets(int count, const std::string& into) {
  std::vector<std::string> names;
  std::string failure = listFolder(into.empty() ? "." : into, names);
  if (!failure.empty()) return failure;
  for (const std::string& name : staleSheets(names, count)) {
    // unlink, not remove: an entry that is a folder is not taken away.
    const std::string path = pathIn(into, name);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT && failure.empty()) {
      failure = "cannot remove " + path + ": " + std::strerror(errno);
    }
  }
  return failure;
}

}  // namespace tarnlook
