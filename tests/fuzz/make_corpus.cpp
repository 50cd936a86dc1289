// make_corpus: writes the seed corpus of the fuzz targets from the
// camera-file and sample-night generator.
//
//   make_corpus DIR
//
// makes DIR/runlist, DIR/catalogue, DIR/camera_header and DIR/driver (see
// the fuzz target of each for its input format). The output depends on
// nothing but the generator, so the committed corpus can be made again
// byte for byte with `scripts/fuzz --make-corpus`.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "nightgen.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeSeed(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
}

// The run lists and catalogues of sample nights, made in a scratch folder.
struct Nights {
  std::string converterList, editor32List, editor16List, catalogue;
  std::string plainList;  // no directives: the programs prompt
};

Nights makeNights() {
  std::string scratch = (fs::temp_directory_path() / "make_corpus_XXXXXX").string();
  if (mkdtemp(&scratch[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
  Nights nights;
  try {
    nightgen::NightOptions faults;
    faults.count = 2;
    faults.faults = true;
    nightgen::writeSampleNight(scratch + "/faults", faults);
    nightgen::NightOptions plain;
    plain.count = 1;
    plain.directives = false;
    plain.editor32 = plain.editor16 = false;
    nightgen::writeSampleNight(scratch + "/plain", plain);
    nights.converterList = readText(scratch + "/faults/tarnfits/tarnlist.dat");
    nights.editor32List = readText(scratch + "/faults/tarnfits4/tarnlist.dat");
    nights.editor16List = readText(scratch + "/faults/tarnfits4s/tarnlist.dat");
    nights.catalogue = readText(scratch + "/faults/tarnfits/object.lst");
    nights.plainList = readText(scratch + "/plain/tarnfits/tarnlist.dat");
  } catch (...) {
    fs::remove_all(scratch);
    throw;
  }
  fs::remove_all(scratch);
  return nights;
}

void writeRunListSeeds(const fs::path& dir, const Nights& nights) {
  writeSeed(dir, "converter_night", nights.converterList);
  writeSeed(dir, "editor32_night", nights.editor32List);
  writeSeed(dir, "editor16_night", nights.editor16List);
  writeSeed(dir, "plain_night_with_answers", nights.plainList + "5\nx\n2\n1.5e0\nYamada\n");
  writeSeed(dir, "long_line", std::string(150, 'x') + " M42 1 0 1 0 1 R\nshort\nlast");
  writeSeed(dir, "nul_and_high_bytes",
            std::string("ob1.fts\0 M42 1 0 1 0 1 R\ncaf\xe9.fts M42 1 0 1 0 1 \xff\n", 50));
  writeSeed(dir, "directive_edges",
            "#SEEING 1.5\n# OBSERVER\n# SEEING abc\n#\tremark\n"
            "# OBSERVER abcdefghijklmnopqrstuvwxyz1234\n# WEATHER %s%n%x\n"
            "ob1.fts M42 7 0.0 0 0.0 3 0\nob1.fts M42 1 0.0 9 0.0 2 1\n"
            "ab M42 1 -1e999 1 nan 1 0\nob1.fts M42 -2147483649 0 1 0 1\n");
}

void writeCatalogueSeeds(const fs::path& dir, const Nights& nights) {
  writeSeed(dir, "found_first", "M42\n" + nights.catalogue);
  writeSeed(dir, "found_last", "FLAT\n" + nights.catalogue);
  writeSeed(dir, "missing", "NGC9999\n" + nights.catalogue);
  writeSeed(dir, "broken_sign",
            "M1\nremark line\n\nX 2000.0 01 02 03.0 *01 02 03\nM1 2000.0 05 34 31.9 +22 00 52\n");
  writeSeed(dir, "fields_stop_after_sign", "M1\nM1 1950.0 05 34 31.9 -\n");
  writeSeed(dir, "wide_fields", "%s%n\n%s%n 1950.0 123 456 7e1 +123 456 -0.5\n");
}

nightgen::CameraSpec cameraOf(nightgen::Kind kind) {
  nightgen::CameraSpec camera;
  camera.kind = kind;
  return camera;
}

void writeCameraHeaderSeeds(const fs::path& dir) {
  using nightgen::Kind;
  const Kind kinds[] = {Kind::T5, Kind::T5Binned, Kind::T5BinnedShifted, Kind::S5,
                        Kind::Andor16, Kind::Andor16Raw, Kind::Andor32};
  for (Kind kind : kinds)
    writeSeed(dir, nightgen::kindName(kind), nightgen::headerBlock(cameraOf(kind)));

  nightgen::CameraSpec swapped = cameraOf(Kind::T5);
  swapped.naxis1 = 1018;
  swapped.naxis2 = 1000;
  writeSeed(dir, "t5_axes_swapped", nightgen::headerBlock(swapped));

  nightgen::CameraSpec wide = cameraOf(Kind::T5);
  wide.naxis1 = 11000;  // columns 27 to 30 still read 1000
  writeSeed(dir, "t5_five_digit_axis", nightgen::headerBlock(wide));

  nightgen::CameraSpec unknownReadout = cameraOf(Kind::Andor16);
  unknownReadout.readoutWord = "3.2E-05";
  writeSeed(dir, "andor_unknown_readout", nightgen::headerBlock(unknownReadout));

  nightgen::CameraSpec monthEnd = cameraOf(Kind::Andor16);
  monthEnd.year = 2023;
  monthEnd.month = 12;
  monthEnd.day = 31;
  monthEnd.hour = 20;
  monthEnd.minute = 15;
  monthEnd.exposureSeconds = 1e6;
  writeSeed(dir, "andor_year_end", nightgen::headerBlock(monthEnd));

  writeSeed(dir, "s5_short", nightgen::headerBlock(cameraOf(Kind::S5)).substr(0, 1000));
}

// The run list of the driver seeds: every camera file of the fuzz target's
// folder, and the faults the driver handles.
const char kDriverList[] =
    "# WEATHER CLEAR\n"
    "# SEEING 1.5\n"
    "# OBSERVER Yamada\n"
    "s5.fts FLAT 5 0.0 9 0.00 1 1\n"
    "s5.fts FLAT 5 0.0 9 0.00 1 1\n"
    "t5.fts M42 1 0.0 2 0.20 1 R\n"
    "an.fts Sirius 1 22.5 2 0.10 2 V\n"
    "up.fts M1 1 45.0 3 0.20 2 0\n"
    "short.fts M42 1 0.0 1 0.20 1 R\n"
    "odd.fts M42 1 0.0 1 0.20 1 R\n"
    "missing.fts M42 1 0.0 1 0.20 1 R\n"
    "s5.fts NGC9999 1 0.0 1 0.20 1 R\n"
    "s5.fts FLAT 7 0.0 9 0.00 1 1\n"
    "s5.fts FLAT 1 0.0 0 0.00 1 1\n"
    "s5.fts FLAT 1 0.0 1 0.00 3 1\n"
    "s5.fts FLAT 1 0.0\n"
    "s5.fit FLAT 1 0.0 1 0.0 1 1\n";

const char kDriverPlainList[] =
    "s5.fts M42 1 0.0 1 0.20 1 R\n"
    "# WEATHER FAIR\n"
    "an.fts M42 1 0.0 1 0.20 1 R\n";

void writeDriverSeeds(const fs::path& dir, const Nights& nights) {
  const char* const programs[] = {"tarnfits", "tarnfits4", "tarnfits4s"};
  for (int p = 0; p < 3; ++p) {
    const std::string program(1, static_cast<char>('0' + p));
    writeSeed(dir, std::string(programs[p]) + "_night",
              program + nights.catalogue + '\x1e' + kDriverList);
    writeSeed(dir, std::string(programs[p]) + "_prompts",
              program + nights.catalogue + '\x1e' + kDriverPlainList + '\x1e' +
                  "0\n4\n0.8\nSuzuki\n");
  }
  writeSeed(dir, "answers_run_out",
            "0" + nights.catalogue + '\x1e' + kDriverPlainList + '\x1e' + "x 9 2\n");
  writeSeed(dir, "broken_catalogue",
            std::string("0M42 2000.0 05 35 17.3 *05 23 28\n") + '\x1e' + kDriverList);
  writeSeed(dir, "no_catalogue_line", std::string("1") + '\x1e' + kDriverList);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_corpus DIR\n", stderr);
    return 2;
  }
  try {
    const fs::path dir = argv[1];
    const Nights nights = makeNights();
    writeRunListSeeds(dir / "runlist", nights);
    writeCatalogueSeeds(dir / "catalogue", nights);
    writeCameraHeaderSeeds(dir / "camera_header");
    writeDriverSeeds(dir / "driver", nights);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_corpus: %s\n", e.what());
    return 1;
  }
}
