// The entries of a night in flight. While the samples of one entry move on a
// worker thread, the main loop goes on with the next run-list lines; what
// each line shows, logs and renames is applied in run-list order, exactly
// as if the lines were handled one at a time.
#ifndef DRIVER_PIPELINE_H
#define DRIVER_PIPELINE_H

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "output_stage.h"
#include "report.h"

// An entry whose checks passed and whose temporary output exists: all that
// is left is to move its samples and commit.
struct Job {
  Report report;          // the entry's texts up to its summary line
  std::string inputName;  // for the short-data warning and its log line
  UniqueFd input;         // positioned at the samples
  OutputPlan plan;
  PendingOutput output;
  Transfer transfer;      // the worker's result
  bool taken = false;     // a worker has it; guarded by the pipeline's lock
  bool done = false;      // its transfer ended; guarded by the pipeline's lock
};

// The number of entries in flight when the observer does not say: two, or
// one where this process may run on one CPU only.
int defaultEntriesInFlight();
constexpr int kMostEntriesInFlight = 8;

class Pipeline {
 public:
  // With one entry in flight every transfer runs on the calling thread when
  // it is queued, and every report is delivered at once.
  explicit Pipeline(int entriesInFlight);
  ~Pipeline();  // stops the workers; what was not committed is removed
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Queues what a line shows and logs when it moves no samples (a refusal,
  // a fatal failure, a directive's warning, the closing line). Returns false
  // when the run has ended, by this report or an earlier entry.
  bool queue(Report report);
  // Hands an entry over for its transfer; first commits earlier entries
  // while as many are handed over as there are workers, and two more.
  // Returns false when the run ended.
  bool queue(std::unique_ptr<Job> job);
  // Commits everything queued, in order. Returns false when the run ended.
  bool drain();
  // Whether an entry not yet committed writes the output `name`.
  bool writes(const std::string& name) const;
  // Step 1 of an entry's output (createOutput), with the leftovers of killed
  // runs that this run has found.
  Outcome createOutput(const std::string& outputName, PendingOutput& out);

 private:
  struct Item {
    Report report;             // when job is empty
    std::unique_ptr<Job> job;  // an entry in flight
  };
  bool commitFront();
  void waitUntilDone(Job& job);
  void writeAloneAgain(Job& job);
  Outcome startAgain(Job& job);
  void dropLaterJobs();
  void restartDroppedJobs();
  void startWorkers();
  void work(SampleBuffer& buffer);
  void endRun();

  int entriesInFlight_;  // fewer when the system gives fewer threads
  SampleBuffer& ownBuffer();  // the calling thread's, for a transfer alone
  std::unique_ptr<SampleBuffer> ownBuffer_;
  std::deque<Item> items_;
  bool ended_ = false;
  LeftoverTemporaries leftovers_;

  mutable std::mutex lock_;
  std::condition_variable wake_;  // a job to do, or stop
  std::condition_variable done_;  // a job is done
  std::deque<Job*> todo_;
  bool stopping_ = false;
  std::vector<std::unique_ptr<SampleBuffer>> buffers_;
  std::vector<std::thread> workers_;
};

#endif  // DRIVER_PIPELINE_H
