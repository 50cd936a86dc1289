// mknight: writes a sample observing night, or one camera file.
//
//   mknight DIR [--andor N] [--seed S] [--faults] [--problems] [--no-directives]
//               [the opt-in sky: --moffat --tracks N --fields --thin-cloud ...]
//   mknight --camera KIND OUT.fts [options]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "nightgen.h"

namespace {

const char kUsage[] =
    "usage: mknight DIR [--andor N] [--seed S] [--faults] [--problems]\n"
    "               [--no-directives] [--moffat] [--tracks N] [--fields]\n"
    "               [--thin-cloud] [--sky-gradient] [--defocused-night]\n"
    "               [--cloudy-night]\n"
    "       mknight --camera KIND OUT.fts [--bytes N] [--seed S]\n"
    "               [--date YYYY-MM-DDThh:mm:ss] [--exposure SEC]\n"
    "               [--binning B1 B2] [--temp DEGC] [--readout WORD]\n"
    "               [--pregain N] [--postgain N] [--offset N] [--adc WORD]\n"
    "               [--naxis N1 N2] [--dirty-byte2] [--pad] [--scene SCENE]\n"
    "               [--fwhm PX] [--beta B] [--tracks N]\n"
    "  KIND: t5 t5binned t5shifted s5 andor16 andor16raw andor32\n"
    "  SCENE: pattern (the default) bias dark flat sky\n"
    "  --date is written as the camera's clock shows it: JST for t5* and s5,\n"
    "  UT for andor*; --bytes cuts (or extends) the whole file to N bytes.\n"
    "  The sky (sky frames; each off unless given):\n"
    "  --moffat          Moffat stars, beta 2.5 to 5 per frame, integrated\n"
    "                    over each pixel (the plain night: sampled Gaussians)\n"
    "  --tracks N        N cosmic-ray tracks of 1 to 20 px on each sky and\n"
    "                    dark frame, besides the single hits\n"
    "  --fields          frames of one target show one star field, with one\n"
    "                    exposure (implied by --thin-cloud, --cloudy-night)\n"
    "  --thin-cloud      Andor frame 19 keeps a quarter of its stars' light\n"
    "  --sky-gradient    Andor frame 6's sky triples across its rows\n"
    "  --defocused-night the FWHM grows from 2.2 to 3.6 x the seeing from\n"
    "                    the middle of the Andor series on\n"
    "  --cloudy-night    every sky frame loses a third to half of its stars'\n"
    "                    light\n"
    "  --fwhm PX, --beta B (0: sampled Gaussian), --tracks N: one frame's\n"
    "  stars and tracks.\n";

struct UsageError {};

long long toInteger(const std::string& text) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') throw UsageError{};
  return value;
}

double toDouble(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') throw UsageError{};
  return value;
}

// A count from 0 to 100000.
int toCount(const std::string& text) {
  const long long value = toInteger(text);
  if (value < 0 || value > 100000) throw UsageError{};
  return static_cast<int>(value);
}

class Args {
 public:
  Args(int argc, char** argv) : args_(argv + 1, argv + argc) {}
  bool done() const { return next_ >= args_.size(); }
  std::string take() {
    if (done()) throw UsageError{};
    return args_[next_++];
  }

 private:
  std::vector<std::string> args_;
  std::size_t next_ = 0;
};

void parseDate(const std::string& text, nightgen::CameraSpec& camera) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi,
                  &s, &tail) != 6) {
    throw UsageError{};
  }
  camera.year = y;
  camera.month = mo;
  camera.day = d;
  camera.hour = h;
  camera.minute = mi;
  camera.second = s;
}

