// The observation batch driver shared by tarnfits, tarnfits4 and tarnfits4s:
// run list and run settings, object catalogue, camera header reader,
// mid-exposure time and the main loop. The programs differ only in their
// DriverProfile.
#ifndef DRIVER_DRIVER_H
#define DRIVER_DRIVER_H

#include <array>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

// ---------------------------------------------------------------------------
// Records

// One run: the answers to the three questions, set by directives or prompts.
struct RunSettings {
  std::string weather;
  float seeing = 0.0f;
  std::string observer;
  bool weatherSet = false;
  bool seeingSet = false;
  bool observerSet = false;
};

// One entry line of the run list, with the values derived from it.
struct ListEntry {
  std::string fileName;  // lower case once read
  std::string objectName;
  int dataType = 0;
  float hwpAngle = 0.0f;
  int diaphragm = 0;
  float slitWidth = 0.0f;
  int clump = 0;
  std::string filter;

  std::string dataTypeName;
  std::string diaphragmName;
  std::string clumpName;
  std::string filterName;
  std::string outputName;
  // The name under which the input opened (the lower- or upper-case form);
  // the writers reopen the input under this name.
  std::string openedName;
};

// One object catalogue line.
struct CatalogueEntry {
  std::string name;
  double equinox = 0.0;     // years
  double raRadians = 0.0;   // at the equinox
  double decRadians = 0.0;  // at the equinox, negative south
};

enum class CameraMode { T5, S5, Andor };

// How a program reads an Andor header.
enum class AndorRule {
  Full,        // tarnfits: keep cards 6-16, read binning, exposure, ...
  KeepTo36,    // tarnfits4: keep cards 6-36, read no values
  KeepTo30,    // tarnfits4s: keep cards 6-30, read no values
};

constexpr std::size_t kCardLength = 80;     // bytes of a header card
constexpr std::size_t kBlockLength = 2880;  // bytes of a FITS block
constexpr std::size_t kCardsPerBlock = 36;

struct ObservationRecord {
  CameraMode cameraMode = CameraMode::T5;
  // savedCards[n] is input card n (1..36), exactly 80 bytes as read; an
  // empty string means the card was not kept. Index 0 is unused.
  std::array<std::string, kCardsPerBlock + 1> savedCards;
  std::string detectorName;
  int pixelCount = 0;
  int binning1 = 1;
  int binning2 = 1;
  double exposureSeconds = 0.0;
  int startYear = 0, startMonth = 0, startDay = 0;  // JST
  int startHour = 0, startMinute = 0, startSecond = 0;
  int preGain = 0, postGain = 0, offsetSetting = 0;
  std::string adcSpeed;
  float ccdTemperature = 0.0f;
  std::optional<float> gain;  // Andor only; none for an unknown readout time

  // Set by computeMidExposure.
  double midMjd = 0.0;  // UT
  int midYear = 0, midMonth = 0, midDay = 0;
  int midHour = 0, midMinute = 0, midSecond = 0;
  double epochYear = 0.0;
  double raApparent = 0.0;
  double decApparent = 0.0;
};

// A writer produces the output of one accepted entry. It returns true when
// the entry is converted (the driver then records its line as the last
// converted line) and false when it skipped the entry (message and log line
// already given). Fatal failures throw FatalExit.
using Writer = bool (*)(const ListEntry&, const RunSettings&,
                        const CatalogueEntry&, const ObservationRecord&);

struct DriverProfile {
  const char* programName;
  const char* usageText;  // what the program does, for --help
  const char* bannerLine1;
  const char* bannerLine2;
  AndorRule andorRule;
  Writer writer;
};

extern const DriverProfile kTarnfitsProfile;
extern const DriverProfile kTarnfits4Profile;
extern const DriverProfile kTarnfits4sProfile;

// Thrown after a fatal message has been printed; the run ends with status 1.
// Every open file is closed by its owner while the exception passes.
struct FatalExit {
  int status = 1;
};

// ---------------------------------------------------------------------------
// Run list (runlist.cpp)

// Reads the next piece of the run list: one line with its line end, or the
// first 99 characters of a longer line (its rest is the next piece). The
// piece ends at a NUL byte, as a C string would. False at the end of the file.
bool readListPiece(std::FILE* list, std::string& piece);

enum class LineKind { Ignored, Directive, Entry };

