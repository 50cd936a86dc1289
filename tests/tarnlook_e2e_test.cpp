// tarnlook run as built, in scratch folders: its console, the pictures it
// writes (decoded with libgd), files it passes over and its command line.
#include <fitsio.h>
#include <gd.h>
#include <gdfonts.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "nightgen.h"
#include "page.h"

namespace {

namespace fs = std::filesystem;

constexpr double kTimeoutSeconds = 60;  // only a program that hangs reaches it

// Writes a FITS image with CFITSIO; BITPIX 20 means unsigned 16-bit
// (BZERO 32768); with a compression type (0 none, RICE_1, ...), in extension 1.
void writeFits(const std::string& path, int bitpix, std::vector<long> axes,
               std::vector<float> values, int compression = -1) {
  int status = 0;
  fitsfile* file = nullptr;
  fits_create_diskfile(&file, path.c_str(), &status);
  if (compression >= 0 && !fits_create_img(file, bitpix, 0, nullptr, &status)) fits_set_compression_type(file, compression, &status);
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

// Headless Chromium, the page in a frame `width` wide: "overflow,width,thumbnails in view,script b i,rows'
// AIRMASS in view,rows' Flags in view".
std::string fitInChromium(const std::string& dir, const int width) {
  return e2e::probeInChromium(dir + "/tarnlook.html", width, "[e.scrollWidth-e.clientWidth,innerWidth,[...q('figure "
      "img')].filter(i=>i.naturalWidth&&i.getBoundingClientRect().right<=e.clientWidth).length,q('script,b,i').length,"
      "...['AIRMASS','Flags'].map(n=>[...q('td:nth-child('+([...q('th')].findIndex(h=>h.textContent==n)+1)+')')]"
      ".every(c=>c.getBoundingClientRect().right<=e.clientWidth))]");
}

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
  writeFits(dir.file("mef.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4}, 0);
  setKeys(dir.file("mef.fit"), {{"OBJECT", "M1"}});  // in the primary header, none in the image's
  writeFits(dir.file("rice.fit"), FLOAT_IMG, {2, 2}, {1, 2, 3, 5}, RICE_1);

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
                               "Not a 2-D image (NAXIS = 1). (line.fit)  Skipped\n"
                               "mef.fit[1]  M1  1..4\n") + nanLine +
                       "Not a FITS file. (notes.fit)  Skipped\nrice.fit[1]  -  1..5\n"
                       "Picture: tarnlook.png (5 frames); page: tarnlook.html; table: tarnlook.csv\n");
  // 1 x 1 zoomed to 256 x 256, 30 x 20 to 240 x 160, 50 x 40 to 250 x 200.
  ImagePtr sheet = readPng(dir.file("tarnlook.png"));
  ASSERT_TRUE(sheet);
  EXPECT_EQ(gdImageSX(sheet.get()), sheetWidth(5));
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
            "Picture: tarnlook.png (2 frames); page: tarnlook.html; table: tarnlook.csv\n");
  EXPECT_EQ(filesIn(dir.path()).count("tarnlook.png"), 1u);
  EXPECT_EQ(filesIn(dir.path()).size(), 15u);  // the 12 files, the picture, page and table
}

