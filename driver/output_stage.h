// The output stage shared by every writer: header and samples of one entry
// into a temporary file beside the output, renamed over the output's name
// only when it is complete. Nothing here prints; failures come back as
// outcomes.
#ifndef DRIVER_OUTPUT_STAGE_H
#define DRIVER_OUTPUT_STAGE_H

#include <cstddef>
#include <string>

#include "files.h"
#include "leftovers.h"
#include "outcome.h"
#include "temporary_file.h"

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
// largest image of the camera set-ups in the program's input samples (2 or
// 4 bytes), and the zero fill.
// Its address space is taken whole when it is made (std::bad_alloc when it
// cannot be had), every page made present then or at its first image; it
// never grows.
class SampleBuffer {
 public:
  // AtFirstImage for a buffer that may never be used (the main thread's,
  // while workers move the samples): it then costs no page; or that its
  // own thread makes present (makePresent) while others go on.
  enum class Pages { Now, AtFirstImage };
  SampleBuffer(long long largestImagePixels, int inputSampleBytes, Pages pages);
  ~SampleBuffer();
  SampleBuffer(const SampleBuffer&) = delete;
  SampleBuffer& operator=(const SampleBuffer&) = delete;
  // The start of the sample area for a plan, with room for the plan's
  // header right before it and for its fill after its samples; null for a
  // plan larger than the camera set-ups or with wider input samples.
  unsigned char* samplesFor(const OutputPlan& plan);
  // Makes every page present, if not yet done.
  void makePresent();

 private:
  std::size_t headerRoom_ = 0;
  std::size_t sampleRoom_ = 0;
  unsigned char* mapping_ = nullptr;
  std::size_t mappedBytes_ = 0;
  unsigned char* bytes_ = nullptr;
  bool populated_ = false;
};

// Whether a failed file call failed for want of room (blocks, inodes or
// quota): one that may succeed once other files are gone.
bool failedForSpace(int error);

// An output while it is written: a temporary file beside it (see
// temporary_file.h). Until commitOutput renames it over the output, the
// output's name is untouched; leaving it any other way removes the
// temporary file.
class PendingOutput {
 public:
  const std::string& outputName() const { return outputName_; }
  // The errno of a temporary file that could not be created, else 0.
  int createError() const { return createError_; }
  // Removes the temporary file, if any.
  void discard() { file_.discard(); }

 private:
  friend Outcome createOutput(const std::string& outputName, PendingOutput& out,
                              LeftoverTemporaries& leftovers);
  friend struct Transfer transferSamples(int inputFd, const OutputPlan& plan,
                                         SampleBuffer& buffer, PendingOutput& out);
  friend Outcome commitOutput(PendingOutput& out, const struct Transfer& transfer,
                              const std::string& inputName);
  std::string outputName_;
  int createError_ = 0;
  TemporaryFile file_;
};

// Step 1, before any sample is read: refuses (fatal "Cannot open.") an
// output name that is a folder or a link to one, an existing output that
// this user may not write, and a folder where no file can be created.
// Removes the leftover temporaries of this output name, then creates this
// entry's temporary file. Main thread only.
Outcome createOutput(const std::string& outputName, PendingOutput& out,
                     LeftoverTemporaries& leftovers);

struct Transfer {
  bool written = false;     // every byte written and the file closed
  bool inputShort = false;  // the input ended before its last sample
  int error = 0;            // the errno of the write or close that failed
};

// Step 2: writes the plan's header, the input's samples (the input is
// positioned at them) through the rule, and the zero fill to a multiple of
// 2880 bytes of sample data, then closes the temporary file. The samples
// are read in one go into the buffer and converted there, and header,
// samples and fill go out in one write. Missing input bytes count as 0xFF.
// Touches nothing but the two files and the buffer, and allocates nothing,
// so it may run on a worker thread.
Transfer transferSamples(int inputFd, const OutputPlan& plan, SampleBuffer& buffer,
                         PendingOutput& out);

// Step 3: renames the complete temporary file over the output. A transfer
// that failed, or a rename that fails, is fatal ("Cannot write.") and
// removes the temporary file. Accepted with the short-data warning for
// `inputName` when the input ended early. Main thread only.
Outcome commitOutput(PendingOutput& out, const Transfer& transfer, const std::string& inputName);

#endif  // DRIVER_OUTPUT_STAGE_H
