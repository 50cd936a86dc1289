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

// One entry, in the order of the checks.
Outcome inputMissing(const std::string& fileName);
Outcome entryLineInvalid(const std::string& fileName);
Outcome outputWouldOverwriteInput(const std::string& fileName);
std::string entryHeading(const std::string& fileName, const std::string& outputName);
Outcome catalogueMissing();
Outcome catalogueBroken();
Outcome objectMissing(const std::string& objectName);
Outcome dataTypeInvalid(int code);
Outcome diaphragmInvalid(int code);
Outcome clumpInvalid(int code);
Outcome headerTooShort();
Outcome imageSizeStrange();
// The camera's mode line, and the readout-time warning when it is unknown.
Outcome cameraRecognised(CameraMode mode, bool readTimeUnknown);
std::string summaryLine(const ListEntry& entry, const CatalogueEntry& cat,
                        const ObservationRecord& rec);
Outcome headerCardTooLong(const std::string& fileName);
Outcome outputUnopenable(const std::string& outputName);
Outcome outputUnwritable(const std::string& outputName);
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
