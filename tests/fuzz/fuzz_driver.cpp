// Fuzz target: the whole driver loop of one program on a made-up night. The
// input is
//
//   <program byte> <object catalogue> 0x1E <run list> [0x1E <answers>]
//
// where the program byte modulo 3 picks tarnfits, tarnfits4 or tarnfits4s.
// The night runs in a scratch folder that holds a few small camera files
// (made once per process by the camera-file generator); everything else is
// removed before each input. The run list is cut after 20 lines so that a
// run writes a few outputs at most, and a run list naming a path (a "/")
// is passed over, so nothing outside the folder is ever opened.
//
// Checked after each run: the status is 0 or 1, every output left behind
// is whole (a multiple of 2880 bytes) and no camera file changed.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "main_loop.h"
#include "nightgen.h"
#include "writer.h"
#include "writers.h"

namespace {

constexpr char kSeparator = '\x1e';
constexpr int kMostLines = 20;

const DriverProfile* const kProfiles[] = {&kTarnfitsProfile, &kTarnfits4Profile,
                                          &kTarnfits4sProfile};

// The camera files of the night and their sizes.
std::map<std::string, long long>& cameraFiles() {
  static std::map<std::string, long long> files;
  return files;
}

void addCameraFile(const std::string& name, nightgen::Kind kind, long long bytes,
                   int naxis1 = 0, int naxis2 = 0) {
  nightgen::CameraSpec camera;
  camera.kind = kind;
  camera.naxis1 = naxis1;
  camera.naxis2 = naxis2;
  nightgen::writeCameraFile(name, camera, bytes);
  cameraFiles()[name] = bytes < 0 ? nightgen::fullFileSize(camera) : bytes;
}

// One whole S5 file and the headers of the other set-ups with a few samples:
// the outputs of the short ones are still full size, their missing samples
// filled in.
void makeCameraFiles() {
  addCameraFile("s5.fts", nightgen::Kind::S5, -1);
  addCameraFile("t5.fts", nightgen::Kind::T5Binned, nightgen::kBlock + 64);
  addCameraFile("an.fts", nightgen::Kind::Andor16, nightgen::kBlock + 64);
  addCameraFile("UP.FTS", nightgen::Kind::S5, nightgen::kBlock);  // upper case only
  addCameraFile("short.fts", nightgen::Kind::S5, 1000);
  addCameraFile("odd.fts", nightgen::Kind::T5, nightgen::kBlock, 1018, 1000);
}

long long sizeOf(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Removes everything but the camera files and the discarded error log.
void clearFolder() {
  for (const auto& item : std::filesystem::directory_iterator(".")) {
    const std::string name = item.path().filename().string();
    if (cameraFiles().count(name) != 0 || name == "tarnfits.log") continue;
    std::error_code ec;
    std::filesystem::remove_all(item.path(), ec);
  }
}

void writeText(const char* name, const std::string& text) {
  FilePtr file(std::fopen(name, "wb"));
  if (!file || std::fwrite(text.data(), 1, text.size(), file.get()) != text.size())
    std::abort();
}

// The text up to and with its kMostLines-th line end.
std::string firstLines(const std::string& text) {
  std::size_t end = 0;
  for (int line = 0; line < kMostLines; ++line) {
    end = text.find('\n', end);
    if (end == std::string::npos) return text;
    ++end;
  }
  return text.substr(0, end);
}

void checkFolderAfterRun() {
  for (const auto& file : cameraFiles()) FUZZ_CHECK(sizeOf(file.first) == file.second);
  for (const auto& item : std::filesystem::directory_iterator(".")) {
    const std::string name = item.path().filename().string();
    if (!fuzz::endsWith(name, "fit")) continue;
    FUZZ_CHECK(sizeOf(name) % nightgen::kBlock == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silenceConsole();
  fuzz::enterScratchFolder("fuzz_driver");
  fuzz::discardErrorLog();
  makeCameraFiles();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const DriverProfile& profile = *kProfiles[data[0] % 3];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t listStart = rest.find(kSeparator);
  if (listStart == std::string::npos) return 0;
  const std::size_t answersStart = rest.find(kSeparator, listStart + 1);
  const std::string catalogue = rest.substr(0, listStart);
  const std::string list =
      firstLines(rest.substr(listStart + 1, answersStart == std::string::npos
                                                ? std::string::npos
                                                : answersStart - listStart - 1));
  const std::string answers =
      answersStart == std::string::npos ? std::string() : rest.substr(answersStart + 1);
  if (list.find('/') != std::string::npos) return 0;

  clearFolder();
  writeText("object.lst", catalogue);
  writeText("tarnlist.dat", list);
  fuzz::MemoryFile answerFile(answers);
  const int status = runDriver(profile, answerFile.get());
  FUZZ_CHECK(status == 0 || status == 1);
  checkFolderAfterRun();
  return 0;
}
