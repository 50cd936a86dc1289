// The output stage: the checks before an output is made, the whole-image
// transfer into its temporary file, and the rename that makes it the output.
#include "output_stage.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
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
constexpr std::size_t kWidestSampleBytes = 4;
// The largest header: the converter's 72 cards.
constexpr std::size_t kHeaderRoom = 2 * kBlockLength;
const char* const kTemporaryMarker = ".Partial-";
constexpr std::size_t kHugePageBytes = 2 * 1024 * 1024;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The folder part of a path, with its slash ("./" for none), and the name.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The output name and the process id of a temporary file's name; false
// when `name` is not one.
bool parseTemporaryName(const std::string& name, std::string& outputFile, pid_t& owner) {
  const std::size_t marker = name.rfind(kTemporaryMarker);
  if (marker == std::string::npos || marker == 0) return false;
  const std::string digits = name.substr(marker + std::strlen(kTemporaryMarker));
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  outputFile = name.substr(0, marker);
  owner = static_cast<pid_t>(std::stol(digits));
  return owner > 0;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

const SampleRule kCopySampleRule = {2, nullptr};

SampleBuffer::SampleBuffer(long long largestImagePixels) {
  allocate(kHeaderRoom,
           static_cast<std::size_t>(largestImagePixels) * kWidestSampleBytes + kBlockLength);
}

SampleBuffer::~SampleBuffer() {
  if (mapping_ != nullptr) ::munmap(mapping_, mappedBytes_);
}

// Maps the buffer on a huge-page boundary, asks for huge pages and has the
// kernel touch every page at once. In this kind of virtual machine each page
// fault costs a trap; a few huge pages, filled in one call, cost next to
// nothing, and the memory of a night is the same whichever images it holds.
void SampleBuffer::allocate(std::size_t headerRoom, std::size_t sampleRoom) {
  if (mapping_ != nullptr) ::munmap(mapping_, mappedBytes_);
  headerRoom_ = headerRoom;
  sampleRoom_ = sampleRoom;
  const std::size_t size = headerRoom + sampleRoom;
  mappedBytes_ = size + kHugePageBytes;
  void* mapping = ::mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  mapping_ = static_cast<unsigned char*>(mapping);
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(mapping_);
  bytes_ = mapping_ + (kHugePageBytes - at % kHugePageBytes) % kHugePageBytes;
  ::madvise(bytes_, size - size % kHugePageBytes, MADV_HUGEPAGE);
  if (::madvise(bytes_, size, MADV_POPULATE_WRITE) != 0) std::memset(bytes_, 0, size);
}

unsigned char* SampleBuffer::samplesFor(const OutputPlan& plan) {
  const std::size_t header = plan.header.size();
  const std::size_t samples = static_cast<std::size_t>(plan.pixelCount) *
                                  static_cast<std::size_t>(plan.rule->inputBytes) +
                              kBlockLength;
  if (header > headerRoom_ || samples > sampleRoom_)
    allocate(std::max(headerRoom_, header), std::max(sampleRoom_, samples));
  return bytes_ + headerRoom_;
}

PendingOutput& PendingOutput::operator=(PendingOutput&& other) noexcept {
  if (this != &other) {
    discard();
    outputName_ = std::move(other.outputName_);
    temporaryName_ = std::move(other.temporaryName_);
    other.temporaryName_.clear();
    file_ = std::move(other.file_);
  }
  return *this;
}

void PendingOutput::discard() {
  file_.reset();
  if (!temporaryName_.empty()) ::unlink(temporaryName_.c_str());
  temporaryName_.clear();
}

std::string temporaryNameFor(const std::string& outputName, pid_t pid) {
  return outputName + kTemporaryMarker + std::to_string(pid);
}

void LeftoverTemporaries::removeFor(const std::string& outputName) {
  std::string folder, outputFile;
  splitPath(outputName, folder, outputFile);
  if (scannedFolders_.insert(folder).second) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    while (const dirent* item = dir ? ::readdir(dir.get()) : nullptr) {
      std::string output;
      pid_t owner = 0;
      // Only the temporaries of a process that no longer exists: a run that
      // was killed while it wrote them.
      if (parseTemporaryName(item->d_name, output, owner) && owner != ::getpid() &&
          ::kill(owner, 0) != 0 && errno == ESRCH)
        leftovers_[folder + output].push_back(folder + item->d_name);
    }
  }
  const auto found = leftovers_.find(folder + outputFile);
  if (found == leftovers_.end()) return;
  for (const std::string& name : found->second) ::unlink(name.c_str());
  leftovers_.erase(found);
}

Outcome createOutput(const std::string& outputName, PendingOutput& out,
                     LeftoverTemporaries& leftovers) {
  out.discard();
  struct stat st;
  if (::stat(outputName.c_str(), &st) == 0 &&
      (S_ISDIR(st.st_mode) || ::access(outputName.c_str(), W_OK) != 0))
    return msg::outputUnopenable(outputName);
  leftovers.removeFor(outputName);
  const std::string temporary = temporaryNameFor(outputName, ::getpid());
  // The mode of a plain create: 0666 less the umask.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  UniqueFd file(::open(temporary.c_str(), flags, 0666));
  if (!file && errno == EEXIST && ::unlink(temporary.c_str()) == 0)
    file = UniqueFd(::open(temporary.c_str(), flags, 0666));
  if (!file) return msg::outputUnopenable(outputName);
  out.outputName_ = outputName;
  out.temporaryName_ = temporary;
  out.file_ = std::move(file);
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
  const std::size_t got = readUpTo(inputFd, samples, inputBytes);
  if (got < inputBytes) {
    result.inputShort = true;
    std::memset(samples + got, 0xFF, inputBytes - got);
  }
  if (plan.rule->convert) plan.rule->convert(samples, samples, pixels);
  std::memset(samples + outputBytes, 0, fill);
  unsigned char* start = samples - plan.header.size();
  std::memcpy(start, plan.header.data(), plan.header.size());

  const bool written = writeAll(out.file_.get(), start, plan.header.size() + outputBytes + fill);
  result.written = out.file_.reset() && written;
  return result;
}

Outcome commitOutput(PendingOutput& out, const Transfer& transfer,
                     const std::string& inputName) {
  const bool renamed =
      transfer.written && ::rename(out.temporaryName_.c_str(), out.outputName_.c_str()) == 0;
  if (!renamed) {
    out.discard();
    return msg::outputUnwritable(out.outputName_);
  }
  out.temporaryName_.clear();
  return transfer.inputShort ? msg::inputShort(inputName) : Outcome::accepted();
}
