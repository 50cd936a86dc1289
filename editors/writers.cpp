#include "writers.h"

#include "edited_header.h"

namespace {

const char* const kEditorBanner1 = "Edit andor fits file with tarnfits4 \n";
const char* const kEditorBanner2 = "  *.fts => *.fit \n";

// Only Andor files get the edited header; T5 and S5 outputs hold samples only.
bool writeEdited(const ListEntry& entry, const ObservationRecord& rec,
                 const CardMap& map, const SampleRule& rule) {
  std::vector<std::string> cards;
  if (rec.cameraMode == CameraMode::Andor) cards = composeEditedHeader(rec, map);
  runOutputStage(entry, rec.pixelCount, cards, rule);
  return true;
}

}  // namespace

void convert32To16(const unsigned char* in, unsigned char* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = static_cast<unsigned char>(in[4 * i] + in[4 * i + 2]);
    out[2 * i + 1] = in[4 * i + 3];
  }
}

void flipTopBit(const unsigned char* in, unsigned char* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = static_cast<unsigned char>(in[2 * i] ^ 0x80);
    out[2 * i + 1] = in[2 * i + 1];
  }
}

const SampleRule kTarnfits4SampleRule = {4, convert32To16, false};
const SampleRule kTarnfits4sSampleRule = {2, flipTopBit, false};

bool writeTarnfits4Output(const ListEntry& entry, const RunSettings&,
                          const CatalogueEntry&, const ObservationRecord& rec) {
  return writeEdited(entry, rec, kTarnfits4CardMap, kTarnfits4SampleRule);
}

bool writeTarnfits4sOutput(const ListEntry& entry, const RunSettings&,
                           const CatalogueEntry&, const ObservationRecord& rec) {
  return writeEdited(entry, rec, kTarnfits4sCardMap, kTarnfits4sSampleRule);
}

const DriverProfile kTarnfits4Profile = {
    "tarnfits4",
    "Rewrites Andor DV440 files with 32-bit samples as files with 16-bit\n"
    "samples: fixed BITPIX, BZERO and BSCALE cards in the camera's first 36\n"
    "header cards, and each sample reduced to 2 bytes.\n",
    kEditorBanner1, kEditorBanner2, AndorRule::KeepTo36,
    writeTarnfits4Output,
};

const DriverProfile kTarnfits4sProfile = {
    "tarnfits4s",
    "Rewrites Andor DV440 files with 16-bit samples: BZERO and BSCALE cards\n"
    "inserted after the camera's tenth header card, and the top bit of every\n"
    "sample inverted (unsigned values under BZERO 32768).\n",
    kEditorBanner1, kEditorBanner2, AndorRule::KeepTo30,
    writeTarnfits4sOutput,
};
