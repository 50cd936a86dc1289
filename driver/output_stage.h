// The output stage shared by every writer: header and samples of one entry
// into a temporary file beside the output, renamed over the output's name
// only when it is complete. Nothing here prints; failures come back as
// outcomes.
#ifndef DRIVER_OUTPUT_STAGE_H
#define DRIVER_OUTPUT_STAGE_H

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "files.h"
#include "outcome.h"

// How the samples of one input become output bytes. convert() turns `count`
// input samples of `inputBytes` bytes each into `count` 2-byte output
// samples. `out` is `in` itself: the stage converts the image in place, so a
// rule writes an output sample only after it has read the input sample, and
// no further into the buffer. A byte missing at the end of the input reaches
// convert() as 0xFF, which is the end-of-file value -1 taken modulo 256:
// every rule gives the same bytes as if it had computed with -1.
struct SampleRule {
  int inputBytes;  // 2 or 4
  // Null when the samples stay as they are (inputBytes 2).
  void (*convert)(const unsigned char* in, unsigned char* out, std::size_t count);
};

// tarnfits: every 2-byte sample unchanged.
extern const SampleRule kCopySampleRule;

// What a program writes for one accepted entry.
struct OutputPlan {
  std::string header;  // whole 80-byte cards (assembleHeader), or none
  const SampleRule* rule = &kCopySampleRule;
  long long pixelCount = 0;
};

// The memory one image moves through: room for the largest header, the
// largest image of the camera set-ups in 4-byte samples, and the zero fill.
// Made once, every page present from the start, and used for every entry.
class SampleBuffer {
 public:
  explicit SampleBuffer(long long largestImagePixels);
  ~SampleBuffer();
  SampleBuffer(const SampleBuffer&) = delete;
  SampleBuffer& operator=(const SampleBuffer&) = delete;
  // The start of the sample area for a plan, with room for the plan's
  // header right before it and for its fill after its samples. Grows only
  // for a plan larger than the camera set-ups.
  unsigned char* samplesFor(const OutputPlan& plan);

 private:
  void allocate(std::size_t headerRoom, std::size_t sampleRoom);
  std::size_t headerRoom_ = 0;
  std::size_t sampleRoom_ = 0;
  unsigned char* mapping_ = nullptr;
  std::size_t mappedBytes_ = 0;
  unsigned char* bytes_ = nullptr;
};

class LeftoverTemporaries;

// An output while it is written: a temporary file in the output's folder
// named "<output>.Partial-<process id>". Until commitOutput renames it over
// the output, the output's name is untouched; leaving it any other way
// removes the temporary file.
class PendingOutput {
 public:
  PendingOutput() = default;
  PendingOutput(PendingOutput&& other) noexcept { *this = std::move(other); }
  PendingOutput& operator=(PendingOutput&& other) noexcept;
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;
  ~PendingOutput() { discard(); }

  const std::string& outputName() const { return outputName_; }
  // Removes the temporary file, if any.
  void discard();

 private:
  friend Outcome createOutput(const std::string& outputName, PendingOutput& out,
                              LeftoverTemporaries& leftovers);
  friend struct Transfer transferSamples(int inputFd, const OutputPlan& plan,
                                         SampleBuffer& buffer, PendingOutput& out);
  friend Outcome commitOutput(PendingOutput& out, const struct Transfer& transfer,
                              const std::string& inputName);
  std::string outputName_;
  std::string temporaryName_;  // empty when there is no temporary file
  UniqueFd file_;
};

// The temporary name of an output written by process `pid`. The marker is
// in mixed case, so that no run-list entry (tried in lower and in upper
// case) can open it, and the name does not end in "fit" or "fts".
std::string temporaryNameFor(const std::string& outputName, pid_t pid);

// The temporaries that runs which no longer exist (killed while they wrote)
// left in the night's folders. Each folder is read once, at its first
// output; a leftover goes when its output is written.
class LeftoverTemporaries {
 public:
  void removeFor(const std::string& outputName);

 private:
  std::set<std::string> scannedFolders_;
  std::map<std::string, std::vector<std::string>> leftovers_;  // by output path
};

// Step 1, before any sample is read: refuses (fatal "Cannot open.") an
// output name that is a folder or a link to one, an existing output that
// this user may not write, and a folder where no file can be created.
// Removes the leftover temporaries of this output name, then creates this
// run's temporary file.
Outcome createOutput(const std::string& outputName, PendingOutput& out,
                     LeftoverTemporaries& leftovers);

struct Transfer {
  bool written = false;     // every byte written and the file closed
  bool inputShort = false;  // the input ended before its last sample
};

// Step 2: writes the plan's header, the input's samples (the input is
// positioned at them) through the rule, and the zero fill to a multiple of
// 2880 bytes of sample data, then closes the temporary file. The samples
// are read in one go into the buffer and converted there, and header,
// samples and fill go out in one write. Missing input bytes count as 0xFF.
// Touches nothing but the two files and the buffer, so it may run on a
// thread of its own.
Transfer transferSamples(int inputFd, const OutputPlan& plan, SampleBuffer& buffer,
                         PendingOutput& out);

// Step 3: renames the complete temporary file over the output. A transfer
// that failed, or a rename that fails, is fatal ("Cannot write.") and
// removes the temporary file. Accepted with the short-data warning for
// `inputName` when the input ended early.
Outcome commitOutput(PendingOutput& out, const Transfer& transfer, const std::string& inputName);

#endif  // DRIVER_OUTPUT_STAGE_H
