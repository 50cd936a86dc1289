// The output stage: the checks before an output is made, the whole-image
// transfer into its temporary file, and the rename that makes it the output.
#include "output_stage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "messages.h"

namespace {

constexpr std::size_t kOutputSampleBytes = 2;
// The largest header: the converter's 72 cards.
constexpr std::size_t kHeaderRoom = 2 * kBlockLength;
constexpr std::size_t kHugePageBytes = 2 * 1024 * 1024;

}  // namespace

const SampleRule kCopySampleRule = {2, nullptr};

SampleBuffer::SampleBuffer(long long largestImagePixels, int inputSampleBytes, Pages pages)
    : headerRoom_(kHeaderRoom),
      sampleRoom_(static_cast<std::size_t>(largestImagePixels) *
                      static_cast<std::size_t>(std::max(inputSampleBytes, 2)) +
                  kBlockLength) {
  // Mapped on a huge-page boundary, with huge pages asked for; every page
  // is touched by the kernel at once, now or before the first image. In
  // this kind of virtual machine each page fault costs a trap; a few huge
  // pages, filled in one call, cost next to nothing, and the memory of a
  // night is the same whichever images it holds.
  const std::size_t size = headerRoom_ + sampleRoom_;
  mappedBytes_ = size + kHugePageBytes;
  void* mapping = ::mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  mapping_ = static_cast<unsigned char*>(mapping);
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(mapping_);
  bytes_ = mapping_ + (kHugePageBytes - at % kHugePageBytes) % kHugePageBytes;
  ::madvise(bytes_, size - size % kHugePageBytes, MADV_HUGEPAGE);
  if (pages == Pages::Now) makePresent();
}

void SampleBuffer::makePresent() {
  if (populated_) return;
  const std::size_t size = headerRoom_ + sampleRoom_;
  if (::madvise(bytes_, size, MADV_POPULATE_WRITE) != 0) std::memset(bytes_, 0, size);
  populated_ = true;
}

SampleBuffer::~SampleBuffer() { ::munmap(mapping_, mappedBytes_); }

unsigned char* SampleBuffer::samplesFor(const OutputPlan& plan) {
  const std::size_t header = plan.header.size();
  const std::size_t samples = static_cast<std::size_t>(plan.pixelCount) *
                                  static_cast<std::size_t>(plan.rule->inputBytes) +
                              kBlockLength;
  if (header > headerRoom_ || samples > sampleRoom_) return nullptr;
  makePresent();
  return bytes_ + headerRoom_;
}

bool failedForSpace(int error) { return error == ENOSPC || error == EDQUOT; }

Outcome createOutput(const std::string& outputName, PendingOutput& out,
                     LeftoverTemporaries& leftovers) {
  out.discard();
  out.outputName_ = outputName;
  out.createError_ = 0;
  struct stat st;
  if (::stat(outputName.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return msg::outputUnopenable(outputName, EISDIR);
    if (::access(outputName.c_str(), W_OK) != 0) return msg::outputUnopenable(outputName, errno);
  }
  leftovers.removeFor(outputName);
  if (!out.file_.create(outputName)) {
    out.createError_ = errno;
    return msg::outputUnopenable(outputName, out.createError_);
  }
  return Outcome::accepted();
}

Transfer transferSamples(int inputFd, const OutputPlan& plan, SampleBuffer& buffer,
                         PendingOutput& out) {
  Transfer result;
  const std::size_t pixels = static_cast<std::size_t>(plan.pixelCount);
  const std::size_t inputBytes = pixels * static_cast<std::size_t>(plan.rule->inputBytes);
  const std::size_t outputBytes = pixels * kOutputSampleBytes;
  const std::size_t rest = outputBytes % kBlockLength;
  const std::size_t fill = rest == 0 ? 0 : kBlockLength - rest;

  unsigned char* samples = buffer.samplesFor(plan);
  if (samples == nullptr) {
    result.error = ENOMEM;
    return result;
  }
  const std::size_t got = readUpTo(inputFd, samples, inputBytes);
  if (got < inputBytes) {
    result.inputShort = true;
    std::memset(samples + got, 0xFF, inputBytes - got);
  }
  if (plan.rule->convert) plan.rule->convert(samples, samples, pixels);
  std::memset(samples + outputBytes, 0, fill);
  unsigned char* start = samples - plan.header.size();
  std::memcpy(start, plan.header.data(), plan.header.size());

  const bool written = writeAll(out.file_.fd(), start, plan.header.size() + outputBytes + fill);
  if (!written) result.error = errno;
  const bool closed = out.file_.close();
  if (written && !closed) result.error = errno;
  result.written = written && closed;
  return result;
}

Outcome commitOutput(PendingOutput& out, const Transfer& transfer,
                     const std::string& inputName) {
  if (!transfer.written || !out.file_.commit()) {
    const int error = transfer.written ? errno : transfer.error;
    out.discard();
    return msg::outputUnwritable(out.outputName_, error);
  }
  return transfer.inputShort ? msg::inputShort(inputName) : Outcome::accepted();
}
