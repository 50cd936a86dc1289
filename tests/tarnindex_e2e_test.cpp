// tarnindex run as built on an archive of 40 generated nights over two
// years: the index against the nights' own tables read by Python, find
// against a short Python filter over the same tables, a kill inside a
// night's transaction, a second run on the root, bad nights and the page.
#include <fitsio.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>

#include "e2e.h"

namespace {

namespace fs = std::filesystem;
constexpr double kTimeoutSeconds = 300;  // only a program that hangs reaches it
const char* const kPython = "/usr/bin/python3";

// The nights' tables read with Python's csv module. "frames": each night's
// tarnlook.csv against its rows in the index (numbers as REAL, empty as
// NULL, the night's date its folder's name); prints the nights that differ,
// then the index's nights and its integrity. "find FROM TO TERM...": the
// paths that find should print, from the tables alone.
const char* const kReference = R"(
import csv, fnmatch, glob, os, re, sqlite3, sys
def name(h):
    n = re.sub('[^a-z0-9_]', '_', h.lower())
    return 'c_' + n if not n or n[0].isdigit() else n
def num(v):
    try: return float(v) if re.fullmatch('[0-9+.eE-]+', v) else None
    except ValueError: return None
root, mode, *args = sys.argv[1:]
nights = []
for f in sorted(glob.glob(root + '/**/tarnlook.csv', recursive=True)):
    path = os.path.relpath(os.path.dirname(f), root)
    rows = list(csv.reader(open(f, newline='')))
    nights.append((os.path.basename(path), path, [name(h) for h in rows[0]], rows[1:]))
if mode == 'frames':
    db = sqlite3.connect(root + '/tarnindex.sqlite')
    for date, path, header, rows in nights:
        got = db.execute('SELECT night_date,%s FROM frames WHERE night_path=? ORDER BY frame_id'
                         % ','.join('"%s"' % h for h in header), (path,)).fetchall()
        if got != [tuple([date] + [None if v == '' else v if num(v) is None else num(v) for v in r]) for r in rows]:
            print('differs', path)
    print(db.execute('SELECT count(*) FROM nights').fetchone()[0], 'nights,',
          db.execute('PRAGMA integrity_check').fetchone()[0])
    sys.exit()
def holds(term, header, row):
    key, op, value = re.fullmatch('(.+?)(<=|>=|!=|=|<|>)(.*)', term).groups()
    v = row[header.index(name(key))]
    if op in ('=', '!='):
        hit = v != '' and any(fnmatch.fnmatchcase(v, x) if re.search('[*?[]', x) else
                              v == x if num(x) is None else num(v) == num(x) for x in value.split(','))
        return hit == (op == '=')
    return num(v) is not None and eval('num(v)' + op + 'float(value)')
first, last, *terms = args
for date, path, header, rows in sorted(nights):
    for row in rows:
        if first <= date <= last and all(holds(t, header, row) for t in terms):
            print(root + '/' + path + '/' + row[0])
)";

std::string reference(const std::vector<std::string>& args) {
  std::vector<std::string> all{"-c", kReference};
  all.insert(all.end(), args.begin(), args.end());
  const e2e::RunResult r = e2e::runProgram(kPython, "/", "", all, kTimeoutSeconds);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  return r.out;
}

e2e::RunResult tarnindex(const std::vector<std::string>& args) {
  return e2e::runProgram(TARNINDEX_EXE, "/", "", args, kTimeoutSeconds);
}

std::string dateAfter(int days) {  // from 2023-01-05
  std::tm day{};
  day.tm_year = 123, day.tm_mday = 5 + days;
  const std::time_t t = timegm(&day);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", gmtime_r(&t, &day));
  return text;
}

void moveDate(const std::string& path, const std::string& date) {
  int status = 0;
  fitsfile* file = nullptr;
  fits_open_diskfile(&file, path.c_str(), READWRITE, &status);
  fits_update_key(file, TSTRING, "DATE-OBS", const_cast<char*>(date.c_str()), nullptr, &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0) << path;
}

// Copies the tables of every night under `from` into `to`: the index reads nothing else.
void copyTables(const std::string& from, const std::string& to) {
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    const std::string name = entry.path().filename();
    if (!std::regex_match(name, std::regex("tarnlook(\\.csv|-runlist\\.csv|\\.html)|.*-run\\.csv"))) continue;
    const fs::path target = to / fs::relative(entry.path(), from);
    fs::create_directories(target.parent_path());
    fs::copy_file(entry.path(), target);
  }
}

