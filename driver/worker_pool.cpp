#include "worker_pool.h"

#include <new>
#include <system_error>

#include "camera_header.h"
#include "temporary_file.h"

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    todo_.clear();
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

int WorkerPool::start(int count, int inputSampleBytes) {
  // The workers never run the signal handler: only the main thread makes
  // and renames temporaries.
  CleanupSignalsBlocked blocked;
  while (size() < count) {
    try {
      buffers_.push_back(std::make_unique<SampleBuffer>(largestImagePixels(), inputSampleBytes,
                                                      SampleBuffer::Pages::AtFirstImage));
    } catch (const std::bad_alloc&) {
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
  // Each worker fills its own buffer, while the main thread prepares the
  // first entries.
  buffer.makePresent();
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
    // Woken after the lock is free, the main thread does not stop this
    // worker only to wait for the lock it still holds.
    guard.unlock();
    done_.notify_all();
    guard.lock();
  }
}
