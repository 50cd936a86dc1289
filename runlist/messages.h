// Every text the programs print, in one place: what a newcomer reads beside
// the main loop to find any message. Refusals and fatal failures come as
// outcomes carrying their exact console text and error-log reason; plain
// texts come as strings. Nothing here prints.
#ifndef RUNLIST_MESSAGES_H
#define RUNLIST_MESSAGES_H

#include <string>

#include "outcome.h"
#include "records.h"

namespace msg {

// The night.
std::string runListMissing();  // fatal
std::string finished();
std::string directiveWithoutValue();

// The three questions, and the end of the answers (fatal).
enum class Question { Weather, Seeing, Observer };
std::string prompt(Question question);
std::string answersEnded();
std::string answersEndedCause();

// Why a run stopped: "<file>: <the OS's reason for `error`>".
std::string fileCause(const std::string& fileName, int error);
// The line after a stop's console message, on standard error.
std::string stopCause(const char* programName, const std::string& cause);
// The run record (run_record.h) could not be written.
std::string recordUnwritable(const std::string& fileName, int error);

// One entry, in the order of the checks.
Outcome inputMissing(const std::string& fileName);
// The same console text and log line for a name that reaches a folder.
Outcome inputIsFolder(const std::string& fileName);
Outcome entryLineInvalid(const std::string& fileName);
Outcome outputWouldOverwriteInput(const std::string& fileName);
std::string entryHeading(const std::string& fileName, const std::string& outputName);
// `error`: the errno of the failed open.
Outcome catalogueMissing(int error);
// The catalogue's line `line` (from 1), `text`, cannot be read.
Outcome catalogueBroken(int line, const std::string& text);
Outcome objectMissing(const std::string& objectName);
// The object's own catalogue line `line` (from 1) holds no whole position.
Outcome objectLineUnreadable(const std::string& objectName, int line);
Outcome dataTypeInvalid(int code);
Outcome diaphragmInvalid(int code);
Outcome clumpInvalid(int code);
Outcome headerTooShort();
Outcome imageSizeStrange();
// The camera's mode line, and the readout-time warning when it is unknown.
Outcome cameraRecognised(CameraMode mode, bool readTimeUnknown);
// tarnfits4 and tarnfits4s: a T5 or S5 file has no Andor header to edit.
Outcome notAndorFile(CameraMode mode);
std::string summaryLine(const ListEntry& entry, const CatalogueEntry& cat,
                        const ObservationRecord& rec);
Outcome headerCardTooLong(const std::string& fileName);
// `error`: the errno of the open, write, close or rename that failed.
Outcome outputUnopenable(const std::string& outputName, int error);
Outcome outputUnwritable(const std::string& outputName, int error);
Outcome memoryExhausted(const std::string& outputName);  // fatal
// The output is complete; its input ended early.
Outcome inputShort(const std::string& fileName);

// The command line.
std::string usage(const char* programName, const char* programText);
std::string version(const char* programName, const char* versionText);
std::string unknownArgument(const char* programName, const char* argument);
std::string unexpectedArgument(const char* programName, const char* argument);
std::string standardOutputUnwritable(const char* programName);
// The run stopped on an exception that no check expected.
std::string runStopped(const char* programName, const char* why);
std::string jobsInvalid(const char* programName, const char* value);
// The line after the one that names a wrong argument: "Try 'tarnfits --help'.".
std::string tryHelp(const char* programName);

}  // namespace msg

#endif  // RUNLIST_MESSAGES_H
