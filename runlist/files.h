// A small owning wrapper around std::FILE, the opening of inputs, and the
// scanf-like field reader shared by the run-list and catalogue parsers.
#ifndef RUNLIST_FILES_H
#define RUNLIST_FILES_H

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "unique_fd.h"

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens `name` for reading, or else its upper-case form, as a descriptor. A
// folder never counts as an open file. The file's status goes to `status`
// when given.
UniqueFd openInputLowerOrUpper(const std::string& name, struct stat* status = nullptr);

// Why neither `name` nor its upper-case form opens for reading: the errno
// of the first that exists (EISDIR for a folder), else ENOENT.
int whyNotOpened(const std::string& name);

// Reads up to `size` bytes from the descriptor's position; fewer only when
// the file ends. A read error ends the file too, as it ends a stream.
std::size_t readUpTo(int fd, unsigned char* data, std::size_t size);

// Opens a file with an fopen mode. A folder never counts as an open file
// (reading one fails later in ways nobody expects): the result is then empty.
FilePtr openFile(const std::string& name, const char* mode);

// Opens `name` with an fopen mode for reading, or else its upper-case form.
FilePtr openLowerOrUpper(const std::string& name, const char* mode);

// Reads one whole line (without its line end, stopping at a NUL byte as a C
// string would). False at the end of the file.
bool readWholeLine(std::FILE* f, std::string& line);

// True for the white space that separates words (as isspace in the C locale).
bool isBlank(char c);

// Reads fields from a text the way sscanf reads them: every conversion first
// skips white space; a conversion that fails leaves the position where it
// stopped and the target unchanged.
class FieldScanner {
 public:
  explicit FieldScanner(const std::string& text) : text_(text) {}
  // %s, or %Ns with a width.
  bool word(std::string& out, std::size_t width = std::string::npos);
  // %d, or %Nd with a width that counts the sign.
  bool integer(int& out, std::size_t width = std::string::npos);
  // %f / %lf.
  bool real(double& out);
  // Whether the text ends here or a blank follows: nothing stuck to the
  // last field read.
  bool atBlankOrEnd() const { return pos_ >= text_.size() || isBlank(text_[pos_]); }

 private:
  void skipSpace();
  const std::string& text_;
  std::size_t pos_ = 0;
};

#endif  // RUNLIST_FILES_H
