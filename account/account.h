// account: the night's run list accounted for, line by line: composed
// from the converters' run records, else from the run list and the error
// log, and read from the night folder.
#ifndef ACCOUNT_ACCOUNT_H
#define ACCOUNT_ACCOUNT_H

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "frames.h"

namespace tarnlook {

// ---------------------------------------------------------------------------
// The night's account: what became of every line of the run list, how each
// program's run ended, and the camera files that no line names. Composed
// here, text in and records out, from what is read below (readAccount): the
// converters' run records where they exist, else the run list and the error
// log (older folders).

constexpr const char* kAccountTableName = "tarnlook-runlist.csv";

// The outcomes of a line, as the run records write them, and one of
// tarnlook's own: a line the converters took whose output was not drawn.
constexpr const char* kConverted = "converted";
constexpr const char* kWarned = "converted with a warning";
constexpr const char* kRefused = "refused";
constexpr const char* kIgnored = "ignored";
constexpr const char* kStopped = "stopped";
constexpr const char* kNotReached = "not reached";
constexpr const char* kNoOutput = "no output";

// An entry line of the run list (or a line equal to the one before it).
struct ListLine {
  int line = 0;        // its physical line number, from 1
  std::string text;    // the piece as the converters compare it
  std::string input;   // in lower case, as the converters open it first
  std::string output;  // empty when the input has no output of its own
  std::string object, dataType, filter;  // as the converters name them
};

// One row of a converter's run record (<program>-run.csv).
struct RecordRow {
  std::string program, version, startedUt, endedUt, exitStatus;
  std::string line, input, output, outcome, reason;
};

// What became of one run-list line.
struct AccountLine {
  int line = 0;
  std::string input, output;
  std::string outcome;   // one of the outcomes above
  std::string plain;     // why, in plain words; empty for a plain conversion
  std::string logWords;  // the record's or the error log's own words
};

// How one program's run went, from its record's last row.
struct RunFacts {
  std::string program, startedUt;  // startedUt as "YYYY-MM-DD hh:mm"
  bool stopped = false;
  int line = 0;               // where it stopped; 0 for none
  std::string input, cause;   // the file and the cause of the stop
  int notReached = 0;         // lines after the stop
};

struct NightAccount {
  std::vector<AccountLine> lines;      // every line, in run-list order
  std::vector<RunFacts> runs;          // newest first; empty without a record
  std::vector<std::string> unlisted;   // camera files no line names
};

// The rows of a run record (RFC 4180, CRLF or LF line ends); nothing when
// the text does not start with the record's header line.
std::optional<std::vector<RecordRow>> parseRunRecord(const std::string& text);

// The plain words for a reason of the error log or a record ("open": "file
// not found or not readable"); an unknown reason stands as it is.
std::string plainReason(const std::string& logWords);

// The account from the newest of `records` (each the rows of one program's
// record): its rows, in order, for the lines of the run list. A line that
// converted but whose output is not among `drawn` is kNoOutput, with
// tarnlook's reason for passing it over (`passedOver`, output to reason)
// when there is one.
NightAccount accountFromRecords(const std::vector<std::vector<RecordRow>>& records,
                                const std::set<std::string>& drawn,
                                const std::map<std::string, std::string>& passedOver);

// The account of an older folder, from `lines` and the error log's lines
// (`log`, file to reason, in the log's order), as far as they tell: a line
// equal to the last line that converted is ignored; the log's last reasons
// for an input go, in order, to its last lines ("input data is short" a
// warning); a line of an input without a reason is converted when its
// output is drawn, else kNoOutput with tarnlook's reason if any.
NightAccount accountFromLog(const std::vector<ListLine>& lines,
                            const std::vector<std::pair<std::string, std::string>>& log,
                            const std::set<std::string>& drawn,
                            const std::map<std::string, std::string>& passedOver);

// The camera files among `folder` (names ending in ".fts", any case, not
// starting with '.') that no line of `lines` names, in the order given.
std::vector<std::string> unlistedCameraFiles(const std::vector<std::string>& folder,
                                             const std::vector<ListLine>& lines);

// "15 run-list lines: 12 converted (1 with a warning), 2 refused, 1
// repeats line 4".
std::string accountSummary(const NightAccount& account);

// Whether anything needs a look: a line not converted, a warning, a stop,
// a camera file not in the run list.
bool accountHasProblems(const NightAccount& account);

// For each output, the line that made it: the last line of `account` that
// converted it (`lines` give the line's names).
std::map<std::string, ListLine> makersOf(const NightAccount& account,
                                         const std::vector<ListLine>& lines);

// Where the values of a frame came from, when not from its header.
struct Filled {
  bool fromList = false;    // OBJECT, DATA-TYP or FILTER from its run-list line
  bool fromCamera = false;  // its time or EXPTIME from the camera's cards
};

// Fills what `header` lacks (the editors' outputs keep the camera's cards
// only): OBJECT, DATA-TYP and FILTER from the line `maker`; EXPTIME from
// EXPOSURE; and without a time of its own (exposureTime), DATE-OBS and UT
// of mid-exposure, the camera's DATE (the start, UT) and half of EXPOSURE,
// the seconds cut as the converters cut them.
Filled fillFromRunList(FrameHeader& header, const ListLine& maker);

// ---------------------------------------------------------------------------
// Reading what the night's account is made of: the run list, with the
// converters' own code for it (runlist/runlist.h), the converters' run
// records, the error log and the folder's camera files.

// The entry lines of the current folder's run list (tarnlist.dat, else
// TARNLIST.DAT, as the converters open it), piece by piece as the
// converters' main loop takes them; nothing when there is no run list.
std::optional<std::vector<ListLine>> readRunListLines();

// The account of the current folder for its run list `lines`, given the
// outputs the run drew and those it passed over (output to reason): from
// the run records tarnfits-run.csv, tarnfits4-run.csv and tarnfits4s-run.csv
// that can be read (accountFromRecords), else from the error log
// tarnfits.log (accountFromLog); with the camera files that no line names.
// Without a run list, from the records alone (a run may have stopped for
// want of it); nothing when there is neither.
std::optional<NightAccount> readAccount(const std::optional<std::vector<ListLine>>& lines,
                                        const std::set<std::string>& drawn,
                                        const std::map<std::string, std::string>& passedOver);

}  // namespace tarnlook

#endif  // ACCOUNT_ACCOUNT_H
