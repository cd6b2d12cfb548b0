// The game-score criterion: its packed form (golden header, round trip of every section, damaged
// blocks), the field's Matches and the search-time test on native bytes, which must agree with
// decoding then matching for many random criteria on the data games.
#include "search/chess_crit.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "../record/chess_helpers.h"
#include "../record/helpers.h"
#include "capture.h"
#include "record/chess_codec.h"
#include "record/field_chess.h"
#include "record/native_replay.h"
#include "search/subset.h"

namespace ludrex::testing {
namespace {

class ChessCritTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<CaptureScope>();
    BuildSubsetTables();
    BuildGameScoreTables();
    InstallCriteria();
  }
  static std::unique_ptr<Field> MakeField(std::int32_t type) {
    return std::unique_ptr<Field>(CreateField(FieldSpec(type, String("~4"), 0, String(""))));
  }
  static ChessFieldCrit& Crit(std::unique_ptr<Field>& f) { return dynamic_cast<ChessFieldCrit&>(*f); }
  static std::vector<std::uint8_t> Packed(Field& f) {
    ByteBlock out;
    f.Pack(kNativeBase, String(""), out);
    return Bytes(out);
  }
  std::unique_ptr<CaptureScope> scope_;
};

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST_F(ChessCritTest, FactoryMakesTheCriterionAndEmptyPacksAHeaderOnly) {
  auto f = MakeField(kChessType | kCriterionBit);
  ASSERT_NE(dynamic_cast<ChessFieldCrit*>(f.get()), nullptr);
  std::vector<std::uint8_t> bytes = Packed(*f);
  // Side mask 3, everything else 0: fifteen values.
  std::vector<std::uint8_t> golden(60, 0);
  golden[0] = 3;
  EXPECT_EQ(bytes, golden);
  ByteBlock out;
  EXPECT_RAISES(805, f->Pack(kDosBase, String(""), out));
  f->Pack(2, String(""), out);
  EXPECT_EQ(out.Count(), 0);
}

