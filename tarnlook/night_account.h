// The night's account: which inputs of the run list left a frame that
// tarnlook drew, and what became of the others. Composed here from what
// night_account_file.h reads (the run list, the error log) and what the
// run drew.
#ifndef TARNLOOK_NIGHT_ACCOUNT_H
#define TARNLOOK_NIGHT_ACCOUNT_H

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tarnlook {

constexpr const char* kAccountTableName = "tarnlook-runlist.csv";
constexpr const char* kConverted = "converted";
constexpr const char* kNoOutput = "no output";

// An input of the run list, as the converters name it and its output.
struct RunListInput {
  std::string input;   // in lower case, as the converters open it first
  std::string output;  // the name of its output; empty when it has none
};

struct AccountLine {
  std::string input, output;
  std::string status;  // kConverted, or what happened
};

struct NightAccount {
  int converted = 0;               // the inputs whose output was drawn
  std::vector<AccountLine> lines;  // every input once, in run-list order
};

// The account of `inputs` (an entry line each, in run-list order; an input
// named again counts once, at its first line). An input is converted when
// its output is among `drawn`; otherwise its status is, the first that
// applies: tarnlook's reason for passing the output over (`passedOver`,
// output to reason), the last reason the error log gives for the input
// (`logReasons`, input to reason), or kNoOutput.
NightAccount accountOf(const std::vector<RunListInput>& inputs, const std::set<std::string>& drawn,
                       const std::map<std::string, std::string>& passedOver,
                       const std::map<std::string, std::string>& logReasons);

// "13 of 15 run-list inputs converted".
std::string accountSummary(const NightAccount& account);

}  // namespace tarnlook

#endif  // TARNLOOK_NIGHT_ACCOUNT_H
