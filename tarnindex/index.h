// The archive's index: every night folder under a root, read from the
// tables tarnlook and the converters wrote there, kept in one SQLite
// database (ROOT/tarnindex.sqlite), with the archive's pages and its table
// of nights composed from it, and frames found by what they show.
//
// Reading a night (readNight) and composing the page, the table and the
// queries are text in and text out; findNights walks the folders, Index
// owns the database, and lookAtNights runs tarnlook's library (look.h) in
// children.
// Every function returns its errors; only main prints.
#ifndef TARNINDEX_INDEX_H
#define TARNINDEX_INDEX_H

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnindex {

constexpr const char* kIndexName = "tarnindex.sqlite";
constexpr const char* kPageName = "tarnindex.html";
constexpr const char* kTableName = "tarnindex.csv";
constexpr const char* kNotLookedAt = "not looked at yet (run tarnlook there)";

// ---- CSV (RFC 4180) ----------------------------------------------------

struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;  // each as long as the header
};

// Parses a whole CSV text whose lines end in CRLF or LF. Returns an empty
// text, else what is wrong ("line 7: 3 fields where the header has 25",
// "cut: the last line has no line end", "a quote is not closed").
std::string parseCsv(const std::string& text, Table& table);
// A field as RFC 4180 wants it: quoted when it holds a comma, a quote, CR or LF.
std::string csvField(const std::string& text);
std::string csvLine(const std::vector<std::string>& fields);  // with CRLF

// ---- Values --------------------------------------------------------------

// The number a field holds: decimal digits with an optional sign, point and
// exponent, finite; none for anything else (empty, "yes", "0x10", "nan").
std::optional<double> numberOf(const std::string& text);
// A CSV column's name as an SQL column: lower case, every byte other than
// a-z, 0-9 and '_' made '_', "c_" before a leading digit ("DATA-TYP":
// "data_typ"). Names given to `find` are made the same way.
std::string sqlName(const std::string& name);
// A number as text that reads back the same: 6 significant digits where
// they do ("5", "1.25"), else 15, else 17.
std::string numberText(double value);
// Text safe in HTML, as element content or a quoted attribute.
std::string html(const std::string& text);

// ---- A night's tables, read --------------------------------------------

// What findNights saw of a night folder.
struct FileStamp {
  std::string name;  // in the night folder
  long long size = 0;
  long long mtimeNs = 0;
};
struct FoundNight {
  std::string path;              // from the root, "/" between folders; "." for the root
  std::vector<FileStamp> files;  // the tables read, by name
  bool looked = false;           // tarnlook.csv is there
  bool framesNewer = false;      // a *.fit is newer than tarnlook.csv, or there is none
  bool hasFrames = false;        // a *.fit is there
  std::string passedOver;        // why it cannot be indexed; empty when it can
};

// The texts of a night's tables, as read from its folder.
struct NightTexts {
  std::string path;                // as FoundNight::path
  std::string frames;              // tarnlook.csv
  std::optional<std::string> runList;  // tarnlook-runlist.csv, when there
  std::map<std::string, std::string> runs;  // <program>-run.csv by program
  std::string pageHead;            // the start of tarnlook.html, up to its heading
};

// One value charted across the nights: a median of the night's frames.
struct Measure {
  std::string quantity;  // fwhm_px, fwhm_arcsec, seeing, sky_per_s, bias_level, read_noise, flat_level
  std::string series;    // the filter or the camera; empty for one series
  double value = 0.0;
};

// A run record's last word: how that program's last run in the night ended.
struct RunEnd {
  std::string program, version, started, ended, outcome, reason;
  std::optional<double> exitStatus;
};

struct NightContent {
  std::string date;            // YYYY-MM-DD, the evening's
  std::string utFirst, utLast; // the UT span, hh:mm:ss; empty when unknown
  Table frames, runList;
  std::vector<RunEnd> runs;
  // The page's and the table's columns.
  std::string framesByType;    // "OBJECT 12, BIAS 5"
  std::optional<double> objectExposure;  // seconds, OBJECT frames
  std::string seeing;          // the observer's SEEING values, ", " between
  std::string skyPerFilter;    // "R 5.49, V 4.81": median counts per second
  int flagged = 0, runListProblems = 0;
  std::string verdict;         // "well", "flags", "problems"
  std::vector<Measure> measures;
};

// Reads a night from its texts. Returns an empty text, else the reason it
// is passed over ("tarnlook.csv: line 7: ...", "no date: ...").
std::string readNight(const NightTexts& texts, NightContent& content);
// The evening's date a folder's name gives (2024-01-31 or 20240131 as its
// last part), else empty.
std::string dateOfFolder(const std::string& path);

// ---- Finding nights ------------------------------------------------------

// Every night folder under root (a folder holding tarnlook.csv, a run list
// or converted frames), in byte order of their paths; folders whose names
// start with '.' are not entered. A folder that cannot be read, and a night
// reached again by another path (a link), are returned passed over.
std::vector<FoundNight> findNights(const std::string& root);
// Reads the tables of a night found. Returns an empty text, else why not.
std::string readTexts(const std::string& root, const FoundNight& night, NightTexts& texts);

