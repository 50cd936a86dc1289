// FITS header cards and blocks: the one place where a card is made exactly
// 80 columns wide.
#ifndef RUNLIST_CARDS_H
#define RUNLIST_CARDS_H

#include <cstddef>
#include <string>
#include <vector>

constexpr std::size_t kCardLength = 80;     // bytes of a header card
constexpr std::size_t kBlockLength = 2880;  // bytes of a FITS block
constexpr std::size_t kCardsPerBlock = 36;

// The header bytes of `cards`: each card blank-filled to 80 columns, in
// order. Returns false, and leaves `bytes` empty, when a card is longer than
// 80 columns: it would shift every later byte of the file.
bool assembleHeader(const std::vector<std::string>& cards, std::string& bytes);

#endif  // RUNLIST_CARDS_H
