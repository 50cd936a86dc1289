#include "cards.h"

bool assembleHeader(const std::vector<std::string>& cards, std::string& bytes) {
  bytes.clear();
  for (const std::string& card : cards) {
    if (card.size() > kCardLength) {
      bytes.clear();
      return false;
    }
    bytes += card;
    bytes.append(kCardLength - card.size(), ' ');
  }
  return true;
}