TEST_F(ChessCritTest, SectionsFollowTheHeaderInOrderAndRoundTrip) {
  auto f = MakeField(kChessType | kCriterionBit);
  PositionSettings& s = Crit(f).Settings();
  s.sideMask = 1;
  s.includeVariations = 1;
  s.positionOn = 1;
  for (int sq = 0; sq < 128; ++sq) s.squareMasks[sq] = 0xFFFF;
  s.squareMasks[0x04] = 0x0100;
  s.regionsOn = 1;
  s.regionFlag = 1;
  s.regionMasks[0x10] = 5;
  s.material[2][4][0] = 1;
  s.material[2][4][1] = 0;
  s.lengths = {{20, 30}, {40, 50}};
  s.minVariations = 2;
  s.setupStart = 1;
  s.anyComment = 1;
  s.eventListOn = 1;
  s.eventFlag = 1;
  // One chain of one arrival event on e4 with a White pawn, no pairs.
  const std::uint32_t list[] = {24, 1, 1, 0x34000000u, 0x2000, 0};
  for (std::uint32_t v : list)
    for (int k = 0; k < 4; ++k) s.eventList.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  s.matDiffOn = 1;
  for (int i = 0; i < 6; ++i) {
    s.matMin[i] = static_cast<std::int32_t>(0x80000000u);
    s.matMax[i] = 0;
  }
  s.matMin[0] = 1;
  s.matMax[0] = 1;
  s.persistence = 3;
  s.countRange = (32u << 16) | 2u;
  s.mirrorOn = 1;
  s.mirrorValue = 3;
  s.bishopsOn = 1;
  s.bishopsKind = 1;
  s.textCommentsOn = 1;
  TextCommentEntry e1;
  e1.hasPrefix = true;
  e1.prefix = "[%";
  e1.hasInfo = true;
  e1.info = "clk";
  e1.searchType = 2;
  e1.caseSensitive = 1;
  TextCommentEntry e2;  // neither text
  s.textComments = {e1, e2};

  std::vector<std::uint8_t> bytes = Packed(*f);
  // Header: the fifteen switches, game conditions on computed.
  const std::uint32_t header[15] = {1, 1, 1, 1, 1, 1, 2, 1, 0, 1, 1, 1, 1, 1, 1};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(U32At(bytes, 4 * i), header[i]) << i;
  std::size_t at = 60;
  EXPECT_EQ(U32At(bytes, at + 4 * 0x04), 0x0100u);
  at += 512;
  EXPECT_EQ(U32At(bytes, at + 4 * 0x10), 5u);
  at += 512;
  EXPECT_EQ(U32At(bytes, at + 8 * (2 * 14 + 4)), 1u);  // region 2, White queens' maximum
  at += 448;
  EXPECT_EQ(U32At(bytes, at), 2u);  // length ranges
  EXPECT_EQ(U32At(bytes, at + 4), 20u);
  EXPECT_EQ(U32At(bytes, at + 8), 30u);
  at += 4 + 16;
  EXPECT_EQ(U32At(bytes, at), 1u);  // event flag, then the list with its own length first
  EXPECT_EQ(U32At(bytes, at + 4), 24u);
  at += 4 + 24;
  EXPECT_EQ(U32At(bytes, at), 1u);  // material difference: pawns minimum
  EXPECT_EQ(U32At(bytes, at + 48), 3u);
  EXPECT_EQ(U32At(bytes, at + 52), (32u << 16) | 2u);
  at += 56;
  EXPECT_EQ(U32At(bytes, at), 3u);  // mirror value
  EXPECT_EQ(U32At(bytes, at + 4), 1u);  // bishops kind
  at += 8;
  EXPECT_EQ(U32At(bytes, at), 2u);  // text entries
  EXPECT_EQ(U32At(bytes, at + 4), 2u);
  EXPECT_EQ(bytes[at + 8], '[');
  EXPECT_EQ(U32At(bytes, at + 10), 3u);
  EXPECT_EQ(bytes[at + 17], 2);  // search type byte
  EXPECT_EQ(U32At(bytes, at + 18), 1u);
  EXPECT_EQ(bytes.size(), at + 22 + 13);

  auto g = MakeField(kChessType | kCriterionBit);
  g->Unpack(kNativeBase, bytes.data(), static_cast<std::int32_t>(bytes.size()), String(""));
  EXPECT_EQ(Packed(*g), bytes);
  const PositionSettings& t = Crit(g).Settings();
  EXPECT_EQ(t.gameConditionsOn, 1);
  ASSERT_EQ(t.textComments.size(), 2u);
  EXPECT_FALSE(t.textComments[1].hasPrefix);
  EXPECT_FALSE(t.textComments[1].hasInfo);
  EXPECT_EQ(t.textComments[1].searchType, 1);
  EXPECT_EQ(t.textComments[0].info, "clk");

  // Copy keeps every setting.
  auto h = MakeField(kChessType | kCriterionBit);
  h->Assign(*g);
  EXPECT_EQ(Packed(*h), bytes);
}

TEST_F(ChessCritTest, DamagedBlocksNeverReadPastTheirEnd) {
  auto f = MakeField(kChessType | kCriterionBit);
  PositionSettings& s = Crit(f).Settings();
  s.positionOn = 1;
  s.textCommentsOn = 1;
  s.textComments.resize(3);
  s.textComments[0].hasInfo = true;
  s.textComments[0].info = "abc";
  std::vector<std::uint8_t> bytes = Packed(*f);
  for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
    std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
    auto g = MakeField(kChessType | kCriterionBit);
    g->Unpack(kNativeBase, part.data(), static_cast<std::int32_t>(part.size()), String(""));
    EXPECT_LE(Crit(g).Settings().textComments.size(), 3u);
  }
  // An info length far beyond the block (after the count and the missing prefix's 0xFFFFFFFF).
  std::vector<std::uint8_t> bad(bytes);
  ASSERT_EQ(U32At(bad, 60 + 512 + 4), 0xFFFFFFFFu);
  bad[60 + 512 + 9] = 0xFF;
  bad[60 + 512 + 10] = 0xFF;
  auto g = MakeField(kChessType | kCriterionBit);
  g->Unpack(kNativeBase, bad.data(), static_cast<std::int32_t>(bad.size()), String(""));
  EXPECT_TRUE(Crit(g).Settings().textComments.empty());
}

