// A contact sheet drawn with libgd.
#include "sheet.h"

#include <fcntl.h>
#include <gd.h>
#include <gdfonts.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "layout.h"

namespace tarnlook {

namespace {

constexpr int kBackgroundGrey = 40;
constexpr int kTextGrey = 255;
constexpr int kPngLevel = 6;  // zlib's own default: size and speed balanced

struct ImageDeleter {
  void operator()(gdImage* image) const { gdImageDestroy(image); }
};
using ImagePtr = std::unique_ptr<gdImage, ImageDeleter>;

struct GdFree {
  void operator()(void* bytes) const { gdFree(bytes); }
};
using GdBytes = std::unique_ptr<void, GdFree>;

// A file descriptor, closed at the end of the scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; false when close reports an error.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

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
    for (int x = 0; x < frame.size.width; ++x) {
      if (zoom == 1) {
        gdImageSetPixel(image, box.x + x, box.y + y, row[x]);
      } else {
        gdImageFilledRectangle(image, box.x + x * zoom, box.y + y * zoom,
                               box.x + x * zoom + zoom - 1, box.y + y * zoom + zoom - 1, row[x]);
      }
    }
  }
}

void drawLabel(gdImage* image, const Frame& frame, const Box& box, gdFontPtr font) {
  const auto lines = labelLines(frame.name, frame.header,
                                static_cast<std::size_t>(box.width / font->w));
  int y = box.y;
  for (const std::string& line : lines) {
    std::string text = line;  // gdImageString wants a writable C string
    gdImageString(image, font, box.x, y, reinterpret_cast<unsigned char*>(&text[0]), kTextGrey);
    y += font->h;
  }
}

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

// Writes all bytes to a new file beside `path` and renames it over `path`.
std::string replaceFile(const std::string& path, const void* bytes, std::size_t size) {
  const std::string temporary = path + ".part" + std::to_string(::getpid());
  Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                       0666));
  if (fd.get() < 0) return systemError("cannot create", temporary);
  const char* next = static_cast<const char*>(bytes);
  std::string error;
  for (std::size_t left = size; left > 0 && error.empty();) {
    const ssize_t n = ::write(fd.get(), next, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = systemError("cannot write", temporary);
      break;
    }
    next += n;
    left -= static_cast<std::size_t>(n);
  }
  if (error.empty() && !fd.close()) error = systemError("cannot write", temporary);
  if (error.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = systemError("cannot rename " + temporary + " to", path);
  }
  if (!error.empty()) std::remove(temporary.c_str());
  return error;
}

int labelLineHeight() { return gdFontGetSmall()->h; }

std::string writeSheet(const std::vector<Frame>& frames, const std::string& path) {
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
  int size = 0;
  GdBytes png(gdImagePngPtrEx(image.get(), &size, kPngLevel));
  if (!png || size <= 0) return "cannot encode the picture " + path;
  return replaceFile(path, png.get(), static_cast<std::size_t>(size));
}

}  // namespace tarnlook