TEST(TarnlookE2e, HeaderValuesAreDataOnTheConsoleInTheTableAndOnThePage) {
  e2e::ScopedTempDir dir;
  const std::string object = "<script>alert(1)</script>", filter = "\"V\", 'R' <b>";
  writeFits(dir.file("a&b\"'.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  setKeys(dir.file("a&b\"'.fit"), {{"OBJECT", object}, {"FILTER", filter}, {"EXPTIME", "30,5"}});
  writeFits(dir.file("c.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 5});
  setKeys(dir.file("c.fit"), {{"OBJECT", "`[2Jdark\\"}, {"DATA-TYP", "<i id=x>"}, {"UT", "&lt;"}});
  e2e::writeFile(dir.file("d\x01\x7f.fit"), "no FITS");
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.out, "a&b\"'.fit  " + object + "  1..4\nc.fit  \\x1B[2Jdark\\\\  1..5\nNot a FITS file. "
      "(d\\x01\\x7F.fit)  Skipped\nPicture: tarnlook.png (2 frames); page: tarnlook.html; table: tarnlook.csv\n");
  const auto rows = readCsv(e2e::readFile(dir.file("tarnlook.csv")));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (Fields{"a&b\"'.fit", object, "", filter, "30,5", "", "", "1", "4", "3.0", "1.13", "4", "0",
                             "1", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(rows[2], (Fields{"c.fit", "\\x1B[2Jdark\\\\", "<i id=x>", "", "", "&lt;", "", "1", "5", "3.0", "1.50",
                             "5", "0", "1", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""}));
  const std::string page = e2e::readFile(dir.file("tarnlook.html"));  // "&lt;" as written
  EXPECT_TRUE(page.find("\"t\">&amp;lt;<") != page.npos && page.find("e=\"a&amp;b&quot;&#39;.fit\"") != page.npos);
  if (!e2e::fileExists("/usr/bin/chromium") && std::getenv("TARNFITS_NO_SKIP")) FAIL() << "no chromium";
  if (!e2e::fileExists("/usr/bin/chromium")) GTEST_SKIP() << "no /usr/bin/chromium for the page";
  for (const int w : {420, 1400}) EXPECT_EQ(fitInChromium(dir.path(), w), "0," + std::to_string(w) + ",2,1,true," + (w > 420 ? "true" : "false"));
}

TEST(TarnlookE2e, NightInTimeOrderWithItsHeadingAndRunListAccount) {
  e2e::ScopedTempDir dir;  // out of time order; i.fit 2^i x 1 pixels, 256 / 2^i high on the sheet
  const std::vector<std::pair<const char*, std::string>> night[] = {
      {{"DATE-OBS", "2024-02-01T00:10:00.5"}, {"DATA-TYP", "OBJECT"}, {"EXPTIME", "30.5"}, {"AIRMASS", "0"}},
      {{"DATA-TYP", "FLAT"}, {"SEEING", "2.0"}}, {{"MJD-OBS", "60341.0"}, {"DATA-TYP", "DARK"}, {"AIRMASS", "0.5"}},
      {{"DATE-OBS", "2024-01-31"}, {"UT", "23:50:00"}, {"DATA-TYP", "OBJECT"}, {"EXPTIME", "60"}, {"AIRMASS", ".8"}},
      {{"DATE-OBS", "2024-01-31"}, {"TIME-OBS", "22:00:00"}, {"SEEING", "1.5"}}};
  for (int i = 0; i < 5; ++i) {
    writeFits(dir.file(std::to_string(i) + ".fit"), SHORT_IMG, {1L << i, 1}, std::vector<float>(1 << i, 5));
    setKeys(dir.file(std::to_string(i) + ".fit"), night[i]);
  }  // refused lines (one of an input named twice, one a folder), an output missing, another passed over, a repeat,
  // an input its own output, a directive; camera files in upper case, one listed, and a folder named like one
  e2e::writeFile(dir.file("tarnlist.dat"), "# SEEING 1\n0.fts\n1.FTS\n6.fts\n1.fts\n2.fts\n2.fts\n7.fts\n3.fit\n5.fts\n8.fts\n");
  e2e::writeFile(dir.file("tarnfits.log"), "cannot open '7.fts'  (open)\ncannot open '7.fts'  (OBJECT not find)\n"
      "cannot open '3.fit'  (output name equals input name)\ncannot open '5.fts'  (input data is short)\n"
      "cannot open '1.fts'  (open)\ncannot open '8.fts'  (open)\n");
  for (const char* name : {"5.fit", "9.FTS", "7.fts", "6.FTS"}) e2e::writeFile(dir.file(name), "not FITS");
  for (const char* name : {"8.fts", "stray.fts"}) fs::create_directory(dir.file(name));
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  std::string page = e2e::readFile(dir.file("tarnlook.html"));
  const auto rows = readCsv(e2e::readFile(dir.file("tarnlook.csv")));
  ImagePtr sheet = readPng(dir.file("tarnlook.png"));
  ASSERT_TRUE(sheet && rows.size() == 6) << r.out << r.err;
  std::string order;  // of the console, the sheet and the CSV, then of the page's table
  for (int k = 0, high = 0, line = 0; k < 5; ++k, high = 0, line = r.out.find('\n', line) + 1) {
    for (int y = 8; y < 8 + 256; ++y) high += greyAt(sheet.get(), 8 + k * 264 + 128, y) == 128;
    order += {r.out[line], static_cast<char>('0' + std::log2(256.0 / std::max(high, 1))), rows[k + 1][0][0]};
  }
  const std::regex row("<tr id=\"f\\d+\"><td><a href=\"#t\\d+\">(.)");
  for (std::sregex_iterator m(page.begin(), page.end(), row), end; m != end; ++m) order += (*m)[1];
  EXPECT_EQ(order, "444333222000111" "43201");
  EXPECT_NE(page.find("<h1>Night of 2024-01-31 to 2024-02-01, UT 22:00:00 to 00:10:00</h1>\n<div class=\"problems\">"
      "\n<h2>To look at</h2>\n<p>10 run-list lines: 3 converted, 4 refused, 2 without an output drawn, 1 repeats line 6"
      "</p>"), page.npos) << page;
  EXPECT_NE(page.find("<li>1 camera file is not in the run list: 9.FTS</li>\n<li>5.fit: Not a FITS file. Passed"), page.npos);
  EXPECT_NE(page.find("<li>5 frames: 2 OBJECT, 1 DARK, 1 FLAT, 1 without DATA-TYP</li>\n<li>OBJECT exposure: 90.5 s in "
      "all</li>\n<li>Seeing: 1.5, 2.0</li>\n<li>1 frame without a time, shown last</li>\n</ul>\n"), page.npos);
  for (const char* airmass : {"3.fit</a></td><td></td><td class=\"t\">23:50:00</td><td class=\"n bad\"",
      "2.fit</a></td><td></td><td class=\"t\"></td><td class=\"n\"></td>", "0.fit</a></td><td></td><td class=\"t\">"
      "</td><td class=\"n\"></td>", "UT 23:50:00<br><span class=\"bad\">airmass .8 impossible</span></figcaption>"})
    EXPECT_NE(page.find(airmass), page.npos) << airmass;  // OBJECT frames only; 0 a placeholder
  EXPECT_EQ(e2e::readFile(dir.file("tarnlook-runlist.csv")), "line,input,output,outcome,reason,log_reason\r\n2,0.fts,0.fit,"
      "converted,,\r\n3,1.fts,1.fit,converted,,\r\n4,6.fts,6.fit,no output,output not in the folder,\r\n5,1.fts,1.fit,refused,file "
      "not found or not readable,open\r\n6,2.fts,2.fit,converted,,\r\n7,2.fts,2.fit,ignored,repeats line 6,repeats line 6\r\n8,7.fts,7.fit,refused,object not "
      "in the catalogue,OBJECT not find\r\n9,3.fit,,refused,the output would overwrite the input,output name equals input name"
      "\r\n10,5.fts,5.fit,no output,output passed over: Not a FITS file.,input data is short\r\n11,8.fts,8.fit,refused,\"a folder, "
      "not a camera file\",open\r\n");
  EXPECT_NE(r.out.find("page: tarnlook.html; tables: tarnlook.csv, tarnlook-runlist.csv\n"), r.out.npos);
  // The newest run record, where one exists, tells the run: warnings and the stop included; the run list the lines it
  // does not reach. Written elsewhere (-o), the night folder only read, though root may write where the mode says not.
  e2e::writeFile(dir.file("tarnfits4-run.csv"), "program,version,started_ut,ended_ut,exit_status,line,input,output,outcome,"
      "reason\r\ntarnfits4,1.0.0,2024-01-30T08:00:00Z,2024-01-30T08:01:00Z,0,,,,finished,\r\n");
  e2e::writeFile(dir.file("tarnfits-run.csv"), [](std::string t) {
    for (std::size_t i = 0; (i = t.find('|', i)) != t.npos;) t.replace(i, 1, "tarnfits,1.0.0,2024-02-01T08:12:40Z,"
        "2024-02-01T08:13:00Z,1,");
    return t; }(
      "program,version,started_ut,ended_ut,exit_status,line,input,output,outcome,reason\r\n|2,0.fts,0.fit,converted "
      "with a warning,Cannot read READTIME\r\n|8,7.fts,7.fit,refused,OBJECT not find\r\n|9,3.fit,,stopped,\"s,fit: No space "
      "left on device\"\r\n|10,5.fts,5.fit,not reached,\r\n|9,3.fit,,stopped,\"s,fit: No space left on device\"\r\n"));
  const std::set<std::string> listed = filesIn(dir.path());
  e2e::ScopedTempDir out;  // beside the night: "../<out>/report" made, the night "../../<dir>/" from there
  const std::string folder = fs::path(dir.path()).filename(), link = "<a href=\"../../" + folder + "/";
  fs::permissions(dir.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove);
  const e2e::RunResult elsewhere = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {"--output", "../" +
      fs::path(out.path()).filename().string() + "/report"}, kTimeoutSeconds);
  fs::permissions(dir.path(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(listed, filesIn(dir.path())) << "the night folder written";  // its older page kept, not renamed over:
  EXPECT_EQ(e2e::readFile(dir.file("tarnlook.html")), page);
  EXPECT_EQ(filesIn(out.file("report")), (std::set<std::string>{"tarnlook.png", "tarnlook.html", "tarnlook.csv",
      "tarnlook-runlist.csv"})) << elsewhere.out << elsewhere.err;
  page = e2e::readFile(out.file("report/tarnlook.html"));
  for (const std::string& told : std::vector<std::string>{link + "0.fit\">0.fit</a>", "Folder " + link + "\">" + folder +
      "</a>", "<p>5 run-list lines: 1 converted (1 with a warning), 1 refused, 1 stopped the run, 2 not reached</p>", "<li>"
      "<strong>tarnfits stopped</strong> at line 9 (3.fit): s,fit: No space left on device; 2 lines were not reached (1 not "
      "in the run record: taken from tarnlist.dat)", "<p class=\"runs\">tarnfits ran 2024-02-01 08:12 UT; tarnfits4 ran "
      "2024-01-30 08:00 UT</p>", "<span class=\"bad\">warning: unknown readout time: no GAIN card"})
    EXPECT_NE(page.find(told), page.npos) << told;
  EXPECT_EQ(e2e::readFile(out.file("report/tarnlook-runlist.csv")), "line,input,output,outcome,reason,log_reason\r\n2,0.fts,"
      "0.fit,converted with a warning,unknown readout time: no GAIN card,Cannot read READTIME\r\n8,7.fts,7.fit,refused,object not "
      "in the catalogue,OBJECT not find\r\n9,3.fit,,stopped,\"s,fit: No space left on device\",\"s,fit: No space left on device\""
      "\r\n10,5.fts,5.fit,not reached,,\r\n11,8.fts,8.fit,not reached,not in the run record: taken from tarnlist.dat,\r\n");
}

TEST(TarnlookE2e, EditorsNightFromItsRunListLinesAndTheCameraCards) {
  e2e::ScopedTempDir dir;  // the camera's cards only: the start (UT) and the exposure
  for (const auto& [name, start, exposure] : {std::tuple{"e1.fit", "2024-02-01T00:30:00", "60"},
                                              std::tuple{"e2.fit", "2024-01-31T23:59:50", "6.1E+01"}}) {
    writeFits(dir.file(name), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
    setKeys(dir.file(name), {{"DATE", start}, {"EXPOSURE", exposure}});
  }
  e2e::writeFile(dir.file("tarnlist.dat"), "e1.fts M42 1 0.0 1 0.20 1 R\ne2.fts Sirius 1 0.0 1 0.20 1 V\n");
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  const std::string unmeasured = "  not measured: smaller than the background mesh (64 x 64 pixels)\n";
  EXPECT_EQ(r.out.substr(0, 37 + 2 * unmeasured.size()),  // measured as the OBJECT frames they are
            "e2.fit  Sirius  1..4" + unmeasured + "e1.fit  M42  1..4" + unmeasured);
  EXPECT_NE(e2e::readFile(dir.file("tarnlook.html")).find("<h1>Night of 2024-02-01, UT 00:00:20 to 00:30:30</h1>\n<p "
      "class=\"ok\">All well: 2 run-list lines: 2 converted; every frame drawn.</p>\n<p class=\"summary\">Usable OBJECT "
      "frames: 0 of 2</p>\n<p class=\"runs\">No run record here: "
      "this account comes from tarnlist.dat and tarnfits.log, which lack most warnings.</p>\n<ul class=\"facts\">\n<li>2 "
      "frames: 2 OBJECT</li>\n<li>OBJECT exposure: 121 s in all</li>\n"), std::string::npos);
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
  // Stopped (SIGINT) while the seam holds it in the first sheet, drawn once the night is judged: it has told each frame read, in order.
  const e2e::RunResult stopped = e2e::runProgram("/bin/sh", dir.path(), "", {"-c", "FAULTFS=hold FAULTFS_PROOF=proof LD_PRELOAD=$1 "
      "ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 env --default-signal=INT \"$0\" & until [ -e proof ] || ! kill -0 $!; "
      "do sleep .01; done; kill -INT $!; wait $!; s=$?; cat proof >&2; rm proof; exit $s", TARNLOOK_EXE, FAULTFS_LIB}, kTimeoutSeconds);
  EXPECT_EQ(std::to_string(stopped.exitStatus) + stopped.out.substr(0, 8) + stopped.out.substr(stopped.out.rfind('\n',
      stopped.out.size() - 2) + 1, 8) + std::to_string(std::count(stopped.out.begin(), stopped.out.end(), '\n')), "130f01.fit f60.fit 60")
      << stopped.err;
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  const std::string last = "Pictures: tarnlook-1.png (48 frames), tarnlook-2.png (12 frames); "
                           "page: tarnlook.html; table: tarnlook.csv\n";
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
  const std::string page = e2e::readFile(dir.file("tarnlook.html"));  // each frame's thumbnail and row
  const std::regex linked("<figure id=|<tr id=");  // (their links: tarnlook_test)
  EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), linked), std::sregex_iterator()), 120);

  // Five frames left: one sheet, and the numbered ones go.
  for (int i = 6; i <= 60; ++i) fs::remove(dir.file(frameName(i)));
  const e2e::RunResult again = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(again.exitStatus, 0) << again.err;
  EXPECT_NE(again.out.find("\nPicture: tarnlook.png (5 frames); "), std::string::npos) << again.out;
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

TEST(TarnlookE2e, NoFrameWritesNothingButTheAccount) {
  e2e::ScopedTempDir dir;
  writeFits(dir.file("frame.fits"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "No frame (*.fit) in this folder; nothing written.\n");
  EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"frame.fits"});
  // A run that stopped before its first output: the page tells why.
  e2e::writeFile(dir.file("tarnfits4-run.csv"), "program,version,started_ut,ended_ut,exit_status,line,input,output,outcome,"
      "reason\r\ntarnfits4,1.0.0,2024-02-01T08:12:40Z,2024-02-01T08:12:41Z,1,,,,stopped,\"object.lst:3: cannot read "
      "\"\"M42\"\"\"\r\n");
  const e2e::RunResult stopped = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {}, kTimeoutSeconds);
  EXPECT_EQ(stopped.out, "No frame (*.fit) in this folder; page: tarnlook.html; tables: tarnlook.csv, "
      "tarnlook-runlist.csv\n");
  EXPECT_NE(e2e::readFile(dir.file("tarnlook.html")).find("<strong>tarnfits4 stopped</strong>: object.lst:3: cannot read "
      "&quot;M42&quot;</li>"), std::string::npos);
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

TEST(TarnlookE2e, FileFailingAtItsCloseIsNamedAndLeftOut) {  // through the fault seam
  e2e::ScopedTempDir dir;
  writeFits(dir.file("a.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  std::set<std::string> left = {"a.fit"};  // and the files written before the one that fails
  for (const std::string name : {"tarnlook.png", "tarnlook.html", "tarnlook.csv"}) {
    const e2e::RunResult r = e2e::runProgram("/bin/sh", dir.path(), "", {"-c", "FAULTFS=close-eio FAULTFS_FILE="
        "$1 LD_PRELOAD=$2 ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 exec \"$0\"", TARNLOOK_EXE,
        name, FAULTFS_LIB}, kTimeoutSeconds);
    EXPECT_EQ(r.err + std::to_string(r.exitStatus), "tarnlook: cannot write " + name + ": Input/output error\n1");
    EXPECT_EQ(filesIn(dir.path()), left);  // neither it nor a temporary
    left.insert(name);
  }
}

// A plain night is all well; on a night with problems the box names every frame flagged, the sheet marks them in
// red, and the Flags column is in view at 1400 px. --scale= multiplies; a size no frame has is a warning.
TEST(TarnlookE2e, TheBoxNamesEveryFlaggedFrameAndAPlainNightIsAllWell) {
  for (const bool problems : {false, true}) {
    e2e::ScopedTempDir dir;  nightgen::NightOptions options;
    options.faults = options.problems = problems, options.editor32 = options.editor16 = false;
    nightgen::writeSampleNight(dir.path(), options);
    const std::string folder = dir.file(nightgen::kConverterFolder);
    EXPECT_EQ(e2e::runProgram(TARNFITS_EXE, folder, "", {}, 300).exitStatus, 0);
    const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, folder, "", {"--scale=1000x1018=0.3", "--scale", "7x7=1"}, 300);
    EXPECT_EQ(r.err, "tarnlook: warning: --scale 7x7: no frame of the night is 7 x 7 pixels\n");
    const std::string page = e2e::readFile(folder + "/tarnlook.html"), box = page.substr(0, page.find("</div>"));
    EXPECT_EQ(page.find("<p class=\"ok\">All well") != page.npos, !problems) << box;
    std::istringstream lines(r.out);  int flagged = 0, scaled = 0, red = 0;
    for (std::string line; std::getline(lines, line);)
      if (line.find("  ! ") != line.npos && ++flagged) { EXPECT_NE(box.find(" " + line.substr(0, line.find(".fit")) + " "), box.npos) << line; }
    EXPECT_EQ(flagged, problems ? 7 : 0);  // 4 OBJECT frames, 3 BIAS and FLAT frames
    const auto rows = readCsv(e2e::readFile(folder + "/tarnlook.csv"));
    for (const Fields& row : rows)
      if (row.size() > 16 && !row[16].empty() && row[0] != "file" && ++scaled) { EXPECT_NEAR(std::stod(row[16]), 0.3 * std::stod(row[15]), 0.006) << row[0]; }
    EXPECT_EQ(scaled, 3);  // the T5 OBJECT frames
    ImagePtr sheet = readPng(folder + "/tarnlook.png");  // a flagged frame's red border
    for (int i = 0; sheet && i < gdImageSX(sheet.get()) * gdImageSY(sheet.get()); ++i) red += gdImageGetTrueColorPixel(sheet.get(), i % gdImageSX(sheet.get()), i / gdImageSX(sheet.get())) == 0xe61e1e;
    EXPECT_EQ(red > 0, problems);
    if (problems && e2e::fileExists("/usr/bin/chromium")) { EXPECT_EQ(fitInChromium(folder, 1400), "0,1400," + std::to_string(rows.size() - 1) + ",1,true,true"); }
  }
}

TEST(TarnlookE2e, CommandLine) {
  e2e::ScopedTempDir dir;
  writeFits(dir.file("a.fit"), SHORT_IMG, {2, 2}, {1, 2, 3, 4});
  for (const char* help : {"--help", "-h"}) {
    const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", {help});
    EXPECT_EQ(r.exitStatus, 0) << help;
    EXPECT_EQ(r.out.rfind("Usage: tarnlook [-o DIR] [--scale NAXIS1xNAXIS2=ARCSEC]... [FILE...]\n", 0), 0u) << help;
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
      {{"--scale", "2048x512"}, "--scale wants NAXIS1xNAXIS2=ARCSEC, as 2048x512=0.42"},
      {{"a.fit", "-o"}, "-o wants a folder"},
  };
  for (const auto& w : wrong) {
    const e2e::RunResult r = e2e::runProgram(TARNLOOK_EXE, dir.path(), "", w.args);
    EXPECT_EQ(r.exitStatus, 2) << w.message;
    EXPECT_EQ(r.out, "") << w.message;
    EXPECT_EQ(r.err, "tarnlook: " + w.message + "\nTry 'tarnlook --help'.\n");
  }
  EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"a.fit"});
}

}  // namespace
