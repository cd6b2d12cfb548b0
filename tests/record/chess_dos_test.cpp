// The DOS game encoding and the DOS packed texts.
#include <gtest/gtest.h>

#include <random>

#include "chess_helpers.h"
#include "helpers.h"

namespace ludrex::testing {
namespace {

using V = std::vector<std::uint8_t>;

class DosCodec : public ::testing::Test {
 protected:
  void TearDown() override { SetDosCommentReader(nullptr); }
  std::vector<Elem> Decode(const V& body) {
    GameClear(game);
    DecodeDosGame(body.data(), std::int32_t(body.size()), game, String(""));
    GameFinish(game);
    return Elements(game);
  }
  CaptureScope capture_;
  GameHolder game;
};

// Codes: e-pawn (slot 12) double step 111 + 4 * 6 + 1; king 0..10; h-rook 53..66.
constexpr std::uint8_t kEPawnDouble = 136;
Elem M(int piece, int from, int to) {
  return {1, std::uint8_t(piece), std::uint8_t(from), std::uint8_t(to), 0, {}, {}};
}

TEST_F(DosCodec, MovesCastlingAndDroppedMoves) {
  // 1. e4 e5 2. Bc4 (f-bishop, delta 0x35) Bc5 (0x55) 3. O-O: the rook's part first, dropped
  // (0xF9) and not counted as a turn, then the king (delta 0x02); 3... Ke7 (0x70), an ignored
  // 0xE0, 4. Re1: the rook now on f1 steps one file left (0x07).
  const V body = {0,    0,      0, 0, kEPawnDouble, kEPawnDouble, 81 + 11, 81 + 4,
                  0xF9, 53 + 8, 9, 5, 0xE0,         53 + 7,       0xFF,    1};
  auto el = Decode(body);
  ASSERT_EQ(el.size(), 7u);
  EXPECT_EQ(el[0], M(1, 0x14, 0x34));
  EXPECT_EQ(el[1], M(1, 0x64, 0x44));
  EXPECT_EQ(el[2], M(3, 0x05, 0x32));
  EXPECT_EQ(el[3], M(3, 0x75, 0x42));
  EXPECT_EQ(el[4], M(6, 0x04, 0x06));
  EXPECT_EQ(el[5], M(6, 0x74, 0x64));
  EXPECT_EQ(el[6], M(4, 0x05, 0x04));
}

TEST_F(DosCodec, PawnsEnPassantAndPromotion) {
  // White e-pawn: e4 (0x20), e5 (0x10); Black d-pawn d5 (0x60); White takes en passant, written
  // sideways (0x07): the element goes to d6.
  const V ep = {0, 0, 0, 0, kEPawnDouble, 111 + 3 * 6 + 1, 111 + 4 * 6, 9, 111 + 4 * 6 + 4};
  auto el = Decode(ep);
  ASSERT_EQ(el.size(), 5u);
  EXPECT_EQ(el[1], M(1, 0x63, 0x43));
  EXPECT_EQ(el[2], M(1, 0x34, 0x44));
  EXPECT_EQ(el[4], M(1, 0x44, 0x53));
  // A pawn marching to the last rank becomes a queen in the element; 0xFD makes a rook that
  // then moves from its promotion slot (slot 18, rook run 181..194).
  V march = {1, 0, 0, 0};
  const std::uint8_t aPawn = 111;  // a-pawn single step
  for (int i = 0; i < 6; ++i) {
    march.push_back(aPawn);
    march.push_back(i % 2 ? 5 : 1);  // Black's king steps back and forth (0x70, 0x10)
  }
  el = Decode(march);
  ASSERT_EQ(el.size(), 12u);
  EXPECT_EQ(el[10], M(5, 0x60, 0x70));
  const V promo = {0, 0, 0, 0, 0xFD, aPawn, 0xE5, aPawn, 181 + 5};
  el = Decode(promo);
  ASSERT_EQ(el.size(), 3u);
  EXPECT_EQ(el[0], M(4, 0x10, 0x20));
  EXPECT_EQ(el[2],
            M(4, 0x20, 0x40));  // rook run: 0x20 is the sixth  // rook slot: two ranks up (0x20)
}

TEST_F(DosCodec, SixteenBitMoves) {
  auto v = [](int from, int to, int kind) {
    const int value = (to >> 4) | (to & 7) << 3 | (from >> 4) << 7 | (from & 7) << 10 | kind << 13;
    return V{std::uint8_t(value), std::uint8_t(value >> 8)};
  };
  V body = {0, 0, 0, 0, kEPawnDouble, 0xFA};
  for (const V& m : {v(0x64, 0x44, 1), v(0x06, 0x25, 2), V{0x40, 0xE0}, v(0x71, 0x52, 2),
                     v(0x67, 0x57, 1), v(0x34, 0x33, 1)})
    body.insert(body.end(), m.begin(), m.end());
  body.push_back(0);
  body.push_back(0);
  body.push_back(kEPawnDouble);  // after the end mark: not read
  auto el = Decode(body);
  ASSERT_EQ(el.size(), 5u);
  EXPECT_EQ(el[1], M(1, 0x64, 0x44));
  EXPECT_EQ(el[2], M(2, 0x06, 0x25));
  EXPECT_EQ(el[3], M(1, 0x67, 0x57));  // Nc6 dropped
  EXPECT_EQ(el[4], M(1, 0x34, 0x43));  // sideways: en passant one rank up
}

std::vector<std::string> g_readerLog;
void LoggingReader(std::uint32_t reference, const String&, Game* game, const ChessElement* move) {
  g_readerLog.push_back(std::to_string(reference) + (move ? " move" : " end"));
  if (move) GameAppend(game, move);
}

TEST_F(DosCodec, CommentReaderHook) {
  g_readerLog.clear();
  SetDosCommentReader(LoggingReader);
  EXPECT_EQ(Decode(V{7, 0, 0, 0, kEPawnDouble, kEPawnDouble}).size(), 2u);
  EXPECT_EQ(g_readerLog, (std::vector<std::string>{"7 move", "7 move", "7 end"}));
  g_readerLog.clear();
  EXPECT_EQ(Decode(V{0, 0, 0, 0, kEPawnDouble}).size(), 1u);  // reference 0: no reader
  EXPECT_TRUE(g_readerLog.empty());
}

TEST_F(DosCodec, ShortAndRandomBodies) {
  EXPECT_TRUE(Decode(V{1, 2, 3}).empty());
  EXPECT_TRUE(Decode(V{0, 0, 0, 0, 0xFB}).empty());
  EXPECT_TRUE(Decode(V{0, 0, 0, 0, 0xFB, 0xE0}).empty());
  EXPECT_EQ(Decode(V{0, 0, 0, 0, kEPawnDouble, 0xFA, 0x33}).size(), 1u);
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    V bytes(rng() % 120);
    for (auto& b : bytes) b = std::uint8_t(rng());
    if (bytes.size() >= 4) bytes[0] = bytes[1] = bytes[2] = bytes[3] = 0;
    Decode(bytes);
  }
}

V Pack(const std::vector<int>& values) {
  V out((values.size() + 1) / 2);
  for (std::size_t i = 0; i < values.size(); ++i)
    out[i / 2] |= std::uint8_t((values[i] & 15) << (i % 2 ? 4 : 0));
  return out;
}

std::string Text(const std::vector<int>& values) {
  V b = Pack(values);
  return Str(DecodeDosPackedText(b.data(), std::int32_t(b.size())));
}

TEST(DosPackedText, CapitalsEscapesAndCountries) {
  EXPECT_EQ(Text({6, 1, 7}), "E R");
  EXPECT_EQ(Text({0, 6}), "e");
  EXPECT_EQ(Text({0, 6, 0, 6, 6}), "eEe");
  // Escapes: 14 then k - 16 (b ... z), 15 then k - 32 (digits and punctuation).
  EXPECT_EQ(Text({14, 0, 2, 14, 15, 15, 0, 15, 13}), "Baz0.");
  EXPECT_EQ(Text({15, 13, 14, 1}), ".C");  // a full stop capitalises the next letter
  // 47: a country code in brackets, or the byte itself above 29.
  EXPECT_EQ(Text({8, 15, 15, 5, 1, 6}), "N (RUS)e");
  EXPECT_EQ(Text({15, 15, 13, 1, 15, 15, 0xE, 0xC}), " (YUG)\xCE");
  EXPECT_EQ(Text({4, 2}), "(A");
  // Cut short inside an escape: what was read stays.
  EXPECT_EQ(Text({6, 15}), "E");
  EXPECT_EQ(Text({6, 15, 15, 3}), "E");
  EXPECT_EQ(DosCountryCode(0), std::string("AUT"));
  EXPECT_EQ(DosCountryCode(29), std::string("YUG"));
  EXPECT_EQ(DosCountryCode(30), nullptr);
}

}  // namespace
}  // namespace ludrex::testing