// Two demo nights converted and looked at: "plain", and "faults" with the
// generator's problems. The models of every night below.
class TarnindexModels : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    models_ = std::make_unique<e2e::ScopedTempDir>();
    for (const char* name : {"plain", "faults"}) {
      const bool faults = name[0] == 'f';
      std::vector<std::string> args{model(faults, "")};
      args.insert(args.end(), faults ? std::initializer_list<std::string>{"--faults", "--problems"}
                                     : std::initializer_list<std::string>{"--andor", "1"});
      ASSERT_EQ(e2e::runProgram(MKNIGHT_EXE, "/", "", args).exitStatus, 0);
      e2e::runProgram(TARNFITS_EXE, model(faults), "", {}, kTimeoutSeconds);
      ASSERT_EQ(e2e::runProgram(TARNLOOK_EXE, model(faults), "", {}, kTimeoutSeconds).exitStatus, 0);
    }
  }
  static void TearDownTestSuite() { models_.reset(); }
  static std::string model(bool faults, const char* folder = "/tarnfits") {
    return models_->path() + (faults ? "/faults" : "/plain") + folder;
  }
  // 40 nights, 18 days apart from 2023-01-05, in folders YEAR/DATE, every
  // fourth one a copy of the faults; with `frames`, of the frames, their
  // dates moved, else of the tables, dated by their folders.
  static std::string makeArchive(const std::string& root, bool frames) {
    for (int k = 0; k < 40; ++k) {
      const std::string date = dateAfter(18 * k), night = root + "/" + date.substr(0, 4) + "/" + date;
      fs::create_directories(night);
      for (const auto& entry : fs::directory_iterator(model(k % 4 == 3))) {
        const std::string name = entry.path().filename(), type = entry.path().extension();
        const bool table = name == "tarnlook.csv" || name == "tarnlook-runlist.csv" || name.find("-run.csv") != name.npos;
        if (frames ? type == ".fts" || name.find("tarnlook") == 0 : !table) continue;
        fs::copy_file(entry.path(), night + "/" + name);
        if (type == ".fit") moveDate(night + "/" + name, date);
      }
    }
    return root;
  }

  static std::unique_ptr<e2e::ScopedTempDir> models_;
};
std::unique_ptr<e2e::ScopedTempDir> TarnindexModels::models_;

// The 40 nights of frames, looked at by tarnindex --look.
class TarnindexE2e : public TarnindexModels {
 protected:
  static void SetUpTestSuite() {
    TarnindexModels::SetUpTestSuite();
    archive_ = std::make_unique<e2e::ScopedTempDir>();
    looked_ = tarnindex({"--look", makeArchive(archive(), true)});
  }
  static void TearDownTestSuite() { archive_.reset(), TarnindexModels::TearDownTestSuite(); }
  static std::string archive() { return archive_->path() + "/archive"; }

  static std::unique_ptr<e2e::ScopedTempDir> archive_;
  static e2e::RunResult looked_;
};
std::unique_ptr<e2e::ScopedTempDir> TarnindexE2e::archive_;
e2e::RunResult TarnindexE2e::looked_;

TEST_F(TarnindexE2e, LookedAtEveryNightAndHoldsTheirRowsAndFindsWhatPythonFinds) {
  EXPECT_EQ(looked_.exitStatus, 0) << looked_.err;
  EXPECT_EQ(looked_.out, "40 nights: 40 indexed (40 read), 0 not looked at yet, 0 passed over, 0 removed\n"
                         "Index: tarnindex.sqlite; page: tarnindex.html; table: tarnindex.csv\n");
  EXPECT_EQ(reference({archive(), "frames"}), "40 nights, ok\n");
  EXPECT_EQ(e2e::runProgram(kPython, "/", "", {"-c", "import sys; from astropy.table import Table; t = Table.read("
      "sys.argv[1], format='ascii.csv'); print(len(t), t['date'][0], t['night'][-1])", archive() + "/tarnindex.csv"},
      kTimeoutSeconds).out, "40 2023-01-05 2024/" + dateAfter(18 * 39) + "\n");
  const std::vector<std::vector<std::string>> queries = {
      {"2023-06-01", "2024-06-30", "OBJECT=M42", "FILTER=R,V", "fwhm_px<4.5"},
      {"2000-01-01", "2100-01-01", "object=M*", "DATA-TYP=OBJECT"},
      {"2000-01-01", "2100-01-01", "data-typ=BIAS", "Level_ADU>=650"},
      {"2024-01-01", "2100-01-01", "FLAGS=*flat*,*saturated*"},
      {"2000-01-01", "2100-01-01", "filter!=R", "data_typ=OBJECT", "sky_adu_per_s>6"}};
  for (const auto& query : queries) {
    std::vector<std::string> args{"find", "--root", archive(), "--from", query[0], "--to", query[1]};
    args.insert(args.end(), query.begin() + 2, query.end());
    const e2e::RunResult found = tarnindex(args);
    std::vector<std::string> python{archive(), "find"};
    python.insert(python.end(), query.begin(), query.end());
    const std::string expected = reference(python);
    EXPECT_EQ(found.out, expected) << query[2];
    EXPECT_NE(expected, "") << query[2] << " finds nothing: no test";
  }
}

