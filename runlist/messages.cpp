#include "messages.h"

#include <cstdarg>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "night_files.h"
#include "obslib.h"

namespace msg {

namespace {


// printf into a string; every caller passes a literal format, which the
// compiler checks against the arguments.
__attribute__((format(printf, 1, 2))) std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  return std::string(text.data(), text.size() - 1);
}

}  // namespace

std::string runListMissing() { return formatted("CANNOT OPEN LIST-FILE (%s)\n", kRunListName); }
std::string finished() { return "---- FINISHED ----\n"; }
std::string directiveWithoutValue() { return "# Warning! Directive without value ignored\n"; }

std::string prompt(Question question) {
  switch (question) {
    case Question::Weather:
      return "WEATHER (1:CLEAR 2:FAIR 3:HAZY 4:CLOUDY) >> ";
    case Question::Seeing:
      return "SEEING SIZE (arcsec) >> ";
    case Question::Observer:
      break;
  }
  return "WHO ARE YOU? >> ";
}
std::string answersEnded() { return "\nCANNOT READ ANSWER (end of input)\n"; }
std::string answersEndedCause() { return "standard input: end of input at a question"; }

std::string fileCause(const std::string& fileName, int error) {
  return fileName + ": " + (error != 0 ? std::strerror(error) : "unknown error");
}
std::string stopCause(const char* programName, const std::string& cause) {
  return formatted("%s: %s\n", programName, cause.c_str());
}
std::string recordUnwritable(const std::string& fileName, int error) {
  return formatted("# Warning! Cannot write the run record (%s)\n",
                   fileCause(fileName, error).c_str());
}

Outcome inputMissing(const std::string& fileName) {
  return Outcome::refused(formatted("Cannot open. (%s)  Skipped\n", fileName.c_str()), "open");
}
Outcome inputIsFolder(const std::string& fileName) {
  Outcome outcome = inputMissing(fileName);
  outcome.recordReason = "a folder, not a camera file";
  return outcome;
}
Outcome entryLineInvalid(const std::string& fileName) {
  return Outcome::refused(formatted("ERROR in entry line. (%s)  Skipped\n", fileName.c_str()),
                          "entry line is not valid");
}
Outcome outputWouldOverwriteInput(const std::string& fileName) {
  return Outcome::refused(
      formatted("Output would overwrite the input. (%s)  Skipped\n", fileName.c_str()),
      "output name equals input name");
}
std::string entryHeading(const std::string& fileName, const std::string& outputName) {
  return formatted("%s --> %s  ", fileName.c_str(), outputName.c_str());
}
Outcome catalogueMissing(int error) {
  return Outcome::fatal(formatted("Cannot open (%s)\n", kCatalogueName),
                        fileCause(kCatalogueName, error));
}
Outcome catalogueBroken(int line, const std::string& text) {
  return Outcome::fatal(formatted("FILE READ ERROR (%s)\n", kCatalogueName),
                        formatted("%s:%d: cannot read \"%s\"", kCatalogueName, line, text.c_str()));
}
Outcome objectMissing(const std::string& objectName) {
  return Outcome::refused(formatted("CANNOT FIND '%s'.  Skipped\n", objectName.c_str()),
                          "OBJECT not find");
}
Outcome objectLineUnreadable(const std::string& objectName, int line) {
  return Outcome::refused(
      formatted("CANNOT READ '%s' (%s line %d).  Skipped\n", objectName.c_str(), kCatalogueName,
                line),
      "OBJECT line unreadable",
      formatted("the catalogue line of this object cannot be read (%s line %d)", kCatalogueName,
                line));
}
Outcome dataTypeInvalid(int code) {
  return Outcome::refused(formatted("ERROR in DATA-TYPE. (%d) Skipped\n", code),
                          "DATA-TYPE is not valid");
}
Outcome diaphragmInvalid(int code) {
  return Outcome::refused(formatted("ERROR in Diaphragm type. (%d) Skipped\n", code),
                          "Diaphragm type is not valid");
}
Outcome clumpInvalid(int code) {
  return Outcome::refused(formatted("ERROR in CLUMP TYPE. (%d) Skipped\n", code),
                          "CLUMP type is not valid");
}
Outcome headerTooShort() {
  return Outcome::refused("FITS header is too short... Skip.\n", "FITS header is too short");
}
Outcome imageSizeStrange() {
  return Outcome::refused("FITS NAXIS values are strange... Skip.\n",
                          "FITS NAXIS values are strange...");
}
Outcome cameraRecognised(CameraMode mode, bool readTimeUnknown) {
  std::string text;
  switch (mode) {
    case CameraMode::T5:
      text = "(T5 RUVUZOR mode)\n";
      break;
    case CameraMode::S5:
      text = "(S5 RUVUZOR mode)\n";
      break;
    case CameraMode::Andor:
      text = "(Andor CCD mode)\n";
      break;
  }
  if (readTimeUnknown) text += "# Warning! Cannot read READTIME\n";
  return Outcome::accepted(text);
}
Outcome notAndorFile(CameraMode mode) {
  return Outcome::refused(mode == CameraMode::S5 ? "Not an Andor file (S5 RUVUZOR mode)... Skip.\n"
                                                 : "Not an Andor file (T5 RUVUZOR mode)... Skip.\n",
                          "not an Andor file");
}
std::string summaryLine(const ListEntry& entry, const CatalogueEntry& cat,
                        const ObservationRecord& rec) {
  // fitsra and fitsdec write different result areas: both texts stay valid.
  const char* ra = fitsra(cat.raRadians);
  const char* dec = fitsdec(cat.decRadians);
  return formatted("%10s (RA=%s DEC=%s %6.1f) %10s  %04d-%02d-%02d %02d:%02d:%02d\n",
                   entry.objectName.c_str(), ra, dec, cat.equinox,
                   entry.dataTypeName.c_str(), rec.midYear, rec.midMonth, rec.midDay,
                   rec.midHour, rec.midMinute, rec.midSecond);
}
Outcome headerCardTooLong(const std::string& fileName) {
  return Outcome::refused(formatted("Header card too long. (%s)  Skipped\n", fileName.c_str()),
                          "header card too long");
}
Outcome outputUnopenable(const std::string& outputName, int error) {
  return Outcome::fatal(formatted("Cannot open. (%s)\n", outputName.c_str()),
                        fileCause(outputName, error));
}
Outcome outputUnwritable(const std::string& outputName, int error) {
  return Outcome::fatal(formatted("Cannot write. (%s)\n", outputName.c_str()),
                        fileCause(outputName, error));
}
Outcome memoryExhausted(const std::string& outputName) {
  return Outcome::fatal(formatted("Out of memory. (%s)\n", outputName.c_str()),
                        fileCause(outputName, ENOMEM));
}
Outcome inputShort(const std::string& fileName) {
  return Outcome::accepted(formatted("# Warning! Input data is short (%s)\n", fileName.c_str()),
                           "input data is short");
}