// What the main loop does with a piece, given the last converted line: an
// equal line, a line of at most one character or of white space only is
// ignored; a first word "#" makes a directive; anything else is an entry.
LineKind classifyLine(const std::string& line, const std::string& lastConverted);

// Applies a directive line ("# KEYWORD value") to the settings. A recognised
// keyword without a value prints a warning and changes nothing.
void applyDirective(const std::string& line, RunSettings& settings);

// Asks, in the order weather, seeing, observer, for each setting still unset,
// reading the answers word by word from `answers`. End of input is fatal.
void promptForSettings(RunSettings& settings, std::FILE* answers);

// Reads the eight fields of an entry line as "%s %s %d %f %d %f %d %s" reads
// them; returns how many were read (fields after the first failure are left
// as they were).
int parseEntryLine(const std::string& line, ListEntry& entry);

// The input name with its last three characters replaced by "fit".
std::string outputNameFor(const std::string& fileName);

// Checks the data type, diaphragm and clump codes in this order and sets
// their names; at the first bad code prints the message, logs it and
// returns false.
bool checkEntryCodes(ListEntry& entry);

// "0" is NO_FILTER, "1" is GT, anything else stands as written.
std::string filterNameFor(const std::string& filter);

// ---------------------------------------------------------------------------
// Object catalogue (catalogue.cpp)

// One catalogue line as "%s %lf %2d %2d %lf %1s%2d %2d %lf" reads it.
struct CatalogueLine {
  int fields = 0;  // how many were read, 0 to 9
  std::string name;
  double equinox = 0.0;
  int raHours = 0, raMinutes = 0;
  double raSeconds = 0.0;
  char sign = 0;
  int decDegrees = 0, decMinutes = 0;
  double decSeconds = 0.0;
};
CatalogueLine scanCatalogueLine(const std::string& line);

// Position of a complete catalogue line in radians.
CatalogueEntry catalogueEntryFrom(const CatalogueLine& line);

enum class LookupResult { Found, Missing, Broken };

// Searches an open catalogue from its current position for objectName: the
// first complete line of that name wins; lines with fewer than six fields are
// passed over; a line with a sign field that is not "+" or "-", or whose
// fields stop after the sign, makes the catalogue Broken.
LookupResult searchCatalogue(std::FILE* catalogue, const std::string& objectName,
                             CatalogueEntry& found);

// Opens "object.lst" (or "OBJECT.LST") and looks the entry's object up.
// Missing: prints "CANNOT FIND", logs with fileName, returns nothing.
// Unopenable or broken catalogue: prints the message, throws FatalExit.
std::optional<CatalogueEntry> lookUpObject(const std::string& objectName,
                                           const std::string& fileName);

// ---------------------------------------------------------------------------
// Camera header (camera_header.cpp)

struct HeaderParse {
  bool recognised = false;
  bool readTimeUnknown = false;  // Andor, full reading only
};

// Reads the camera part of `rec` from a 2880-byte header block by the rules
// of its camera set-up and the program's Andor rule. Prints nothing.
HeaderParse parseCameraHeader(const std::string& block, AndorRule rule,
                              ObservationRecord& rec);

// Reads the header block of the open input (the caller closes it), prints the
// mode line (and the readout-time warning). A file shorter than one block
// or an unknown image size is reported, logged with fileName and gives false.
bool readCameraHeader(std::FILE* input, AndorRule rule,
                      const std::string& fileName, ObservationRecord& rec);

// ---------------------------------------------------------------------------
// Mid-exposure time and console report (mid_exposure.cpp)

// Sets midMjd (UT) and its calendar fields, epochYear and the apparent
// position from the JST start, the exposure and the catalogue position.
void computeMidExposure(ObservationRecord& rec, const CatalogueEntry& cat);

// Prints the entry's summary line.
void printSummaryLine(const ListEntry& entry, const CatalogueEntry& cat,
                      const ObservationRecord& rec);

// ---------------------------------------------------------------------------
// Main loop (main_loop.cpp)

// Runs a whole night in the current folder: banner, run list, entries,
// "---- FINISHED ----". Prompts read from `answers`. Returns the exit status.
int runDriver(const DriverProfile& profile, std::FILE* answers);

// The programs' main: without arguments runs the night (runDriver on standard
// input); "--help"/"-h" and "--version" print and give 0 (1 when standard
// output cannot be written); anything else names the wrong argument, prints
// the usage on standard error and gives 2 without touching a file.
int runMain(int argc, char** argv, const DriverProfile& profile);

#endif  // DRIVER_DRIVER_H