TEST_F(TarnindexModels, KilledInsideANightKeepsThePreviousIndexAndTheNextRunCompletesIt) {
  e2e::ScopedTempDir dir;
  const std::string root = makeArchive(dir.file("r"), false);
  EXPECT_EQ(tarnindex({root}).exitStatus, 0);
  EXPECT_EQ(tarnindex({root}).out.substr(0, 30), "40 nights: 40 indexed (0 read)");
  const std::string a = root + "/2023/" + dateAfter(0), b = root + "/2023/" + dateAfter(18);
  fs::copy_file(root + "/2024/" + dateAfter(18 * 39) + "/tarnlook.csv", a + "/tarnlook.csv",
                fs::copy_options::overwrite_existing);
  fs::copy_file(a + "/tarnlook.csv", b + "/tarnlook.csv", fs::copy_options::overwrite_existing);
  fs::remove_all(root + "/2023/" + dateAfter(36));
  setenv("TARNINDEX_TEST_KILL_IN_NIGHT", "2", 1);
  const e2e::RunResult killed = tarnindex({root});
  unsetenv("TARNINDEX_TEST_KILL_IN_NIGHT");
  EXPECT_EQ(killed.signal, SIGKILL);
  EXPECT_EQ(reference({root, "frames"}), "differs 2023/" + dateAfter(18) + "\n40 nights, ok\n");
  EXPECT_EQ(tarnindex({"find", "--root", root, "file=t5_0001.fit"}).out.substr(0, root.size() + 17),
            root + "/2023/" + dateAfter(0) + "/");
  const e2e::RunResult completed = tarnindex({root});
  EXPECT_EQ(completed.out.substr(0, 42), "39 nights: 39 indexed (1 read), 0 not look");
  EXPECT_EQ(completed.out.substr(completed.out.find("passed over,")), "passed over, 1 removed\n"
            "Index: tarnindex.sqlite; page: tarnindex.html; table: tarnindex.csv\n");
  EXPECT_EQ(reference({root, "frames"}), "39 nights, ok\n");
}

