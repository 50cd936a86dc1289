// tarnlook run as built, in scratch folders: its console, the pictures it
// writes (decoded with libgd), files it passes over and its command line.
#include <fitsio.h>
#include <gd.h>
#include <gdfonts.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e.h"
#include "layout.h"
#include "zscale.h"

namespace {

namespace fs = std::filesystem;

constexpr double kTimeoutSeconds = 60;  // only a program that hangs reaches it

// Writes a FITS image with CFITSIO; BITPIX 20 means unsigned 16-bit
// (BZERO 32768).
void writeFits(const std::string& path, int bitpix, std::vector<long> axes,
               std::vector<float> values) {
  int status = 0;
  fitsfile* file = nullptr;
  fits_create_diskfile(&file, path.c_str(), &status);
  fits_create_img(file, bitpix, static_cast<int>(axes.size()), axes.data(), &status);
  fits_write_img(file, TFLOAT, 1, static_cast<LONGLONG>(values.size()), values.data(), &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0) << path;
}

struct ImageDeleter {
  void operator()(gdImage* image) const { gdImageDestroy(image); }
};
using ImagePtr = std::unique_ptr<gdImage, ImageDeleter>;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

ImagePtr readPng(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) return nullptr;
  return ImagePtr(gdImageCreateFromPng(f.get()));
}

int greyAt(gdImage* image, int x, int y) { return gdImageRed(image, gdImageGetPixel(image, x, y)); }

// The sheet size the layout documents for one row of thumbnails.
int sheetWidth(int columns) { return 2 * 8 + columns * 256 + (columns - 1) * 8; }
int rowHeight(int tallest) { return tallest + 2 + 3 * gdFontGetSmall()->h; }

// Sets keys with CFITSIO, which blanks control bytes; then makes each '`' of the file an ESC.
void setKeys(const std::string& path, std::vector<std::pair<const char*, std::string>> keys) {
  int status = 0;
  fitsfile* file = nullptr;
  fits_open_diskfile(&file, path.c_str(), READWRITE, &status);
  for (auto& [key, text] : keys) fits_update_key(file, TSTRING, key, text.data(), nullptr, &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0) << path;
  std::string bytes = e2e::readFile(path);
  for (char& c : bytes) c = c == '`' ? '\x1b' : c;
  e2e::writeFile(path, bytes);
}

using Fields = std::vector<std::string>;

