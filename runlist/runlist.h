// The run list: its pieces and lines, the directives and answers that make
// the run's settings, and the fields of an entry line.
#ifndef RUNLIST_RUNLIST_H
#define RUNLIST_RUNLIST_H

#include <cstdio>
#include <optional>
#include <string>

#include "messages.h"
#include "outcome.h"
#include "records.h"

// Reads the next piece of the run list: one line with its line end, or the
// first 99 characters of a longer line (its rest is the next piece). The
// piece ends at a NUL byte, as a C string would. False at the end of the file.
bool readListPiece(std::FILE* list, std::string& piece);
// The same; `lineEnded` tells whether the piece ended its physical line.
bool readListPiece(std::FILE* list, std::string& piece, bool& lineEnded);

enum class LineKind { Ignored, Directive, Entry };

// What the main loop does with a piece, given the last converted line: an
// equal line, a line of at most one character or of white space only is
// ignored; a first word "#" makes a directive; anything else is an entry.
LineKind classifyLine(const std::string& line, const std::string& lastConverted);

// Applies a directive line ("# KEYWORD value") to the settings. A recognised
// keyword without a value changes nothing; the returned warning is then
// shown. Returns "" otherwise.
std::string applyDirective(const std::string& line, RunSettings& settings);

// The question still to ask, in the order weather, seeing, observer; none
// when every setting is set.
std::optional<msg::Question> nextQuestion(const RunSettings& settings);
// Takes an answer word: a weather choice 1 to 4, a seeing number, any
// observer word. An answer that does not fit leaves the setting unset, so
// the question comes again.
void takeAnswer(msg::Question question, const std::string& word, RunSettings& settings);

// Reads the eight fields of an entry line as "%s %s %d %f %d %f %d %s" reads
// them; returns how many were read (fields after the first failure are left
// as they were).
int parseEntryLine(const std::string& line, ListEntry& entry);

// Whether an input name has an output of its own: three characters at
// least, and not ending in "fit" already (that output would be the input).
bool hasOwnOutput(const std::string& fileName);

// The input name with its last three characters replaced by "fit".
std::string outputNameFor(const std::string& fileName);

// Checks the data type, diaphragm and clump codes in this order and sets
// their names; refuses the entry at the first bad code.
Outcome checkEntryCodes(ListEntry& entry);

// "0" is NO_FILTER, "1" is GT, anything else stands as written.
std::string filterNameFor(const std::string& filter);

#endif  // RUNLIST_RUNLIST_H