TEST_F(TarnindexModels, ASecondRunWaitsForTheFirstThenSaysOneIsRunning) {
  e2e::ScopedTempDir dir;
  copyTables(model(false), dir.file("night"));
  const int held = ::open(dir.file("tarnindex.sqlite").c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const e2e::RunResult second = tarnindex({dir.path()});
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_EQ(second.err, "tarnindex: another tarnindex is running on this folder (" + dir.file("tarnindex.sqlite") +
                            " is in use); try again when it has ended\n");
  ::close(held);
  EXPECT_EQ(tarnindex({dir.path()}).exitStatus, 0);
}

TEST_F(TarnindexModels, BadNightsArePassedOverWithTheirReasonAndTheRestIsIndexed) {
  e2e::ScopedTempDir dir;
  const std::string root = dir.path(), good = "2023/" + dateAfter(0);
  for (const std::string& night : std::vector<std::string>{good, "cut", "copy", "2023-02-30x", "malformed"}) {
    copyTables(model(false), root + "/" + night);  // each dated by its page
  }
  fs::remove(root + "/2023-02-30x/tarnlook.html");
  const std::string table = e2e::readFile(root + "/cut/tarnlook.csv");
  e2e::writeFile(root + "/cut/tarnlook.csv", table.substr(0, table.size() - 30));
  e2e::writeFile(root + "/malformed/tarnlook.csv", table + "a.fit,\"M42\r\n");
  fs::create_directory_symlink("loop", root + "/loop");
  fs::create_directory_symlink(good, root + "/again");
  const e2e::RunResult r = tarnindex({root});
  EXPECT_EQ(r.out, "Passed over: 2023-02-30x: no date: tarnlook.html has no night's date and the folder's name is not a date\n"
                   "Passed over: again: the same night as " + good + "\n"
                   "Passed over: cut: tarnlook.csv: cut: the last line has no line end\n"
                   "Passed over: loop: the folder cannot be read: Too many levels of symbolic links\n"
                   "Passed over: malformed: tarnlook.csv: line " + std::to_string(std::count(table.begin(), table.end(), '\n') + 1) +
                   ": a quote is not closed\n"
                   "7 nights: 2 indexed (5 read), 0 not looked at yet, 5 passed over, 0 removed\n"
                   "Index: tarnindex.sqlite; page: tarnindex.html; table: tarnindex.csv\n");
  const std::string page = e2e::readFile(root + "/tarnindex.html");
  EXPECT_NE(page.find("<li>cut: tarnlook.csv: cut: the last line has no line end</li>"), page.npos);
  EXPECT_NE(page.find("<li>again: the same night as " + good + "</li>"), page.npos);
  EXPECT_NE(e2e::readFile(root + "/tarnindex.csv").find("\r\ncopy,2024-01-31,"), std::string::npos);
  EXPECT_EQ(tarnindex({root}).out, std::regex_replace(r.out, std::regex("5 read"), "0 read"));  // named again
}

TEST_F(TarnindexE2e, PageFitsPhoneAndLaptopAndLinksEveryNightAndYear) {
  const std::string root = archive();
  for (const std::string year : {"2023", "2024"}) {
    const std::string page = e2e::readFile(root + "/tarnindex-" + year + ".html");
    const std::regex link("href=\"([^\"]+)\"");
    int nights = 0;
    for (auto m = std::sregex_iterator(page.begin(), page.end(), link); m != std::sregex_iterator(); ++m) {
      EXPECT_TRUE(e2e::fileExists(root + "/" + (*m)[1].str())) << (*m)[1];
      nights += (*m)[1].str().find("/tarnlook.html") != std::string::npos;
    }
    EXPECT_EQ(nights, year == "2023" ? 21 : 19);
  }
  EXPECT_EQ(e2e::readFile(root + "/tarnindex.html").find("<strong>2024</strong><a href=\"tarnindex-2023.html\">"),
            e2e::readFile(root + "/tarnindex.html").find("<p class=\"years\">") + 17);
  if (!e2e::fileExists("/usr/bin/chromium") && std::getenv("TARNFITS_NO_SKIP")) FAIL() << "no chromium";
  if (!e2e::fileExists("/usr/bin/chromium")) GTEST_SKIP() << "no /usr/bin/chromium for the page";
  // overflow, width, charts in view, script b i, every row's date in view
  for (const int w : {420, 1400}) {
    EXPECT_EQ(e2e::probeInChromium(root + "/tarnindex.html", w, "[e.scrollWidth-e.clientWidth,innerWidth,[...q('svg')]"
        ".filter(s=>s.getBoundingClientRect().right<=e.clientWidth).length,q('script,b,i').length,[...q('td:first-child')]"
        ".filter(c=>c.getBoundingClientRect().right<=e.clientWidth).length]"), "0," + std::to_string(w) + ",7,1,19");
  }
}

TEST(TarnindexCli, HelpVersionAndWrongCommandLines) {
  e2e::ScopedTempDir dir;
  EXPECT_EQ(tarnindex({"--version"}).out, "tarnindex 1.0.0\n");
  EXPECT_EQ(tarnindex({"--help"}).out.substr(0, 17), "Usage: tarnindex ");
  const e2e::RunResult wrong = tarnindex({"--frobnicate"});
  EXPECT_EQ(wrong.exitStatus, 2);
  EXPECT_EQ(wrong.err, "tarnindex: unknown option --frobnicate\nTry 'tarnindex --help'.\n");
  const e2e::RunResult none = tarnindex({"find", "--root", dir.path(), "OBJECT=M42"});
  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_EQ(none.err, "tarnindex: " + dir.file("tarnindex.sqlite") +
                          ": No such file or directory (run tarnindex there first)\n");
  ASSERT_EQ(tarnindex({dir.path()}).exitStatus, 0);
  const e2e::RunResult term = tarnindex({"find", "--root", dir.path(), "fwhm<2"});
  EXPECT_EQ(term.exitStatus, 2);
  EXPECT_EQ(term.err, "tarnindex: 'fwhm<2': the index has no column fwhm\nTry 'tarnindex --help'.\n");
}

}  // namespace
