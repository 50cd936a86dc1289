#include "pipeline.h"

#include <sched.h>

#include <algorithm>
#include <functional>
#include <new>
#include <utility>

#include "camera_header.h"
#include "messages.h"

namespace {

// Entries checked, with their temporary output made, waiting for a worker.
constexpr int kEntriesReadyAhead = 2;

}  // namespace

int defaultEntriesInFlight() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
  return std::min(2, std::max(1, CPU_COUNT(&cpus)));
}

Pipeline::Pipeline(int entriesInFlight, int inputSampleBytes, RunRecord* record)
    : entriesInFlight_(std::clamp(entriesInFlight, 1, kMostEntriesInFlight)),
      inputSampleBytes_(inputSampleBytes),
      record_(record) {}

bool Pipeline::queue(Report report) {
  if (ended_) return false;
  const bool ends = report.endsRun();
  items_.push_back({std::move(report), nullptr});
  if (items_.size() == 1 || ends) return drain();
  return true;
}

// At the first entry: the main thread's buffer, then the workers' as far as
// memory and threads go. Without its own buffer the run cannot go on: the
// entry becomes the fatal report that says so, and its temporary goes.
bool Pipeline::takeOwnBuffer(std::unique_ptr<Job>& job) {
  if (ownBuffer_) return true;
  try {
    ownBuffer_ = std::make_unique<SampleBuffer>(largestImagePixels(), inputSampleBytes_,
                                                SampleBuffer::Pages::AtFirstImage);
  } catch (const std::bad_alloc&) {
    Report report = std::move(job->report);
    report.take(msg::memoryExhausted(job->output.outputName()), job->inputName);
    job.reset();
    queue(std::move(report));
    return false;
  }
  if (entriesInFlight_ > 1)
    entriesInFlight_ = std::max(1, workers_.start(entriesInFlight_, inputSampleBytes_));
  return true;
}

bool Pipeline::queue(std::unique_ptr<Job> job) {
  if (ended_ || !takeOwnBuffer(job)) return false;
  if (workers_.size() == 0) {
    job->transfer = transferSamples(job->input.get(), job->plan, *ownBuffer_, job->output);
    items_.push_back({Report(), std::move(job)});
    return drain();
  }
  // Two entries more than workers are handed over, so that a worker that
  // finishes finds the next entry ready while this thread commits.
  while (jobsQueued() >= entriesInFlight_ + kEntriesReadyAhead)
    if (!commitFront()) return false;
  Job& handed = *job;
  items_.push_back({Report(), std::move(job)});
  workers_.hand(handed);
  return true;
}

bool Pipeline::drain() {
  while (!items_.empty())
    if (!commitFront()) return false;
  return !ended_;
}

int Pipeline::jobsQueued() const {
  return static_cast<int>(
      std::count_if(items_.begin(), items_.end(), [](const Item& i) { return i.job != nullptr; }));
}

bool Pipeline::writes(const FileKey& file) const {
  for (const Item& item : items_)
    if (item.job && item.job->outputFile == file) return true;
  return false;
}

Outcome Pipeline::createOutput(const std::string& outputName, PendingOutput& out) {
  Outcome outcome = ::createOutput(outputName, out, leftovers_);
  if (outcome.isAccepted() || !failedForSpace(out.createError()) || !busy()) return outcome;
  // One at a time, every earlier entry would have renamed its output, and
  // so freed the older output's room, before this one was made.
  if (!drain()) return Outcome::fatal({});
  return ::createOutput(outputName, out, leftovers_);
}

// Delivers the front item: a report as it is; an entry once its transfer
// ended, with what its commit adds. Only here is the front item popped.
bool Pipeline::commitFront() {
  Item item = std::move(items_.front());
  items_.pop_front();
  Report report = std::move(item.report);
  if (Job* job = item.job.get()) {
    if (workers_.size() > 0 && !job->aloneAtItsTurn) workers_.waitUntilDone(*job);
    // A write that failed for want of room while other entries were in
    // flight may have failed for the room they took: it counts only when
    // it fails again alone. So does a temporary that found no room then.
    if (job->aloneAtItsTurn ||
        (!job->transfer.written && failedForSpace(job->transfer.error) && othersMayBeInFlight())) {
      writeAloneAgain(*job);
    } else {
      job->report.take(commitOutput(job->output, job->transfer, job->inputName),
                       job->inputName);
    }
    report = std::move(job->report);
  }
  // A log line that finds no room while later entries are in flight is
  // written again once they are dropped, as it would have been before them.
  bool dropped = false;
  std::function<void()> makeRoom;
  if (othersMayBeInFlight()) {
    makeRoom = [this, &dropped] {
      if (!dropped) dropLaterJobs();
      dropped = true;
    };
  }
  report.deliver(makeRoom);
  if (record_) record_->settle(report);
  if (report.endsRun()) {
    endRun();
  } else if (dropped) {
    restartDroppedJobs();
  }
  return !ended_;
}
