// The worker threads of a run: they only move samples. The main thread
// hands them entries (jobs) whose checks passed and whose temporary output
// exists, and waits for each transfer to end; every other decision (what
// shows, what is logged, what is renamed, what is written again) stays with
// the main thread.
#ifndef DRIVER_WORKER_POOL_H
#define DRIVER_WORKER_POOL_H

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "file_identity.h"
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
  std::optional<FileKey> outputFile;  // the name its commit replaces
  Transfer transfer;      // the transfer's result, once done
  bool done = false;      // the transfer ended; guarded by the pool's lock
  // Main thread only: dropped, and its temporary could not be made again
  // for want of room; it is made and written alone at the entry's turn.
  bool aloneAtItsTurn = false;
};

class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool();  // stops the workers, once their transfers under way end
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts up to `count` workers, each with a sample buffer of its own (for
  // input samples of `inputSampleBytes`), as
  // long as a buffer and a thread can be had (what they take is released
  // again at the first that cannot).
  // Returns how many run: 0 leaves every transfer to the main thread.
  int start(int count, int inputSampleBytes);
  int size() const { return static_cast<int>(workers_.size()); }

  // Main thread: queues the job for the next free worker, as not done.
  void hand(Job& job);
  // Main thread: waits until the job's transfer has ended.
  void waitUntilDone(const Job& job);
  // Main thread: takes back every job not yet started and waits for those
  // under way to end. Afterwards no worker touches any job until the next
  // hand().
  void takeBackAll();

 private:
  void work(SampleBuffer& buffer);

  std::vector<std::unique_ptr<SampleBuffer>> buffers_;  // one per worker
  std::vector<std::thread> workers_;

  mutable std::mutex lock_;
  std::condition_variable wake_;  // a job to do, or stop
  std::condition_variable done_;  // a transfer ended
  // The main thread pushes at the back; a worker pops the front and runs it.
  std::deque<Job*> todo_;  // guarded by lock_
  int underWay_ = 0;       // transfers running; guarded by lock_
  bool stopping_ = false;  // guarded by lock_
};

#endif  // DRIVER_WORKER_POOL_H
