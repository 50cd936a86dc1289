#include "report.h"

#include "files.h"
#include "obslib.h"

void Report::say(const std::string& text) {
  if (!text.empty()) items_.push_back({text, {}, {}});
}

bool Report::take(const Outcome& outcome, const std::string& fileName) {
  if (!outcome.text.empty() || !outcome.logReason.empty())
    items_.push_back({outcome.text, outcome.logReason.empty() ? std::string() : fileName,
                      outcome.logReason});
  if (outcome.verdict == Verdict::Refused)
    refusal_ = outcome.recordReason.empty() ? outcome.logReason : outcome.recordReason;
  if (outcome.verdict == Verdict::Fatal) {
    endsRun_ = true;
    cause_ = outcome.cause;
  }
  return outcome.isAccepted();
}

std::string Report::warnings() const {
  const std::string start = "# Warning! ";
  std::string found;
  for (const Item& item : items_) {
    for (std::size_t at = 0; at < item.text.size();) {
      std::size_t end = item.text.find('\n', at);
      if (end == std::string::npos) end = item.text.size();
      if (item.text.compare(at, start.size(), start) == 0)
        found += (found.empty() ? "" : "; ") +
                 item.text.substr(at + start.size(), end - at - start.size());
      at = end + 1;
    }
  }
  return found;
}

void Report::deliver(const std::function<void()>& makeRoom) const {
  for (const Item& item : items_) {
    std::fputs(item.text.c_str(), stdout);
    if (item.logReason.empty()) continue;
    if (makeRoom && errlistquiet(item.logName.c_str(), item.logReason.c_str())) continue;
    if (makeRoom) makeRoom();
    errlist(item.logName.c_str(), item.logReason.c_str());
  }
}

void show(const std::string& text) { std::fputs(text.c_str(), stdout); }

void showError(const std::string& text) { std::fputs(text.c_str(), stderr); }

std::optional<std::string> ask(const std::string& prompt, std::FILE* answers) {
  show(prompt);
  std::fflush(stdout);
  std::string word;
  int c = std::getc(answers);
  while (c != EOF && isBlank(static_cast<char>(c))) c = std::getc(answers);
  while (c != EOF && !isBlank(static_cast<char>(c))) {
    word.push_back(static_cast<char>(c));
    c = std::getc(answers);
  }
  if (word.empty()) return std::nullopt;
  return word;
}

bool finishOutput() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }
