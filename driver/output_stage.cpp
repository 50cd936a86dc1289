// The output stage: header cards, streamed samples and the zero fill of one
// output file, with every write checked.
#include "output_stage.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "files.h"
#include "obslib.h"

namespace {

constexpr std::size_t kSamplesPerBlock = 64 * 1024;
constexpr int kOutputSampleBytes = 2;

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

  void write(const void* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_.get()) != size) fail();
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

void copySamples(const unsigned char* in, unsigned char* out, std::size_t count) {
  std::memcpy(out, in, count * kOutputSampleBytes);
}

// Streams pixelCount samples from the input (positioned at its data) through
// the rule into the output, then the zero fill. Returns true when the input
// ended early; its missing bytes were converted as 0xFF (-1).
bool streamSamples(std::FILE* in, OutputFile& out, long long pixelCount,
                   const SampleRule& rule) {
  const std::size_t inBytes = static_cast<std::size_t>(rule.inputBytes);
  std::vector<unsigned char> inBuf(kSamplesPerBlock * inBytes);
  std::vector<unsigned char> outBuf(kSamplesPerBlock * kOutputSampleBytes);
  bool ended = false;
  for (long long left = pixelCount; left > 0;) {
    std::size_t count = static_cast<std::size_t>(
        left < static_cast<long long>(kSamplesPerBlock) ? left : kSamplesPerBlock);
    std::size_t want = count * inBytes;
    std::size_t got = ended ? 0 : std::fread(inBuf.data(), 1, want, in);
    if (got < want) {
      ended = true;
      std::memset(inBuf.data() + got, 0xFF, want - got);
    }
    rule.convert(inBuf.data(), outBuf.data(), count);
    out.write(outBuf.data(), count * kOutputSampleBytes);
    left -= static_cast<long long>(count);
  }
  long long rest = (kOutputSampleBytes * pixelCount) % static_cast<long long>(kBlockLength);
  if (rest != 0) {
    std::vector<unsigned char> zeros(kBlockLength - static_cast<std::size_t>(rest), 0);
    out.write(zeros.data(), zeros.size());
  }
  return ended;
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
  // The camera's header block was read already; the samples follow it.
  std::vector<unsigned char> header(kBlockLength);
  bool ended = std::fread(header.data(), 1, header.size(), in.get()) < header.size();

  OutputFile out(entry.outputName);
  std::string headerBytes;
  headerBytes.reserve(cards.size() * kCardLength);
  for (const std::string& card : cards) {
    headerBytes += card;
    if (card.size() < kCardLength) headerBytes.append(kCardLength - card.size(), ' ');
  }
  out.write(headerBytes.data(), headerBytes.size());
  ended = streamSamples(in.get(), out, pixelCount, rule) || ended;
  out.commit();
  in.reset();

  if (ended) {
    std::printf("# Warning! Input data is short (%s)\n", entry.fileName.c_str());
    errlist(entry.fileName.c_str(), "input data is short");
  }
}