int writeOneCamera(Args& args) {
  const auto kind = nightgen::kindFromName(args.take());
  if (!kind) throw UsageError{};
  const std::string out = args.take();
  nightgen::CameraSpec camera;
  camera.kind = *kind;
  if (nightgen::isAndor(*kind)) camera.ccdTemperature = -60.0;
  long long bytes = -1;
  unsigned seed = 1;
  while (!args.done()) {
    const std::string opt = args.take();
    if (opt == "--bytes") {
      bytes = toInteger(args.take());
    } else if (opt == "--seed") {
      seed = static_cast<unsigned>(toInteger(args.take()));
    } else if (opt == "--date") {
      parseDate(args.take(), camera);
    } else if (opt == "--exposure") {
      camera.exposureSeconds = toDouble(args.take());
    } else if (opt == "--binning") {
      camera.binning1 = static_cast<int>(toInteger(args.take()));
      camera.binning2 = static_cast<int>(toInteger(args.take()));
    } else if (opt == "--temp") {
      camera.ccdTemperature = toDouble(args.take());
    } else if (opt == "--readout") {
      camera.readoutWord = args.take();
    } else if (opt == "--pregain") {
      camera.preGain = static_cast<int>(toInteger(args.take()));
    } else if (opt == "--postgain") {
      camera.postGain = static_cast<int>(toInteger(args.take()));
    } else if (opt == "--offset") {
      camera.offset = static_cast<int>(toInteger(args.take()));
    } else if (opt == "--adc") {
      camera.adcSpeed = args.take();
    } else if (opt == "--naxis") {
      camera.naxis1 = static_cast<int>(toInteger(args.take()));
      camera.naxis2 = static_cast<int>(toInteger(args.take()));
    } else if (opt == "--dirty-byte2") {
      camera.dirtyByte2 = true;
    } else if (opt == "--pad") {
      camera.padData = true;
    } else if (opt == "--scene") {
      const auto scene = nightgen::sceneFromName(args.take());
      if (!scene) throw UsageError{};
      camera.scene = *scene;
    } else if (opt == "--fwhm") {
      camera.seeingSigma = toDouble(args.take()) / nightgen::gaussianFwhm(1.0);
      if (!(camera.seeingSigma > 0.0)) throw UsageError{};
    } else if (opt == "--beta") {
      camera.moffatBeta = toDouble(args.take());
      if (camera.moffatBeta != 0.0 && !(camera.moffatBeta > 1.0)) throw UsageError{};
    } else if (opt == "--tracks") {
      camera.cosmicTracks = toCount(args.take());
    } else {
      throw UsageError{};
    }
  }
  nightgen::writeCameraFile(out, camera, bytes, seed);
  std::printf("%s  %s  %lld bytes\n", out.c_str(), nightgen::kindName(*kind),
              bytes < 0 ? nightgen::fullFileSize(camera) : bytes);
  return 0;
}

int writeNight(const std::string& dir, Args& args) {
  nightgen::NightOptions options;
  while (!args.done()) {
    const std::string opt = args.take();
    if (opt == "--andor") {
      const long long n = toInteger(args.take());
      if (n < 0 || n > 9999) throw UsageError{};
      options.count = static_cast<int>(n);
    } else if (opt == "--seed") {
      options.seed = static_cast<unsigned>(toInteger(args.take()));
    } else if (opt == "--faults") {
      options.faults = true;
    } else if (opt == "--problems") {
      options.problems = true;
    } else if (opt == "--no-directives") {
      options.directives = false;
    } else if (opt == "--moffat") {
      options.moffat = true;
    } else if (opt == "--tracks") {
      options.cosmicTracks = toCount(args.take());
    } else if (opt == "--fields") {
      options.fields = true;
    } else if (opt == "--thin-cloud") {
      options.thinCloud = true;
    } else if (opt == "--sky-gradient") {
      options.skyGradient = true;
    } else if (opt == "--defocused-night") {
      options.defocusedNight = true;
    } else if (opt == "--cloudy-night") {
      options.cloudyNight = true;
    } else {
      throw UsageError{};
    }
  }
  for (const nightgen::NightFile& f : nightgen::writeSampleNight(dir, options)) {
    std::printf("%-40s %10lld  %s%s\n", f.path.c_str(), f.bytes, f.description.c_str(),
                f.problem.empty() ? "" : ("  (" + f.problem + ")").c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argc, argv);
  try {
    const std::string first = args.take();
    if (first == "--camera") return writeOneCamera(args);
    if (first.empty() || first[0] == '-') throw UsageError{};
    return writeNight(first, args);
  } catch (const UsageError&) {
    std::fputs(kUsage, stderr);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mknight: %s\n", e.what());
    return 1;
  }
}