// What every program shares after its own paragraph: the files of the night
// folder, the questions and the exit statuses.
std::string usage(const char* programName, const char* programText) {
  return formatted("Usage: %s [-j N | --jobs N]\n       %s -h | --help\n       %s --version\n\n",
                   programName, programName, programName) +
         programText +
         "\n"
         "Run it in the night's folder. There it reads\n"
         "  tarnlist.dat   the run list (or TARNLIST.DAT): \"# WEATHER\", \"# SEEING\"\n"
         "                 and \"# OBSERVER\" lines, then one line per camera file:\n"
         "                 FILE OBJECT TYPE HWP DIAPHRAGM SLIT CLUMP FILTER\n"
         "  object.lst     the object catalogue (or OBJECT.LST), one object a line:\n"
         "                 NAME EQUINOX HH MM SS.S +DD MM SS.S\n"
         "  the camera files named in the run list\n"
         "and writes there\n"
         "  *.fit          one output per converted file, named as the input with\n"
         "                 its last three characters replaced by \"fit\"; an existing\n"
         "                 output is overwritten\n"
         "  tarnfits.log   the error log: one line added for every file skipped or\n"
         "                 read short\n"
         "  " + std::string(programName) +
         "-run.csv\n"
         "                 the record of this program's last run: a CSV row per\n"
         "                 entry line and one for the run, with how it ended\n"
         "The weather, seeing and observer that the run list does not set are asked\n"
         "on the terminal (the answers may also come from standard input).\n"
         "\n"
         "  -j, --jobs N   entries in flight, 1 to 8: while one file's samples are\n"
         "                 written, the next entry is read. Default: 2, or 1 on a\n"
         "                 single CPU. Use 1 for a spinning disk or a network\n"
         "                 folder, and when several nights run side by side. The\n"
         "                 console, the log and every output are the same for any N.\n"
         "\n"
         "Exit status:\n"
         "  0  the run ended with \"---- FINISHED ----\"\n"
         "  1  the run stopped: run list or catalogue unusable, an output that\n"
         "     cannot be written, end of input at a question; the cause follows\n"
         "     on standard error\n"
         "  2  wrong command line; no file was read or written\n" +
         formatted("\nManual: man %s\n", programName);
}
std::string version(const char* programName, const char* versionText) {
  return formatted("%s %s\n", programName, versionText);
}
std::string unknownArgument(const char* programName, const char* argument) {
  return formatted("%s: unknown argument '%s'\n", programName, argument);
}
std::string unexpectedArgument(const char* programName, const char* argument) {
  return formatted("%s: unexpected argument '%s'\n", programName, argument);
}
std::string jobsInvalid(const char* programName, const char* value) {
  return formatted("%s: -j and --jobs take a number of entries in flight from 1 to 8, not '%s'\n",
                   programName, value);
}
std::string tryHelp(const char* programName) {
  return formatted("Try '%s --help'.\n", programName);
}
std::string standardOutputUnwritable(const char* programName) {
  return formatted("%s: cannot write to standard output\n", programName);
}
std::string runStopped(const char* programName, const char* why) {
  return formatted("%s: stopped: %s\n", programName, why);
}

}  // namespace msg
