#include "edited_header.h"

namespace {

constexpr const char* kBitpix16Card =
    "BITPIX  =                   16 / number of bits per data pixel";
constexpr const char* kBzeroCard =
    "BZERO   =                32768 / offset data range to that of unsigned "
    "short";
constexpr const char* kBscaleCard =
    "BSCALE  =                    1 / default scaling factor";

constexpr CardSource input(int card) { return {card, nullptr}; }
constexpr CardSource fixed(const char* text) { return {0, text}; }

}  // namespace

const CardMap kTarnfits4CardMap = {
    input(1),  fixed(kBitpix16Card), input(3),  input(4),  input(5),
    input(6),  input(7),  input(8),  input(9),  input(10),
    fixed(kBzeroCard), fixed(kBscaleCard),
    input(13), input(14), input(15), input(16), input(17), input(18),
    input(19), input(20), input(21), input(22), input(23), input(24),
    input(25), input(26), input(27), input(28), input(29), input(30),
    input(31), input(32), input(33), input(34), input(35), input(36),
};

const CardMap kTarnfits4sCardMap = {
    input(1),  input(2),  input(3),  input(4),  input(5),
    input(6),  input(7),  input(8),  input(9),  input(10),
    fixed(kBzeroCard), fixed(kBscaleCard),
    input(11), input(12), input(13), input(14), input(15), input(16),
    input(17), input(18), input(19), input(20), input(21), input(22),
    input(23), input(24), input(25), input(26), input(27), input(28),
    input(29), input(30), input(30), input(30), input(30), input(30),
};

std::vector<std::string> composeEditedHeader(const ObservationRecord& rec,
                                             const CardMap& map) {
  std::vector<std::string> cards;
  cards.reserve(map.size());
  for (const CardSource& source : map) {
    if (source.inputCard == 0) {
      cards.emplace_back(source.fixedText);
    } else {
      cards.push_back(rec.savedCards[source.inputCard]);
    }
  }
  return cards;
}