// The records of an RFC 4180 text whose lines end in CRLF.
std::vector<Fields> readCsv(const std::string& text) {
  std::vector<Fields> rows(1, Fields(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (quoted && text.compare(i, 2, "\"\"") == 0) rows.back().back() += text[i++];
    else if (text[i] == '"') quoted = !quoted;
    else if (!quoted && text[i] == ',') rows.back().emplace_back();
    else if (!quoted && text.compare(i, 2, "\r\n") == 0) { rows.emplace_back(1); ++i; }
    else rows.back().back() += text[i];
  }
  rows.pop_back();  // the empty record after the last line end
  return rows;
}

std::set<std::string> filesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

TEST(TarnlookE2e, BrightStarLiesAtItsScaledPositionRowOneAtTheBottom) {
  e2e::ScopedTempDir dir;
  // 600 x 400 pixels of sky (1000 with a little noise), a star at x 450,
  // y 60 (from 0, FITS row 61); blocks of 3: a thumbnail of 200 x 134.
  const long nx = 600, ny = 400;
  std::vector<float> sky(nx * ny);
  for (long i = 0; i < nx * ny; ++i) {
    const double dx = i % nx - 450.0, dy = i / nx - 60.0;
    sky[i] = static_cast<float>(1000 + (i * 7919) % 23 +
                                std::round(30000 * std::exp(-(dx * dx + dy * dy) / 8)));
  }
  writeFits(dir.file("star.fit"), USHORT_IMG, {nx, ny}, sky);
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  ImagePtr sheet = readPng(dir.file("tarnlook.png"));
  ASSERT_TRUE(sheet);
  EXPECT_EQ(gdImageSX(sheet.get()), sheetWidth(1));
  EXPECT_EQ(gdImageSY(sheet.get()), 2 * 8 + rowHeight(134));

  // The thumbnail is centred in its 256-pixel column, under the margin.
  const int left = 8 + (256 - 200) / 2, top = 8;
  int brightest = -1;
  double sumX = 0, sumY = 0, count = 0;
  for (int y = 0; y < 134; ++y) {
    for (int x = 0; x < 200; ++x) {
      const int grey = greyAt(sheet.get(), left + x, top + y);
      if (grey > brightest) {
        brightest = grey;
        sumX = sumY = count = 0;
      }
      if (grey == brightest) {
        sumX += x;
        sumY += y;
        ++count;
      }
    }
  }
  EXPECT_EQ(brightest, 255);
  EXPECT_NEAR(sumX / count, 450 / 3, 1.0);
  EXPECT_NEAR(sumY / count, 133 - 60 / 3, 1.0);  // counted from the top
}

TEST(TarnlookE2e, FolderFramesInNameOrderBadFilesPassedOver) {
  e2e::ScopedTempDir dir;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  writeFits(dir.file("a b%s%n.fit"), FLOAT_IMG, {1, 1}, {7});
  writeFits(dir.file("const.fit"), SHORT_IMG, {30, 20}, std::vector<float>(600, 5));
  writeFits(dir.file("cube.fit"), SHORT_IMG, {4, 3, 2}, std::vector<float>(24, 1));
  writeFits(dir.file("line.fit"), SHORT_IMG, {50}, std::vector<float>(50, 1));
  std::vector<float> holes(50 * 40);
  for (std::size_t i = 0; i < holes.size(); ++i) holes[i] = i % 7 == 0 ? nan : i % 50;
  writeFits(dir.file("nan.fit"), FLOAT_IMG, {50, 40}, holes);
  writeFits(dir.file("cut.fit"), SHORT_IMG, {300, 300}, std::vector<float>(90000, 3));
  fs::resize_file(dir.file("cut.fit"), 2880 + 1000);
  writeFits(dir.file("blank.fit"), FLOAT_IMG, {3, 3}, std::vector<float>(9, nan));
  e2e::writeFile(dir.file("notes.fit"), "seeing 1.5 all night\n");
  writeFits(dir.file(".hidden.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  writeFits(dir.file("other.fits"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});

  tarnlook::ZscaleSampler sampler(2000);
  for (const float v : holes) {
    if (!std::isnan(v)) sampler.add(&v, 1, 1);
  }
  const auto nanLimits = tarnlook::zscaleLimits(sampler.sortedSamples());
  ASSERT_TRUE(nanLimits.has_value());
  char nanLine[80];
  std::snprintf(nanLine, sizeof nanLine, "nan.fit  -  %.6g..%.6g\n", nanLimits->low,
                nanLimits->high);

  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string("a b%s%n.fit  -  7..7\n"
                               "No defined pixel. (blank.fit)  Skipped\n"
                               "const.fit  -  5..5\n"
                               "Not a 2-D image (NAXIS = 3). (cube.fit)  Skipped\n"
                               "Cannot read the pixels. (cut.fit)  Skipped\n"
                               "Not a 2-D image (NAXIS = 1). (line.fit)  Skipped\n") +
                       nanLine +
                       "Not a FITS file. (notes.fit)  Skipped\n"
                       "Picture: tarnlook.png (3 frames)\n");
  // 1 x 1 zoomed to 256 x 256, 30 x 20 to 240 x 160, 50 x 40 to 250 x 200.
  ImagePtr sheet = readPng(dir.file("tarnlook.png"));
  ASSERT_TRUE(sheet);
  EXPECT_EQ(gdImageSX(sheet.get()), sheetWidth(3));
  EXPECT_EQ(gdImageSY(sheet.get()), 2 * 8 + rowHeight(256));
  EXPECT_EQ(greyAt(sheet.get(), 8 + 128, 8 + 128), 128);               // constant: mid-grey
  EXPECT_EQ(greyAt(sheet.get(), 8 + 264 + 128, 8 + 256 - 80), 128);    // constant: mid-grey

  // Named on the command line: just those, in the order given.
  const e2e::RunResult named = e2e::runProgram(
      TARNLOOK_EXE, dir.path(), "", {"const.fit", "missing.fit", "a b%s%n.fit"}, kTimeoutSeconds);
  EXPECT_EQ(named.exitStatus, 0);
  EXPECT_EQ(named.out,
            "const.fit  -  5..5\n"
            "Cannot open. (missing.fit)  Skipped\n"
            "a b%s%n.fit  -  7..7\n"
            "Picture: tarnlook.png (2 frames)\n");
  EXPECT_EQ(filesIn(dir.path()).count("tarnlook.png"), 1u);
  EXPECT_EQ(filesIn(dir.path()).size(), 13u);  // the ten files, the picture, page and table
}

TEST(TarnlookE2e, HeaderValuesAreDataOnTheConsoleInTheTableAndOnThePage) {
  e2e::ScopedTempDir dir;
  const std::string object = "<script>alert(1)</script>", filter = "\"V\", 'R' <b>";
  writeFits(dir.file("a&b.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  setKeys(dir.file("a&b.fit"), {{"OBJECT", object}, {"FILTER", filter}, {"EXPTIME", "30"}});
  writeFits(dir.file("c.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 5});
  setKeys(dir.file("c.fit"), {{"OBJECT", "`[2Jdark\\"}, {"DATA-TYP", "<i id=x>"}});
  e2e::writeFile(dir.file("d\x01.fit"), "no FITS");
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.out, "a&b.fit  " + object + "  1..4\nc.fit  \\x1B[2Jdark\\\\  1..5\n"
                   "Not a FITS file. (d\\x01.fit)  Skipped\nPicture: tarnlook.png (2 frames)\n");
  const auto rows = readCsv(e2e::readFile(dir.file("tarnlook.csv")));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (Fields{"a&b.fit", object, "", filter, "30", "", "", "1", "4"}));
  EXPECT_EQ(rows[2], (Fields{"c.fit", "\\x1B[2Jdark\\\\", "<i id=x>", "", "", "", "", "1", "5"}));
  if (!e2e::fileExists("/usr/bin/chromium")) GTEST_SKIP() << "no /usr/bin/chromium for the page";
  e2e::ScopedTempDir profile;
  const std::string dom = e2e::runProgram("/usr/bin/chromium", dir.path(), "", {"--headless",
      "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--user-data-dir=" + profile.path(), "--dump-dom", "file://" + dir.file("tarnlook.html")},
      kTimeoutSeconds).out;
  const std::regex row("<tr id=\"([^\"]*)\""), link("<area [^>]*href=\"#([^\"]*)\"");
  using Groups = std::sregex_token_iterator;  // the first group of each match
  const Fields rowIds(Groups(dom.begin(), dom.end(), row, 1), Groups());
  EXPECT_EQ(rowIds, (Fields{"f1", "f2"})) << dom;
  EXPECT_EQ(Fields(Groups(dom.begin(), dom.end(), link, 1), Groups()), rowIds);
  EXPECT_FALSE(std::regex_search(dom, std::regex("<(script|b|i)[ >]"))) << dom;  // no element
}

std::string frameName(int i) { return (i < 10 ? "f0" : "f") + std::to_string(i) + ".fit"; }

TEST(TarnlookE2e, MoreThan48FramesMakeNumberedSheets) {
  e2e::ScopedTempDir dir;
  for (int i = 1; i <= 60; ++i) {
    writeFits(dir.file(frameName(i)), SHORT_IMG, {2, 2}, {0, 1, 2, static_cast<float>(i)});
  }
  // Sheets of older runs, and pictures whose names are not those of sheets.
  for (const char* name : {"tarnlook-1.png", "tarnlook-3.png", "tarnlook.png", "tarnlook-01.png",
                           "tarnlook-x.png", "notes.png"}) {
    e2e::writeFile(dir.file(name), "an older picture");
  }
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  const std::string last = "Pictures: tarnlook-1.png (48 frames), tarnlook-2.png (12 frames)\n";
  ASSERT_GE(r.out.size(), last.size());
  EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
  ImagePtr first = readPng(dir.file("tarnlook-1.png"));
  ImagePtr second = readPng(dir.file("tarnlook-2.png"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(gdImageSX(first.get()), sheetWidth(8));
  EXPECT_EQ(gdImageSY(first.get()), 2 * 8 + 6 * rowHeight(256) + 5 * 8);
  EXPECT_EQ(gdImageSX(second.get()), sheetWidth(8));
  EXPECT_EQ(gdImageSY(second.get()), 2 * 8 + 2 * rowHeight(256) + 8);
  // The frames, two sheets, page, table and three other pictures: no
  // temporary file.
  EXPECT_EQ(filesIn(dir.path()).size(), 67u);

  // Five frames left: one sheet, and the numbered ones go.
  for (int i = 6; i <= 60; ++i) fs::remove(dir.file(frameName(i)));
  const e2e::RunResult again = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(again.exitStatus, 0) << again.err;
  EXPECT_NE(again.out.find("\nPicture: tarnlook.png (5 frames)\n"), std::string::npos) << again.out;
  EXPECT_EQ(filesIn(dir.path()),
            (std::set<std::string>{"f01.fit", "f02.fit", "f03.fit", "f04.fit", "f05.fit",
                                   "tarnlook.png", "tarnlook-01.png", "tarnlook-x.png",
                                   "notes.png", "tarnlook.html", "tarnlook.csv"}));

  // Console lines lost on a full device are a failure.
  const e2e::RunResult full = e2e::runProgram(
      "/bin/sh", dir.path(), "", {"-c", "exec \"$0\" >/dev/full", TARNLOOK_EXE}, kTimeoutSeconds);
  EXPECT_EQ(full.exitStatus, 1);
  EXPECT_EQ(full.err, "tarnlook: cannot write to standard output\n");
}

TEST(TarnlookE2e, NoFrameWritesNothing) {
  e2e::ScopedTempDir dir;
  writeFits(dir.file("frame.fits"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "No frame (*.fit) in this folder; nothing written.\n");
  EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"frame.fits"});
}

TEST(TarnlookE2e, PictureThatCannotBeWrittenLeavesNothingBehind) {
  e2e::ScopedTempDir dir;
  writeFits(dir.file("a.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  fs::create_directory(dir.file("tarnlook.png"));  // cannot be renamed over
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "a.fit  -  1..4\nCannot write. (tarnlook.png)\n");
  EXPECT_EQ(r.err, "tarnlook: cannot write tarnlook.png: Is a directory\n");
  EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"a.fit", "tarnlook.png"}));
}

TEST(TarnlookE2e, CommandLine) {
  e2e::ScopedTempDir dir;
  writeFits(dir.file("a.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  for (const char* help : {"--help", "-h"}) {
    const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {help});
    EXPECT_EQ(r.exitStatus, 0) << help;
    EXPECT_EQ(r.out.rfind("Usage: tarnlook [FILE...]\n", 0), 0u) << help;
    EXPECT_EQ(r.err, "") << help;
  }
  const e2e::RunResult version = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  const std::string lists = e2e::readFile(std::string(SOURCE_DIR) + "/CMakeLists.txt");
  const std::string opening = "project(tarnfits VERSION ";
  const std::size_t at = lists.find(opening) + opening.size();
  EXPECT_EQ(version.out, "tarnlook " + lists.substr(at, lists.find(' ', at) - at) + "\n");

  const struct {
    std::vector<std::string> args;
    std::string message;
  } wrong[] = {
      {{"-x"}, "unknown argument '-x'"},
      {{"a.fit", "--verbose"}, "unknown argument '--verbose'"},
      {{"-"}, "unknown argument '-'"},
      {{"--help", "a.fit"}, "unexpected argument 'a.fit'"},
      {{"a.fit", "--version"}, "unexpected argument 'a.fit'"},
  };
  for (const auto& w : wrong) {
    const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", w.args);
    EXPECT_EQ(r.exitStatus, 2) << w.message;
    EXPECT_EQ(r.out, "") << w.message;
    EXPECT_EQ(r.err.rfind("tarnlook: " + w.message + "\n\nUsage: tarnlook", 0), 0u) << r.err;
  }
  EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"a.fit"});
}

}  // namespace