// Decoding then matching, and the search-time test on the bytes, for one criterion and game.
struct Both {
  int viaGame, viaBytes;
  std::int32_t plyGame, plyBytes;
};
Both BothWays(Field& crit, const std::vector<std::uint8_t>& bytes) {
  auto field = std::unique_ptr<Field>(CreateField(FieldSpec(kChessType, String("~4"), 0, String(""))));
  auto& chess = dynamic_cast<ChessField&>(*field);
  Both r{};
  field->Unpack(kNativeBase, bytes.data(), static_cast<std::int32_t>(bytes.size()), String(""));
  r.viaGame = field->Matches(&crit);
  r.plyGame = chess.matchPly_;
  auto probe = std::unique_ptr<Field>(CreateField(FieldSpec(kChessType, String("~4"), 0, String(""))));
  probe->SetCriterionA(&crit);
  // Without criterion B the call answers B's result (1); A's result is kept.
  EXPECT_EQ(probe->UnpackNativeAndTest(bytes.data(), static_cast<std::int32_t>(bytes.size())), 1);
  r.viaBytes = probe->ResultA();
  r.plyBytes = dynamic_cast<ChessField&>(*probe).matchPly_;
  return r;
}

TEST_F(ChessCritTest, FieldMatchesSetsTheMatchPositionAndFindPrefersTheMainLine) {
  auto crit = MakeField(kChessType | kCriterionBit);
  GameHolder g;
  ReadPgn(g, "1. e4 (1. d4 d5) e5 *");
  std::vector<std::uint8_t> bytes = Encode(g);
  // The position after 1.d4 occurs only inside the variation.
  GameHolder d;
  ReadPgn(d, "1. d4 *");
  NativeReplay r;
  std::vector<std::uint8_t> db = Encode(d);
  r.Play(db.data(), static_cast<std::int32_t>(db.size()));
  PositionSettings& s = Crit(crit).Settings();
  s.positionOn = 1;
  for (int sq = 0; sq < 128; ++sq) s.squareMasks[sq] = SquareCode(r.Board()[sq]);
  Both b = BothWays(*crit, bytes);
  EXPECT_EQ(b.viaGame, 0);
  EXPECT_EQ(b.viaBytes, 0);
  EXPECT_EQ(b.plyGame, -1);
  Crit(crit).Settings().includeVariations = 1;
  b = BothWays(*crit, bytes);
  EXPECT_EQ(b.viaGame, 1);
  EXPECT_EQ(b.viaBytes, 1);
  EXPECT_GT(b.plyGame, 1);
  EXPECT_EQ(b.plyGame, b.plyBytes);
}

