// What a failure for want of room does to the entries in flight. One at a
// time, each earlier entry has renamed its output, and so freed the older
// output's room, before the next output is made; with entries in flight the
// later ones' temporaries may hold that room. So a write or a log line that
// fails for room is tried again alone: the later entries are dropped (their
// temporaries removed) and started again after it.
//
// The rule that keeps a run from hanging: a dropped job is either handed to
// the workers again or turned into its fatal report before commitFront
// reaches it; or the run ends.
#include <unistd.h>

#include "messages.h"
#include "pipeline.h"

namespace {

// Puts an input back at its samples, after its first block.
bool rewind(int input) {
  const off_t samples = static_cast<off_t>(kBlockLength);
  return ::lseek(input, samples, SEEK_SET) == samples;
}

}  // namespace

// Writes the entry again with nothing else in flight and commits it into
// its report.
void Pipeline::writeAloneAgain(Job& job) {
  dropLaterJobs();
  if (job.report.take(startAgain(job), job.inputName)) {
    job.transfer = transferSamples(job.input.get(), job.plan, *ownBuffer_, job.output);
    job.report.take(commitOutput(job.output, job.transfer, job.inputName), job.inputName);
  }
  if (!job.report.endsRun()) restartDroppedJobs();
}

// Puts a dropped entry back at its samples with a new temporary file. An
// input that cannot be read again (a pipe) cannot be written again: its
// first failure stands.
Outcome Pipeline::startAgain(Job& job) {
  const std::string outputName = job.output.outputName();
  job.output.discard();
  if (!rewind(job.input.get())) return msg::outputUnwritable(outputName, errno);
  return ::createOutput(outputName, job.output, leftovers_);
}

// Stops every later transfer (waiting for those under way) and removes its
// temporary file.
void Pipeline::dropLaterJobs() {
  workers_.takeBackAll();
  for (Item& item : items_)
    if (item.job) item.job->output.discard();
}

// Starts the dropped transfers again, in order. One whose temporary finds
// no room while earlier entries are still in flight waits for its turn, as
// one at a time it would have been made only then; one whose output cannot
// be made otherwise (or whose input cannot be read again) becomes its fatal
// report.
void Pipeline::restartDroppedJobs() {
  for (Item& item : items_) {
    if (!item.job) continue;
    Job& later = *item.job;
    Outcome again = startAgain(later);
    later.aloneAtItsTurn = !again.isAccepted() && failedForSpace(later.output.createError());
    if (later.aloneAtItsTurn) continue;
    if (!later.report.take(std::move(again), later.inputName)) {
      item.report = std::move(later.report);
      item.job.reset();
      continue;
    }
    workers_.hand(later);
  }
}

// The run ends: nothing queued after the item that ended it shows, logs or
// stays. Transfers under way finish first, then their temporaries go.
void Pipeline::endRun() {
  ended_ = true;
  workers_.takeBackAll();
  items_.clear();
}
