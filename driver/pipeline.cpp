#include "pipeline.h"

#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <system_error>
#include <utility>

#include "camera_header.h"
#include "messages.h"

namespace {

// A worker only moves samples: a small stack is plenty (the default is
// 8 MiB). The workers never allocate, and one malloc arena for the process
// keeps them from reserving arenas of their own; the night's virtual memory
// stays small.
constexpr std::size_t kWorkerStackBytes = 1024 * 1024;

// Entries checked, with their temporary output made, waiting for a worker.
constexpr int kEntriesReadyAhead = 2;

// Puts an input back at its samples, after its first block.
bool rewind(int input) {
  const off_t samples = static_cast<off_t>(kBlockLength);
  return ::lseek(input, samples, SEEK_SET) == samples;
}

void sizeWorkerThreads() {
  mallopt(M_ARENA_MAX, 1);
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return;
  if (pthread_attr_setstacksize(&attributes, kWorkerStackBytes) == 0)
    pthread_setattr_default_np(&attributes);
  pthread_attr_destroy(&attributes);
}

}  // namespace

int defaultEntriesInFlight() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
  return std::min(2, std::max(1, CPU_COUNT(&cpus)));
}

Pipeline::Pipeline(int entriesInFlight)
    : entriesInFlight_(std::clamp(entriesInFlight, 1, kMostEntriesInFlight)) {}

SampleBuffer& Pipeline::ownBuffer() {
  if (!ownBuffer_) ownBuffer_ = std::make_unique<SampleBuffer>(largestImagePixels());
  return *ownBuffer_;
}

Pipeline::~Pipeline() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    todo_.clear();
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

// Starts one worker for each entry in flight. Where the system gives fewer
// threads, fewer entries are in flight; where it gives none, the transfers
// run on the calling thread.
void Pipeline::startWorkers() {
  sizeWorkerThreads();
  for (int i = 0; i < entriesInFlight_; ++i) {
    buffers_.push_back(std::make_unique<SampleBuffer>(largestImagePixels()));
    try {
      workers_.emplace_back(&Pipeline::work, this, std::ref(*buffers_.back()));
    } catch (const std::system_error&) {
      buffers_.pop_back();
      break;
    }
  }
  entriesInFlight_ = std::max<int>(1, static_cast<int>(workers_.size()));
}

void Pipeline::work(SampleBuffer& buffer) {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return stopping_ || !todo_.empty(); });
    if (stopping_) return;
    Job* job = todo_.front();
    todo_.pop_front();
    job->taken = true;
    guard.unlock();
    const Transfer transfer = transferSamples(job->input.get(), job->plan, buffer, job->output);
    guard.lock();
    job->transfer = transfer;
    job->done = true;
    done_.notify_all();
  }
}

bool Pipeline::queue(Report report) {
  if (ended_) return false;
  const bool ends = report.endsRun();
  items_.push_back({std::move(report), nullptr});
  if (items_.size() == 1 || ends) return drain();
  return true;
}

bool Pipeline::queue(std::unique_ptr<Job> job) {
  if (ended_) return false;
  if (entriesInFlight_ > 1 && workers_.empty()) startWorkers();
  if (workers_.empty()) {
    job->transfer = transferSamples(job->input.get(), job->plan, ownBuffer(), job->output);
    job->done = true;
    items_.push_back({Report(), std::move(job)});
    return drain();
  }
  auto inFlight = [this] {
    return std::count_if(items_.begin(), items_.end(),
                         [](const Item& i) { return i.job != nullptr; });
  };
  // Two entries more than workers are handed over, so that a worker that
  // finishes finds the next entry ready while this thread commits.
  while (inFlight() >= entriesInFlight_ + kEntriesReadyAhead)
    if (!commitFront()) return false;
  Job* handed = job.get();
  items_.push_back({Report(), std::move(job)});
  {
    std::lock_guard<std::mutex> guard(lock_);
    todo_.push_back(handed);
  }
  wake_.notify_one();
  return true;
}

