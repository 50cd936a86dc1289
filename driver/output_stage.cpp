// The output stage: header cards, streamed samples and the zero fill of one
// output file, with every write checked.
//
// The bytes bypass the stdio buffers of the two files: blocks go through
// read(2) and write(2) on their descriptors, and for the copy rule the kernel
// copies from file to file (copy_file_range), which saves moving every
// sample through this process. The streams are still what owns the files.
#include "output_stage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "files.h"
#include "obslib.h"

namespace {

constexpr int kOutputSampleBytes = 2;
constexpr std::size_t kMaxSampleBytes = 4;  // the widest input sample

// The largest piece handed to the kernel copy at once.
constexpr std::size_t kKernelCopyPiece = std::size_t{1} << 30;

// An output file being written. Until commit() succeeds it is incomplete:
// a failed write, or leaving the stage any other way, removes it.
class OutputFile {
 public:
  explicit OutputFile(const std::string& name) : name_(name) {
    file_ = openFile(name, "wb");
    if (!file_) {
      std::printf("Cannot open. (%s)\n", name_.c_str());
      throw FatalExit{};
    }
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (file_) {
      file_.reset();
      std::remove(name_.c_str());
    }
  }

  // The descriptor, for the kernel copy; only write() and the kernel copy
  // write to it, so the stream's own buffer always stays empty.
  int descriptor() const { return fileno(file_.get()); }

  // Writes all `size` bytes at the file's position.
  void write(const void* data, std::size_t size) {
    const unsigned char* next = static_cast<const unsigned char*>(data);
    while (size > 0) {
      ssize_t written = ::write(descriptor(), next, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) fail();
      next += written;
      size -= static_cast<std::size_t>(written);
    }
  }

  void commit() {
    bool ok = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
    ok = std::fclose(file_.release()) == 0 && ok;
    if (!ok) fail();
  }

 private:
  [[noreturn]] void fail() {
    file_.reset();
    std::remove(name_.c_str());
    std::printf("Cannot write. (%s)\n", name_.c_str());
    throw FatalExit{};
  }

  std::string name_;
  FilePtr file_;
};

// Reads up to `size` bytes from the descriptor's position; fewer only when
// the input ends. A read error ends the input too, as it ends a stream.
std::size_t readUpTo(int fd, unsigned char* data, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, data + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// Copies up to `bytes` bytes from the input's position to the output's
// inside the kernel and returns how many it copied. It stops early when the
// input ends, and at once where the kernel cannot copy between the two files
// (EXDEV, ENOSYS, EINVAL, EOPNOTSUPP: other file systems, pipes, old
// kernels) or on any other error; the block loop then goes on from the same
// positions and meets the same end or error by itself.
long long copyInKernel(int inFd, int outFd, long long bytes) {
  long long done = 0;
  while (done < bytes) {
    std::size_t piece = static_cast<std::size_t>(
        std::min<long long>(bytes - done, static_cast<long long>(kKernelCopyPiece)));
    ssize_t n = ::copy_file_range(inFd, nullptr, outFd, nullptr, piece, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

// Streams pixelCount samples from the input (positioned at its data) through
// the rule into the output, then the zero fill. Returns true when the input
// ended early; its missing bytes were converted as 0xFF (-1).
bool streamSamples(int inFd, OutputFile& out, long long pixelCount,
                   const SampleRule& rule) {
  const std::size_t inBytes = static_cast<std::size_t>(rule.inputBytes);
  long long left = pixelCount;
  bool ended = false;

  if (rule.isCopy && left > 0) {
    long long copied = copyInKernel(inFd, out.descriptor(),
                                    left * static_cast<long long>(inBytes));
    left -= copied / static_cast<long long>(inBytes);
    // A copy that stopped inside a sample: its missing bytes come next.
    std::size_t partial = static_cast<std::size_t>(copied % static_cast<long long>(inBytes));
    if (partial != 0) {
      std::array<unsigned char, kMaxSampleBytes> sample{};
      std::size_t want = inBytes - partial;
      std::size_t got = readUpTo(inFd, sample.data(), want);
      if (got < want) {
        ended = true;
        std::memset(sample.data() + got, 0xFF, want - got);
      }
      out.write(sample.data(), want);
      --left;
    }
  }

  // The block buffer is made only when the block loop runs: the kernel copy
  // does without it. The rule converts each block in place.
  std::vector<unsigned char> buffer(left > 0 ? kStreamBlockSamples * inBytes : 0);
  unsigned char* block = buffer.data();
  while (left > 0) {
    std::size_t count = static_cast<std::size_t>(
        std::min<long long>(left, static_cast<long long>(kStreamBlockSamples)));
    std::size_t want = count * inBytes;
    std::size_t got = ended ? 0 : readUpTo(inFd, block, want);
    if (got < want) {
      ended = true;
      std::memset(block + got, 0xFF, want - got);
    }
    if (!rule.isCopy) rule.convert(block, block, count);
    out.write(block, count * kOutputSampleBytes);
    left -= static_cast<long long>(count);
  }

  long long rest = (kOutputSampleBytes * pixelCount) % static_cast<long long>(kBlockLength);
  if (rest != 0) {
    std::vector<unsigned char> zeros(kBlockLength - static_cast<std::size_t>(rest), 0);
    out.write(zeros.data(), zeros.size());
  }
  return ended;
}

void copySamples(const unsigned char* in, unsigned char* out, std::size_t count) {
  std::memmove(out, in, count * kOutputSampleBytes);
}

}  // namespace

const SampleRule kCopySampleRule = {2, copySamples, true};

void runOutputStage(const ListEntry& entry, int pixelCount,
                    const std::vector<std::string>& cards, const SampleRule& rule) {
  FilePtr in = openLowerOrUpper(entry.fileName, "rb");
  if (!in) {
    std::printf("Cannot open. (%s)\n", entry.fileName.c_str());
    throw FatalExit{};
  }
  const int inFd = fileno(in.get());
  posix_fadvise(inFd, 0, 0, POSIX_FADV_SEQUENTIAL);
  // The camera's header block was read already; the samples follow it.
  std::array<unsigned char, kBlockLength> header;
  bool ended = readUpTo(inFd, header.data(), kBlockLength) < kBlockLength;

  OutputFile out(entry.outputName);
  std::string headerBytes;
  headerBytes.reserve(cards.size() * kCardLength);
  for (const std::string& card : cards) {
    headerBytes += card;
    if (card.size() < kCardLength) headerBytes.append(kCardLength - card.size(), ' ');
  }
  out.write(headerBytes.data(), headerBytes.size());
  ended = streamSamples(inFd, out, pixelCount, rule) || ended;
  out.commit();
  in.reset();

  if (ended) {
    std::printf("# Warning! Input data is short (%s)\n", entry.fileName.c_str());
    errlist(entry.fileName.c_str(), "input data is short");
  }
}
