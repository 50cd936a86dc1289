// The 36-card headers of the Andor editors: which card of the camera header,
// or which fixed text, stands at each output position.
#ifndef EDITORS_EDITED_HEADER_H
#define EDITORS_EDITED_HEADER_H

#include <array>
#include <string>
#include <vector>

#include "records.h"

// Where one output card comes from: saved input card `inputCard` (1 to 36),
// or `fixedText` when inputCard is 0.
struct CardSource {
  int inputCard;
  const char* fixedText;
};

using CardMap = std::array<CardSource, kCardsPerBlock>;

// tarnfits4 (32-bit samples to 16-bit): cards 2, 11 and 12 become fixed
// BITPIX, BZERO and BSCALE cards, every other card keeps its position.
extern const CardMap kTarnfits4CardMap;
// tarnfits4s (16-bit samples): input cards 1 to 10 stay, the fixed BZERO and
// BSCALE cards follow, input cards 11 to 30 move two places down and input
// card 30 fills the block (output cards 32 to 36).
extern const CardMap kTarnfits4sCardMap;

// The 36 card texts of the map in order: saved cards as they are (80 bytes,
// or empty when the card was not kept), fixed texts unpadded. The caller
// blank-fills each to 80 characters.
std::vector<std::string> composeEditedHeader(const ObservationRecord& rec,
                                             const CardMap& map);

#endif  // EDITORS_EDITED_HEADER_H
