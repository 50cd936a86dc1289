// Run-list line handling: pieces, classification, directives, entry fields.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "runlist.h"

namespace {

// Reads every piece of a text as the main loop does.
std::vector<std::string> piecesOf(const std::string& text) {
  std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::vector<std::string> pieces;
  std::string piece;
  while (readListPiece(f, piece)) pieces.push_back(piece);
  std::fclose(f);
  return pieces;
}

TEST(ListPieces, LongLinesAreCutInto99CharacterPieces) {
  std::string longLine(150, 'x');
  auto pieces = piecesOf(longLine + "\nshort\nlast");
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0], std::string(99, 'x'));
  EXPECT_EQ(pieces[1], std::string(51, 'x') + "\n");
  EXPECT_EQ(pieces[2], "short\n");
  EXPECT_EQ(pieces[3], "last");  // a final line without its line end
}

TEST(ListPieces, ALineEndsAtANulByte) {
  std::string text("ab\0cd\nnext\n", 11);
  auto pieces = piecesOf(text);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "ab");
  EXPECT_EQ(pieces[1], "next\n");
}

TEST(Classify, IgnoreRulesComeFirstAndInOrder) {
  const struct {
    const char* line;
    const char* last;
    LineKind kind;
  } cases[] = {
      {"\n", "", LineKind::Ignored},
      {"x", "", LineKind::Ignored},  // one character without a line end
      {"   \t \n", "", LineKind::Ignored},
      {"ob1.fts M42 1 0 1 0 1 R\n", "ob1.fts M42 1 0 1 0 1 R\n", LineKind::Ignored},
      {"ob1.fts M42 1 0 1 0 1 R\n", "ob1.fts M42 1 0 1 0 1 V\n", LineKind::Entry},
      {"# SEEING 1.5\n", "", LineKind::Directive},
      {"#\tremark without keyword\n", "", LineKind::Directive},
      {"#SEEING 1.5\n", "", LineKind::Entry},  // hash run together: an entry
      {"  # WEATHER FAIR\n", "", LineKind::Directive},
  };
  for (const auto& c : cases)
    EXPECT_EQ(classifyLine(c.line, c.last), c.kind) << "line: " << c.line;
}

TEST(Directives, SetTheirValueAndLaterOnesReplaceEarlierOnes) {
  RunSettings s;
  applyDirective("# WEATHER FAIR\n", s);
  applyDirective("# SEEING 2.5\n", s);
  applyDirective("# OBSERVER Tanaka\n", s);
  EXPECT_TRUE(s.weatherSet && s.seeingSet && s.observerSet);
  EXPECT_EQ(s.weather, "FAIR");
  EXPECT_FLOAT_EQ(s.seeing, 2.5f);
  EXPECT_EQ(s.observer, "Tanaka");
  applyDirective("# WEATHER VERY_HAZY_WITH_A_WORD_LONGER_THAN_TWENTY_THREE\n", s);
  EXPECT_EQ(s.weather, "VERY_HAZY_WITH_A_WORD_LONGER_THAN_TWENTY_THREE");
  applyDirective("# SEEING abc\n", s);
  EXPECT_FLOAT_EQ(s.seeing, 0.0f);
}

TEST(Directives, ObserverIsCutTo28Characters) {
  RunSettings s;
  applyDirective("# OBSERVER abcdefghijklmnopqrstuvwxyz1234\n", s);
  EXPECT_EQ(s.observer, "abcdefghijklmnopqrstuvwxyz12");
}

TEST(Directives, UnknownKeywordsAndMissingValuesChangeNothing) {
  RunSettings s;
  applyDirective("# this is a remark\n", s);
  applyDirective("# seeing 1.0\n", s);  // keywords are upper case
  EXPECT_EQ(applyDirective("# WEATHER\n", s), "# Warning! Directive without value ignored\n");
  EXPECT_FALSE(s.weatherSet || s.seeingSet || s.observerSet);
}

TEST(EntryFields, ReadAsScanfReadsThem) {
  ListEntry e;
  ASSERT_EQ(parseEntryLine("OB0001.FTS M42 1 22.5 3 0.20 2 R\n", e), 8);
  EXPECT_EQ(e.fileName, "OB0001.FTS");
  EXPECT_EQ(e.objectName, "M42");
  EXPECT_EQ(e.dataType, 1);
  EXPECT_FLOAT_EQ(e.hwpAngle, 22.5f);
  EXPECT_EQ(e.diaphragm, 3);
  EXPECT_FLOAT_EQ(e.slitWidth, 0.2f);
  EXPECT_EQ(e.clump, 2);
  EXPECT_EQ(e.filter, "R");

  const struct {
    const char* line;
    int fields;
  } cases[] = {
      {"a.fts\n", 1},
      {"a.fts M42 x 0 1 0 1 R\n", 2},     // data type is no number
      {"a.fts M42 1 0 1 0 1\n", 7},       // filter missing
      {"a.fts M42 1.5 0 1 0 1 R\n", 8},   // %d stops at the point, %f reads ".5"
      {"a.fts M42 -3 -1e1 +9 1 2 V extra\n", 8},
  };
  for (const auto& c : cases) {
    ListEntry x;
    EXPECT_EQ(parseEntryLine(c.line, x), c.fields) << c.line;
  }
}

TEST(EntryFields, OutputNameReplacesTheLastThreeCharacters) {
  EXPECT_EQ(outputNameFor("ob0001.fts"), "ob0001.fit");
  EXPECT_EQ(outputNameFor("m51.fits"), "m51.ffit");
  EXPECT_EQ(outputNameFor("abc"), "fit");
}

TEST(EntryCodes, TablesAndCheckOrder) {
  ListEntry e;
  e.dataType = 6;
  e.diaphragm = 8;
  e.clump = 2;
  ASSERT_TRUE(checkEntryCodes(e).isAccepted());
  EXPECT_EQ(e.dataTypeName, "NEARBY_SKY");
  EXPECT_EQ(e.diaphragmName, "1SLIT004");
  EXPECT_EQ(e.clumpName, "EAST");
  e.diaphragm = 2;
  e.clump = 1;
  ASSERT_TRUE(checkEntryCodes(e).isAccepted());
  EXPECT_EQ(e.diaphragmName, "2HOLES_LOWER");
  EXPECT_EQ(e.clumpName, "WEST");

  EXPECT_EQ(filterNameFor("0"), "NO_FILTER");
  EXPECT_EQ(filterNameFor("1"), "GT");
  EXPECT_EQ(filterNameFor("R"), "R");
  EXPECT_EQ(filterNameFor("10"), "10");
}

}  // namespace
