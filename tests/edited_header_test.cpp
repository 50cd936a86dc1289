// The 36-card headers of the Andor editors.
#include "edited_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kCards = static_cast<int>(kCardsPerBlock);

const char* const kBitpixCard =
    "BITPIX  =                   16 / number of bits per data pixel";
const char* const kBzeroCard =
    "BZERO   =                32768 / offset data range to that of unsigned "
    "short";
const char* const kBscaleCard =
    "BSCALE  =                    1 / default scaling factor";

std::string padded(std::string text) {
  text.resize(kCardLength, ' ');
  return text;
}

std::string inputCard(int n) {
  char text[48];
  std::snprintf(text, sizeof text, "CARD%02d  = 'input card %02d'", n, n);
  return padded(text);
}

const std::string kBlankCard(kCardLength, ' ');
const std::string kEndCard = padded("END");

// A header whose 36 cards can be told apart.
ObservationRecord distinctCards() {
  ObservationRecord rec;
  rec.cameraMode = CameraMode::Andor;
  for (int n = 1; n <= kCards; ++n) rec.savedCards[n] = inputCard(n);
  return rec;
}

// Output cards first..last come from input cards from, from + step, ...
struct Run {
  int first;
  int last;
  int from;
  int step;
};

using FixedCards = std::vector<std::pair<int, const char*>>;

std::vector<std::string> expectedFrom(const ObservationRecord& rec,
                                      const std::vector<Run>& runs,
                                      const FixedCards& fixedCards) {
  std::vector<std::string> cards(kCardsPerBlock, "(unset)");
  for (const Run& run : runs) {
    for (int out = run.first; out <= run.last; ++out) {
      cards[out - 1] = rec.savedCards[run.from + (out - run.first) * run.step];
    }
  }
  for (const auto& [out, text] : fixedCards) cards[out - 1] = text;
  return cards;
}

void expectSameCards(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i], expected[i]) << "output card " << i + 1;
  }
}

const std::vector<Run> kTarnfits4Runs = {{1, 1, 1, 1}, {3, 10, 3, 1},
                                         {13, 36, 13, 1}};
const FixedCards kTarnfits4Fixed = {
    {2, kBitpixCard}, {11, kBzeroCard}, {12, kBscaleCard}};

const std::vector<Run> kTarnfits4sRuns = {{1, 10, 1, 1}, {13, 32, 11, 1},
                                          {33, 36, 30, 0}};
const FixedCards kTarnfits4sFixed = {
    {11, kBzeroCard}, {12, kBscaleCard}};

TEST(EditedHeader, Tarnfits4EveryPosition) {
  const ObservationRecord rec = distinctCards();
  const std::vector<std::string> cards =
      composeEditedHeader(rec, kTarnfits4CardMap);
  expectSameCards(cards, expectedFrom(rec, kTarnfits4Runs, kTarnfits4Fixed));
  for (int dropped : {2, 11, 12}) {
    EXPECT_EQ(std::count(cards.begin(), cards.end(), inputCard(dropped)), 0)
        << "input card " << dropped;
  }
}

TEST(EditedHeader, Tarnfits4sEveryPosition) {
  const ObservationRecord rec = distinctCards();
  const std::vector<std::string> cards =
      composeEditedHeader(rec, kTarnfits4sCardMap);
  expectSameCards(cards,
                  expectedFrom(rec, kTarnfits4sRuns, kTarnfits4sFixed));
  EXPECT_EQ(std::count(cards.begin(), cards.end(), inputCard(30)), 5);
  for (int dropped = 31; dropped <= 36; ++dropped) {
    EXPECT_EQ(std::count(cards.begin(), cards.end(), inputCard(dropped)), 0)
        << "input card " << dropped;
  }
}

// Headers that end early: END and the blank cards after it move with the
// map; the fixed cards stand at their places all the same.
TEST(EditedHeader, EarlyEndCard) {
  const struct {
    const char* name;
    const CardMap* map;
    int endInputCard;
    std::vector<std::pair<int, std::string>> expected;  // output card, text
  } rows[] = {
      {"tarnfits4, END at 8", &kTarnfits4CardMap, 8,
       {{7, inputCard(7)}, {8, kEndCard}, {9, kBlankCard}, {10, kBlankCard},
        {11, kBzeroCard}, {12, kBscaleCard}, {13, kBlankCard},
        {36, kBlankCard}}},
      {"tarnfits4, END at 2", &kTarnfits4CardMap, 2,
       {{1, inputCard(1)}, {2, kBitpixCard}, {3, kBlankCard},
        {11, kBzeroCard}}},
      {"tarnfits4s, END at 5", &kTarnfits4sCardMap, 5,
       {{5, kEndCard}, {10, kBlankCard}, {11, kBzeroCard},
        {12, kBscaleCard}, {13, kBlankCard}, {36, kBlankCard}}},
      {"tarnfits4s, END at 20", &kTarnfits4sCardMap, 20,
       {{21, inputCard(19)}, {22, kEndCard}, {23, kBlankCard},
        {32, kBlankCard}, {36, kBlankCard}}},
      {"tarnfits4s, END at 30", &kTarnfits4sCardMap, 30,
       {{31, inputCard(29)}, {32, kEndCard}, {33, kEndCard}, {34, kEndCard},
        {35, kEndCard}, {36, kEndCard}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ObservationRecord rec = distinctCards();
    rec.savedCards[row.endInputCard] = kEndCard;
    for (int n = row.endInputCard + 1; n <= kCards; ++n) {
      rec.savedCards[n] = kBlankCard;
    }
    const std::vector<std::string> cards = composeEditedHeader(rec, *row.map);
    ASSERT_EQ(cards.size(), 36u);
    for (const auto& [out, text] : row.expected) {
      EXPECT_EQ(cards[out - 1], text) << "output card " << out;
    }
  }
}

TEST(EditedHeader, CardsKeepEveryByte) {
  std::string odd = "HISTORY %s%n%d 100% \t\x01\x7f\x80\xff";
  odd += '\0';
  odd = padded(odd);
  ObservationRecord rec = distinctCards();
  rec.savedCards[14] = odd;
  rec.savedCards[30] = odd;
  const std::vector<std::string> four =
      composeEditedHeader(rec, kTarnfits4CardMap);
  const std::vector<std::string> fourS =
      composeEditedHeader(rec, kTarnfits4sCardMap);
  ASSERT_EQ(four.size(), 36u);
  ASSERT_EQ(fourS.size(), 36u);
  EXPECT_EQ(four[13], odd);
  EXPECT_EQ(four[29], odd);
  EXPECT_EQ(fourS[15], odd);
  EXPECT_EQ(fourS[35], odd);
}

}  // namespace
