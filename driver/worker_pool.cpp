#include "worker_pool.h"

#include <sys/mman.h>

#include <new>
#include <system_error>

#include "camera_header.h"
#include "process_setup.h"
#include "temporary_file.h"

namespace {

// What the rest of a run may still take once the workers hold their
// buffers and stacks: the entries in flight (cards, texts, open files), the
// catalogue and the log. A worker that would leave less is not started, so
// that wherever one entry at a time finishes, several do too.
constexpr std::size_t kRoomForTheRun = 4 * 1024 * 1024;

// Whether `bytes` of address space can still be had.
bool roomFor(std::size_t bytes) {
  void* probe = ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
  if (probe == MAP_FAILED) return false;
  ::munmap(probe, bytes);
  return true;
}

}  // namespace

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    todo_.clear();
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

int WorkerPool::start(int count) {
  // The workers never run the signal handler: only the main thread makes
  // and renames temporaries.
  CleanupSignalsBlocked blocked;
  while (size() < count) {
    try {
      buffers_.push_back(std::make_unique<SampleBuffer>(largestImagePixels()));
    } catch (const std::bad_alloc&) {
      break;
    }
    if (!roomFor(kWorkerStackBytes + kRoomForTheRun)) {
      buffers_.pop_back();
      break;
    }
    try {
      workers_.emplace_back(&WorkerPool::work, this, std::ref(*buffers_.back()));
    } catch (const std::exception&) {  // no thread (system_error) or no memory for one
      buffers_.pop_back();
      break;
    }
  }
  return size();
}

void WorkerPool::hand(Job& job) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    job.done = false;
    todo_.push_back(&job);
  }
  wake_.notify_one();
}

void WorkerPool::waitUntilDone(const Job& job) {
  std::unique_lock<std::mutex> guard(lock_);
  done_.wait(guard, [&job] { return job.done; });
}

void WorkerPool::takeBackAll() {
  std::unique_lock<std::mutex> guard(lock_);
  todo_.clear();
  done_.wait(guard, [this] { return underWay_ == 0; });
}

void WorkerPool::work(SampleBuffer& buffer) {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return stopping_ || !todo_.empty(); });
    if (stopping_) return;
    Job& job = *todo_.front();
    todo_.pop_front();
    ++underWay_;
    guard.unlock();
    const Transfer transfer = transferSamples(job.input.get(), job.plan, buffer, job.output);
    guard.lock();
    job.transfer = transfer;
    job.done = true;
    --underWay_;
    done_.notify_all();
  }
}