bool Pipeline::drain() {
  while (!items_.empty())
    if (!commitFront()) return false;
  return !ended_;
}

Outcome Pipeline::createOutput(const std::string& outputName, PendingOutput& out) {
  return ::createOutput(outputName, out, leftovers_);
}

bool Pipeline::writes(const std::string& name) const {
  for (const Item& item : items_)
    if (item.job && item.job->output.outputName() == name) return true;
  return false;
}

void Pipeline::waitUntilDone(Job& job) {
  std::unique_lock<std::mutex> guard(lock_);
  done_.wait(guard, [&job] { return job.done; });
}

// Delivers the first item: a report as it is; an entry once its transfer
// ended, with what its commit adds. A write that failed while other entries
// were in flight may have failed for want of the room they took: it counts
// only when it fails again alone.
bool Pipeline::commitFront() {
  Item item = std::move(items_.front());
  items_.pop_front();
  Report report = std::move(item.report);
  if (Job* job = item.job.get()) {
    waitUntilDone(*job);
    if (!job->transfer.written && entriesInFlight_ > 1) {
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
  if (entriesInFlight_ > 1) {
    makeRoom = [this, &dropped] {
      if (!dropped) dropLaterJobs();
      dropped = true;
    };
  }
  report.deliver(makeRoom);
  if (report.endsRun()) {
    endRun();
  } else if (dropped) {
    restartDroppedJobs();
  }
  return !ended_;
}

// Writes the entry again with nothing else in flight and commits it into
// its report: the later entries in flight are dropped (their temporary files
// removed) and started again after it.
void Pipeline::writeAloneAgain(Job& job) {
  dropLaterJobs();
  if (!job.report.take(startAgain(job), job.inputName)) return;
  job.transfer = transferSamples(job.input.get(), job.plan, ownBuffer(), job.output);
  job.report.take(commitOutput(job.output, job.transfer, job.inputName), job.inputName);
  if (!job.report.endsRun()) restartDroppedJobs();
}

// Puts a dropped entry back at its samples with a new temporary file. An
// input that cannot be read again (a pipe) cannot be written again: its
// first failure stands.
Outcome Pipeline::startAgain(Job& job) {
  const std::string outputName = job.output.outputName();
  job.output.discard();
  if (!rewind(job.input.get())) return msg::outputUnwritable(outputName);
  return createOutput(outputName, job.output);
}

// Waits for every later transfer to end and removes its temporary file.
void Pipeline::dropLaterJobs() {
  std::unique_lock<std::mutex> guard(lock_);
  todo_.clear();
  for (Item& item : items_) {
    if (!item.job) continue;
    Job& later = *item.job;
    if (later.taken) done_.wait(guard, [&later] { return later.done; });
    later.taken = later.done = false;
    later.output.discard();
  }
}

// Starts the dropped transfers again, in order; one whose output can no
// longer be made (or whose input cannot be read again) becomes its fatal
// report.
void Pipeline::restartDroppedJobs() {
  for (Item& item : items_) {
    if (!item.job) continue;
    Job& later = *item.job;
    if (!later.report.take(startAgain(later), later.inputName)) {
      item.report = std::move(later.report);
      item.job.reset();
      continue;
    }
    std::lock_guard<std::mutex> guard(lock_);
    todo_.push_back(&later);
  }
  wake_.notify_all();
}

// The run ends: nothing queued after the item that ended it shows, logs or
// stays. Transfers under way finish first, then their temporaries go.
void Pipeline::endRun() {
  ended_ = true;
  std::unique_lock<std::mutex> guard(lock_);
  todo_.clear();
  for (Item& item : items_)
    if (item.job && item.job->taken) done_.wait(guard, [&item] { return item.job->done; });
  guard.unlock();
  items_.clear();
}