// The search-time test agrees with decoding and matching on every data game for random
// criteria: positions from the games, side masks, variations, material regions, length ranges,
// event chains, material difference, mirrors, bishops and annotation texts.
TEST_F(ChessCritTest, SearchTimeTestEqualsUnpackThenMatches) {
  std::vector<std::string> games = DataGames();
  GameHolder g;
  std::vector<std::vector<std::uint8_t>> encoded;
  for (const auto& text : games) {
    ReadPgn(g, text);
    encoded.push_back(Encode(g));
  }
  std::mt19937 rng(29);
  auto crit = MakeField(kChessType | kCriterionBit);
  int matched = 0, compared = 0;
  for (int round = 0; round < 200; ++round) {
    PositionSettings s;
    const auto& src = encoded[rng() % encoded.size()];
    NativeReplay rp;
    std::vector<std::uint8_t> line(src);
    std::int32_t n = NativeMainLine(line.data(), static_cast<std::int32_t>(line.size()));
    std::int32_t at = 0;
    int plies = static_cast<int>(rng() % 14);
    for (int i = 0; i < plies && at < n; ++i) {
      int used = rp.Play(line.data() + at, n - at);
      if (used <= 0) break;
      at += used;
    }
    int kind = static_cast<int>(rng() % 6);
    if (kind <= 1) {
      s.positionOn = 1;
      for (int sq = 0; sq < 128; ++sq) {
        // Some squares left free.
        s.squareMasks[sq] = rng() % 5 == 0 ? 0xFFFF : SquareCode(rp.Board()[sq]);
      }
    }
    if (kind == 2) {
      s.regionsOn = 1;
      for (auto& m : s.regionMasks) m = 1u << (rng() % 4);
      for (auto& region : s.material)
        for (auto& pair : region) pair[0] = 99;
      s.material[rng() % 4][rng() % 14][0] = static_cast<std::int32_t>(rng() % 3);
      s.regionFlag = static_cast<std::int32_t>(rng() % 2);
    }
    if (kind == 3) {
      s.eventListOn = 1;
      // One or two chains of one or two events on random squares, joined by AND or OR.
      std::vector<std::uint32_t> v = {0, 1 + static_cast<std::uint32_t>(rng() % 2)};
      for (std::uint32_t c = 0; c < v[1]; ++c) {
        std::uint32_t events = 1 + rng() % 2;
        v.push_back(events);
        for (std::uint32_t e = 0; e < events; ++e) {
          std::uint32_t sq = (rng() % 8) * 16 + rng() % 8;
          std::uint32_t a = sq << 24 | (rng() % 2) << 23;
          if (rng() % 2) a |= 0x8000 | (rng() % 10);
          v.push_back(a);
          v.push_back(1u << (rng() % 16));
        }
      }
      v.push_back(v[1] - 1);
      for (std::uint32_t k = 0; k + 1 < v[1]; ++k) {
        v.push_back(k);
        v.push_back(rng() % 2);
      }
      v[0] = static_cast<std::uint32_t>(v.size() * 4);
      for (std::uint32_t x : v)
        for (int k = 0; k < 4; ++k) s.eventList.push_back(static_cast<std::uint8_t>(x >> (8 * k)));
      s.eventFlag = static_cast<std::int32_t>(rng() % 2);
    }
    if (kind == 4) {
      s.matDiffOn = 1;
      for (int i = 0; i < 6; ++i) {
        s.matMin[i] = static_cast<std::int32_t>(0x80000000u);
        s.matMax[i] = 0;
      }
      int m = static_cast<int>(rng() % 6);
      s.matMin[m] = static_cast<std::int32_t>(rng() % 3) - 1;
      s.matMax[m] = s.matMin[m] + static_cast<std::int32_t>(rng() % 3);
      s.persistence = static_cast<std::int32_t>(rng() % 4);
      s.countRange = (32u << 16) | 2u;
    }
    if (kind == 5) {
      s.textCommentsOn = 1;
      TextCommentEntry e;
      e.hasInfo = true;
      static const char* texts[] = {"a", "e", "the", "!", "better"};
      e.info = texts[rng() % 5];
      e.searchType = static_cast<std::uint8_t>(rng() % 3);
      s.textComments.push_back(e);
    }
    s.sideMask = 1 + static_cast<std::int32_t>(rng() % 3);
    s.includeVariations = static_cast<std::int32_t>(rng() % 2);
    if (rng() % 4 == 0) s.lengths.push_back({static_cast<std::int32_t>(rng() % 30), 60});
    if (rng() % 6 == 0) s.minVariations = 1;
    if (rng() % 6 == 0) s.anyComment = 1;
    if (rng() % 5 == 0) {
      s.mirrorOn = 1;
      s.mirrorValue = 1 + static_cast<std::int32_t>(rng() % 3);
    }
    if (rng() % 8 == 0) {
      s.bishopsOn = 1;
      s.bishopsKind = static_cast<std::int32_t>(rng() % 2);
    }
    // Through the packed form, as a host would store it.
    Crit(crit).Settings() = s;
    std::vector<std::uint8_t> packed = Packed(*crit);
    crit->Unpack(kNativeBase, packed.data(), static_cast<std::int32_t>(packed.size()), String(""));
    ASSERT_EQ(Packed(*crit), packed);
    for (std::size_t i = rng() % 4; i < encoded.size(); i += 4) {
      Both b = BothWays(*crit, encoded[i]);
      ASSERT_EQ(b.viaGame, b.viaBytes) << "round " << round << " game " << i;
      ASSERT_EQ(b.plyGame, b.plyBytes) << "round " << round << " game " << i;
      matched += b.viaGame;
      ++compared;
    }
  }
  EXPECT_GT(matched, 200);
  EXPECT_GT(compared, 2000);
}

}  // namespace
}  // namespace ludrex::testing