// ---- The database ----------------------------------------------------------

struct NightRow {  // a night as the page and the table show it
  long long id = 0;
  std::string path, state, reason, date, utFirst, utLast, framesByType, seeing, skyPerFilter, verdict;
  std::optional<double> frames, objectExposure, fwhmPx, fwhmArcsec;
  long long flagged = 0, runListProblems = 0;
};

class Index {
 public:
  // Opens (or makes) ROOT/tarnindex.sqlite and takes the root for this run,
  // waiting at most lockSeconds for another tarnindex to end. Null and
  // `error` set when it cannot.
  static std::unique_ptr<Index> open(const std::string& root, double lockSeconds, std::string& error);
  // Opens it to read only (find). Null and `error` set when it cannot.
  static std::unique_ptr<Index> openToRead(const std::string& root, std::string& error);
  ~Index();
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // Each night of the index by path: its files as stored at its last
  // reading, its state and the reason it was passed over.
  struct Stored {
    std::vector<FileStamp> files;
    std::string state, reason;
  };
  std::map<std::string, Stored> stored(std::string& error);
  // Replaces the night in one transaction: indexed with `content`, or in
  // `state` ("not looked at", "passed over") with `reason`. beforeCommit,
  // when given, runs inside the transaction once every row is in.
  std::string putNight(const FoundNight& night, const NightContent* content, const std::string& state,
                       const std::string& reason, const std::function<void()>& beforeCommit = nullptr);
  // Removes a night no longer under the root, in one transaction.
  std::string removeNight(const std::string& path);
  // Every night, newest first (those without a date last, by path).
  std::vector<NightRow> nights(std::string& error);
  // The measures of the nights, as (night id, measure).
  std::vector<std::pair<long long, Measure>> measures(std::string& error);

  struct Found {
    std::vector<std::string> header;  // the frames table's columns
    std::vector<std::vector<std::string>> rows;
  };
  // The frames that match every term (find), in the order of their nights'
  // dates and paths, then as in their tables: every column from night_date
  // on, or with pathsOnly night_date, night_path and file alone. Empty
  // text, else why not.
  std::string find(const std::vector<std::string>& terms, const std::string& from,
                   const std::string& to, bool pathsOnly, Found& found);

  class Impl;

 private:
  explicit Index(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// ---- The page and the table -------------------------------------------------

// The archive's pages: file name ("tarnindex.html", "tarnindex-2024.html")
// and bytes, one per year, tarnindex.html being the newest year's and the
// nights not indexed. Every night's row links to its tarnlook.html.
std::vector<std::pair<std::string, std::string>> archivePages(
    const std::vector<NightRow>& nights, const std::vector<std::pair<long long, Measure>>& measures);
// The table of nights indexed, one row per night, the page's columns.
std::string nightsTable(const std::vector<NightRow>& nights);
// An SVG chart of series of (day of the year from 0, value) over one year.
struct Series {
  std::string name;
  std::vector<std::pair<double, double>> points;
};
std::string yearChart(const std::string& title, const std::vector<Series>& series, int daysInYear);

// ---- Looking at nights -------------------------------------------------------

// Runs tarnlook's library on each night folder given (ROOT/path), each in a
// child process of its own in that folder, at most `jobs` at a time, its
// console in tarnlook.console there. Returns the paths whose look failed,
// each with its reason.
std::vector<std::string> lookAtNights(const std::string& root, const std::vector<std::string>& paths,
                                      const std::vector<std::string>& scaleArguments, int jobs);
// Whether a text is a scale as tarnlook --scale takes it: NAXIS1xNAXIS2=ARCSEC.
bool isScale(const std::string& text);

// ---- A run ---------------------------------------------------------------

struct UpdateOptions {
  bool look = false;                        // --look
  std::vector<std::string> scaleArguments;  // for tarnlook, "NAXIS1xNAXIS2=ARCSEC"
  int jobs = 1;                             // nights looked at side by side
  double lockSeconds = 10;                  // the wait for another tarnindex on the root
  // Runs inside each night's transaction, with the number of the night read
  // in this run (from 1); a test's seam.
  std::function<void(int)> beforeCommit;
};

struct UpdateReport {
  int nights = 0, indexed = 0, read = 0, removed = 0;
  std::vector<std::string> notLookedAt;     // paths
  std::vector<std::string> passedOver;      // "path: reason"
  std::vector<std::string> lookFailed;      // "path: reason"
  std::vector<std::string> written;         // the pages and the table, by name
};

// Brings ROOT/tarnindex.sqlite up to date with the nights under root, then
// writes the pages and the table from it. Returns an empty text, else why
// the run stopped; what was committed before stays.
std::string updateIndex(const std::string& root, const UpdateOptions& options, UpdateReport& report);

}  // namespace tarnindex

#endif  // TARNINDEX_INDEX_H
