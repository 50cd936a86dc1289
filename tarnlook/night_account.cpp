// The night's account, composed.
#include "night_account.h"

namespace tarnlook {

NightAccount accountOf(const std::vector<RunListInput>& inputs, const std::set<std::string>& drawn,
                       const std::map<std::string, std::string>& passedOver,
                       const std::map<std::string, std::string>& logReasons) {
  NightAccount account;
  std::set<std::string> seen;
  for (const RunListInput& in : inputs) {
    if (!seen.insert(in.input).second) continue;
    AccountLine line{in.input, in.output, kNoOutput};
    const auto passed = passedOver.find(in.output);
    const auto logged = logReasons.find(in.input);
    if (!in.output.empty() && drawn.count(in.output) != 0) {
      line.status = kConverted;
      ++account.converted;
    } else if (!in.output.empty() && passed != passedOver.end()) {
      line.status = passed->second;
    } else if (logged != logReasons.end()) {
      line.status = logged->second;
    }
    account.lines.push_back(line);
  }
  return account;
}

std::string accountSummary(const NightAccount& account) {
  return std::to_string(account.converted) + " of " + std::to_string(account.lines.size()) +
         " run-list inputs converted";
}

}  // namespace tarnlook
