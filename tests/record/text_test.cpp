// Code-page conversions and the collation: keys and comparison always agree.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace ludrex::platform {
namespace {

int Cmp(const std::string& a, const std::string& b) {
  return CompareTexts(a.data(), a.size(), b.data(), b.size());
}

std::vector<std::uint8_t> Key(const std::string& s) {
  std::vector<std::uint8_t> k(s.size() + 1);
  EXPECT_EQ(TextSortKey(s.data(), s.size(), k.data(), k.size()), s.size() + 1);
  return k;
}

TEST(Collation, LettersWithoutCaseLatinBeforeCyrillic) {
  EXPECT_EQ(Cmp("Tal", "TAL"), 0);
  EXPECT_EQ(Cmp("tal", "Tam"), -1);
  EXPECT_EQ(Cmp("Zz", "\xC0"), -1);                           // Z before А
  EXPECT_EQ(Cmp("\xE0\xE1", "\xC0\xC1"), 0);                  // аб = АБ
  EXPECT_EQ(Cmp("\xC5", "\xA8"), -1);                         // Е before Ё
  EXPECT_EQ(Cmp("\xA8", "\xC6"), -1);                         // Ё before Ж
  EXPECT_EQ(Cmp("\xB8\xEB\xEA\xE0", "\xA8\xCB\xCA\xC0"), 0);  // ёлка = ЁЛКА
  EXPECT_EQ(Cmp("\xDF", "\xFF"), 0);                          // Я = я, the last letter
  EXPECT_EQ(Cmp("9", "a"), -1);                               // digits before letters
  EXPECT_EQ(Cmp(" ", "0"), -1);                               // symbols before digits
  EXPECT_EQ(Cmp("Ab", "Ab "), -1);                            // a prefix sorts first
  EXPECT_EQ(Cmp("", ""), 0);
}

TEST(Collation, KeyOrderEqualsComparison) {
  std::mt19937 rng(866);
  const std::string alphabet =
      "aAbBeEzZ09 -.\xC0\xE0\xC5\xE5\xA8\xB8\xC6\xE6\xDF\xFF\x80\x90\xB2\xB3\x01\xA0";
  for (int i = 0; i < 20000; ++i) {
    std::string s[2];
    for (auto& t : s) {
      t.resize(std::uniform_int_distribution<int>(0, 6)(rng));
      for (char& c : t) {
        c = i % 2 ? alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)]
                  : static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
      }
    }
    std::vector<std::uint8_t> ka = Key(s[0]), kb = Key(s[1]);
    int byKey = ka < kb ? -1 : (kb < ka ? 1 : 0);
    ASSERT_EQ(byKey, Cmp(s[0], s[1])) << i;
  }
  // Every byte has a nonzero weight, so the key's terminator sorts before any character.
  for (int c = 0; c < 256; ++c) EXPECT_GT(CollationWeight(static_cast<unsigned char>(c)), 0);
  std::uint8_t small[2];
  EXPECT_EQ(TextSortKey("abc", 3, small, 2), 4u);  // too small: length only
}

TEST(CodePages, OemLettersRoundTrip) {
  for (int c = 0; c < 256; ++c) {
    char oem = static_cast<char>(c), ansi = 0, back = 0;
    OemToCp1251(&oem, &ansi, 1);
    Cp1251ToOem(&ansi, &back, 1);
    bool box = c >= 0xB0 && c <= 0xDF;
    if (!box && c != 0xFB && c != 0xFE) {
      EXPECT_EQ(back, oem) << c;
    }
  }
  char text[] = "\x8F\xA5\xE2\xE0\xAE\xE1\xEF\xAD \xF0";  // Петросян Ё
  OemToCp1251(text, text, sizeof text - 1);
  EXPECT_EQ(std::string(text), "\xCF\xE5\xF2\xF0\xEE\xF1\xFF\xED \xA8");
  char euro = '\x88';  // no OEM form
  Cp1251ToOem(&euro, &euro, 1);
  EXPECT_EQ(euro, 'E');
}

}  // namespace
}  // namespace ludrex::platform
