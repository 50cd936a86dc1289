// The entries of a night in flight. While the samples of one entry move on
// a worker thread (worker_pool.h), the main loop goes on with the next
// run-list lines; what each line shows, logs and renames is committed in
// run-list order, exactly as if the lines were handled one at a time.
//
// Everything here runs on the main thread. The in-order commit is in
// pipeline.cpp; what a failure for want of room does to the entries in
// flight (dropped, and written again once the earlier ones are committed)
// is in pipeline_retry.cpp.
#ifndef DRIVER_PIPELINE_H
#define DRIVER_PIPELINE_H

#include <deque>
#include <memory>
#include <string>

#include "file_identity.h"
#include "leftovers.h"
#include "output_stage.h"
#include "report.h"
#include "run_record.h"
#include "worker_pool.h"

// The number of entries in flight when the observer does not say: two, or
// one where this process may run on one CPU only.
int defaultEntriesInFlight();
constexpr int kMostEntriesInFlight = 8;

class Pipeline {
 public:
  // With one entry in flight every transfer runs on the calling thread when
  // it is queued, and every report is delivered at once. The sample buffers
  // take input samples of `inputSampleBytes` (DriverProfile). Every report
  // delivered settles its row of `record`, when given.
  Pipeline(int entriesInFlight, int inputSampleBytes, RunRecord* record = nullptr);

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
  // Whether anything is queued and not yet committed.
  bool busy() const { return !items_.empty(); }
  // Whether an entry not yet committed writes `file`.
  bool writes(const FileKey& file) const;
  // Step 1 of an entry's output (createOutput), with the leftovers of killed
  // runs that this run has found. A temporary that cannot be made for want
  // of room while entries are in flight is made again once they are
  // committed, as one at a time would have made it. Fatal with no text when
  // the run ended meanwhile.
  Outcome createOutput(const std::string& outputName, PendingOutput& out);

 private:
  struct Item {
    Report report;             // when job is empty
    std::unique_ptr<Job> job;  // an entry in flight
  };
  bool takeOwnBuffer(std::unique_ptr<Job>& job);
  bool commitFront();
  int jobsQueued() const;
  // pipeline_retry.cpp
  bool othersMayBeInFlight() const { return workers_.size() > 0; }
  void writeAloneAgain(Job& job);
  Outcome startAgain(Job& job);
  void dropLaterJobs();
  void restartDroppedJobs();
  void endRun();

  int entriesInFlight_;  // fewer when memory or threads run short
  int inputSampleBytes_;
  RunRecord* record_;
  // The main thread's own buffer, for transfers alone: taken first, so that
  // the run can always go on one entry at a time.
  std::unique_ptr<SampleBuffer> ownBuffer_;
  LeftoverTemporaries leftovers_;
  // Only commitFront pops the front item; queue() pushes at the back.
  std::deque<Item> items_;
  bool ended_ = false;
  // Declared last, so destroyed first: the workers stop before the jobs
  // they may hold go.
  WorkerPool workers_;
};

#endif  // DRIVER_PIPELINE_H
