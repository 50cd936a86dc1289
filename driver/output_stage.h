// The output stage shared by every writer: header cards and streamed samples
// into one output file, with every write checked.
#ifndef DRIVER_OUTPUT_STAGE_H
#define DRIVER_OUTPUT_STAGE_H

#include <cstddef>
#include <string>
#include <vector>

#include "driver.h"

// How the samples of one input become output bytes. convert() turns `count`
// input samples of `inputBytes` bytes each into `count` 2-byte output
// samples. `out` may be `in` itself: the stage converts each block in place,
// so a rule writes an output sample only after it has read the input sample,
// and no further into the buffer. A byte missing at the end of the input
// reaches convert() as 0xFF, which is the end-of-file value -1 taken modulo
// 256: every rule gives the same bytes as if it had computed with -1.
struct SampleRule {
  int inputBytes;  // 2 or 4
  void (*convert)(const unsigned char* in, unsigned char* out,
                  std::size_t count);
  // True when convert() copies its input unchanged (inputBytes 2), which
  // lets the stage hand the copy to the kernel.
  bool isCopy;
};

// tarnfits: every 2-byte sample unchanged.
extern const SampleRule kCopySampleRule;

// Samples per block of the stage's block loop: 256 or 512 KiB of input,
// converted in place into 256 KiB of output. Measured on the 2-core VM (50
// Andor files, runs interleaved with cp) from 16 Ki to 256 Ki samples, that
// is 32 KiB to 1 MiB of input: the time fell up to 64 Ki (fewer system
// calls, each costly in the VM) and stayed flat beyond; 128 Ki was lowest
// for the 2-byte rules by a few per cent.
constexpr std::size_t kStreamBlockSamples = 128 * 1024;

// Writes `cards` (each blank-filled to 80 characters; a card may not be
// longer) and then the entry's samples into entry.outputName:
//   1. reopens the input (entry.fileName, else its upper-case form; binary)
//      and skips its 2880-byte header; when neither name opens, that is
//      fatal: "Cannot open. (%s)\n" with the lower-case name;
//   2. creates the output (fatal "Cannot open. (%s)\n" with its name);
//   3. writes the cards, pixelCount converted samples and the zero fill to a
//      multiple of 2880 bytes of sample data;
//   4. closes both files. Any failed write, flush or close prints
//      "Cannot write. (%s)\n" with the output name, removes the output and
//      is fatal.
// When the input ended before all samples were read, the missing bytes were
// converted as -1, and "# Warning! Input data is short (%s)\n" is printed and
// logged. Throws FatalExit on the fatal failures.
//
// The samples move in blocks of kStreamBlockSamples; with a copy rule the
// kernel copies them from file to file where it can, and the block loop
// takes over where it cannot or where the input ends. Memory use does not
// depend on the image size: the block buffer is kept for the next call.
void runOutputStage(const ListEntry& entry, int pixelCount,
                    const std::vector<std::string>& cards,
                    const SampleRule& rule);

#endif  // DRIVER_OUTPUT_STAGE_H
