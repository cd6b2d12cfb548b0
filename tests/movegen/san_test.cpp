// SAN writing and reading details: disambiguation, pins, en passant, promotions, castling
// rules, check and mate marks, FEN and the set-up state word.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "game_helpers.h"
#include "movegen/movegen.h"

namespace ludrex::chess {
namespace {

using ludrex::testing::Element;

Position FromFen(const char* fen) {
  Position p;
  EXPECT_TRUE(p.SetFen(fen, std::strlen(fen))) << fen;
  return p;
}

Square Sq(const char* name) { return MakeSquare(name[0] - 'a', name[1] - '1'); }

// The SAN of the legal move from -> to (promoting to promo when it is a promotion).
std::string San(const char* fen, const char* from, const char* to, PieceType promo = kQueen) {
  const Position p = FromFen(fen);
  Move list[kMaxMoves];
  const int n = GenerateLegal(p, list, Bit(Sq(from)), Bit(Sq(to)));
  for (int i = 0; i < n; ++i) {
    if (list[i].GetKind() == Move::kPromotion && list[i].Promotion() != promo) continue;
    char out[kMaxSanLength];
    return std::string(out, std::size_t(WriteSan(p, list[i], out)));
  }
  return "(illegal)";
}

// Reads "[FEN ...]" and the move text; returns the move elements and whether all was read.
struct ReadResult {
  std::vector<Element> moves;
  bool complete;
};
ReadResult ReadFrom(const char* fen, const std::string& text) {
  Game* g = GameCreate(0);
  bool complete = false;
  const std::string full = std::string("[FEN \"") + fen + "\"]\r\n" + text;
  std::vector<Element> all = ludrex::testing::Read(g, full, &complete);
  GameDestroy(g);
  ReadResult r{{}, complete};
  for (const Element& e : all) {
    if (e.kind == kElementMove) r.moves.push_back(e);
  }
  return r;
}

TEST(San, DisambiguatesByFileRankOrBoth) {
  EXPECT_EQ(San("4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1", "b1", "d2"), "Nbd2");
  EXPECT_EQ(San("4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1", "f3", "d2"), "Nfd2");
  EXPECT_EQ(San("4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "a1", "a3"), "R1a3");
  EXPECT_EQ(San("4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "a5", "a3"), "R5a3");
  EXPECT_EQ(San("4k3/8/8/8/8/Q7/8/Q1Q1K3 w - - 0 1", "a1", "b2"), "Qa1b2");
  EXPECT_EQ(San("4k3/8/8/8/8/Q7/8/Q1Q1K3 w - - 0 1", "c1", "b2"), "Qcb2");
  EXPECT_EQ(San("4k3/8/8/8/8/Q7/8/Q1Q1K3 w - - 0 1", "a3", "b2"), "Q3b2");
  // Only one rook can reach the square: no detail even though both stand on the file.
  EXPECT_EQ(San("4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "a5", "a7"), "Ra7");
}

TEST(San, PinnedPieceDoesNotMakeAMoveAmbiguous) {
  const char* pinned = "4k3/8/8/6N1/1b6/2N5/8/4K3 w - - 0 1";  // Nc3 pinned by Bb4
  EXPECT_EQ(San(pinned, "g5", "e4"), "Ne4");
  EXPECT_EQ(San("4k3/8/8/6N1/8/2N5/8/4K3 w - - 0 1", "g5", "e4"), "Nge4");
  const ReadResult r = ReadFrom(pinned, "1. Ne4");
  ASSERT_TRUE(r.complete);
  ASSERT_EQ(r.moves.size(), 1u);
  EXPECT_EQ(r.moves[0].from, 0x46);  // g5
  EXPECT_FALSE(ReadFrom(pinned, "1. Nce4").complete);
  // Without the pin "Ne4" is ambiguous and the reader stops.
  const ReadResult amb = ReadFrom("4k3/8/8/6N1/8/2N5/8/4K3 w - - 0 1", "1. Ne4");
  EXPECT_FALSE(amb.complete);
  EXPECT_TRUE(amb.moves.empty());
}

TEST(San, EnPassant) {
  const char* fen = "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1";
  EXPECT_EQ(San(fen, "e5", "d6"), "exd6");
  for (const char* text : {"exd6", "exd6 e.p.", "e5d6", "ed6", "e5xd6ep"}) {
    const ReadResult r = ReadFrom(fen, text);
    ASSERT_TRUE(r.complete) << text;
    ASSERT_EQ(r.moves.size(), 1u) << text;
    EXPECT_EQ(r.moves[0], (Element{kElementMove, 1, 0x44, 0x53, {}, {}, 0})) << text;
  }
  Position p = FromFen(fen);
  Move m(Sq("e5"), Sq("d6"), Move::kEnPassant);
  p.Play(m);
  EXPECT_EQ(p.At(Sq("d5")), kNoPiece);
  // The capture would open the king's rank to the rook: not legal.
  EXPECT_EQ(San("8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1", "b5", "c6"), "(illegal)");
  EXPECT_FALSE(ReadFrom("8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1", "bxc6").complete);
  // An en-passant square no pawn can use is dropped from the position.
  EXPECT_EQ(FromFen("4k3/8/8/3p4/8/8/8/4K3 w - d6 0 1").EpSquare(), kNoSquare);
}

TEST(San, PromotionsAndUnderPromotions) {
  const char* fen = "8/4P3/5k2/8/8/8/8/4K3 w - - 0 1";
  EXPECT_EQ(San(fen, "e7", "e8", kQueen), "e8=Q");
  EXPECT_EQ(San(fen, "e7", "e8", kKnight), "e8=N+");
  EXPECT_EQ(San(fen, "e7", "e8", kRook), "e8=R");
  for (const char* text : {"e8=N", "e8N", "e8(N)", "e7e8n", "e8=N+"}) {
    const ReadResult r = ReadFrom(fen, text);
    ASSERT_TRUE(r.complete) << text;
    ASSERT_EQ(r.moves.size(), 1u) << text;
    EXPECT_EQ(r.moves[0], (Element{kElementMove, kKnight, 0x64, 0x74, {}, {}, 0})) << text;
  }
  // A promotion without a piece is read as a queen.
  const ReadResult q = ReadFrom(fen, "e8");
  ASSERT_EQ(q.moves.size(), 1u);
  EXPECT_EQ(q.moves[0].piece, kQueen);
  EXPECT_EQ(San("3r4/4P3/5k2/8/8/8/8/4K3 w - - 0 1", "e7", "d8", kBishop), "exd8=B+");
}

TEST(San, CastlingRules) {
  EXPECT_EQ(San("4k3/8/8/8/8/8/8/4K2R w K - 0 1", "e1", "g1"), "O-O");
  EXPECT_EQ(San("r3k3/8/8/8/8/8/8/4K3 b q - 0 1", "e8", "c8"), "O-O-O");
  // Through an attacked square, out of check, into check: refused.
  EXPECT_EQ(San("4k3/8/8/8/8/8/5r2/4K2R w K - 0 1", "e1", "g1"), "(illegal)");
  EXPECT_EQ(San("4k3/8/8/8/8/8/8/r3K2R w K - 0 1", "e1", "g1"), "(illegal)");
  EXPECT_EQ(San("4k3/8/8/8/8/8/6r1/4K2R w K - 0 1", "e1", "g1"), "(illegal)");
  EXPECT_FALSE(ReadFrom("4k3/8/8/8/8/8/5r2/4K2R w K - 0 1", "O-O").complete);
  EXPECT_FALSE(ReadFrom("4k3/8/8/8/8/8/8/r3K2R w K - 0 1", "0-0").complete);
  // b1 under attack does not stop the long castling; a piece on b1 does.
  EXPECT_EQ(San("1r2k3/8/8/8/8/8/8/R3K3 w Q - 0 1", "e1", "c1"), "O-O-O");
  EXPECT_EQ(San("4k3/8/8/8/8/8/8/RN2K3 w Q - 0 1", "e1", "c1"), "(illegal)");
  // Without the right no castling; rights without their rook are dropped.
  EXPECT_EQ(San("4k3/8/8/8/8/8/8/4K2R w - - 0 1", "e1", "g1"), "(illegal)");
  EXPECT_EQ(FromFen("4k3/8/8/8/8/8/8/4K3 w KQkq - 0 1").Castling(), 0);
  for (const char* text : {"O-O", "0-0", "o-o", "Kg1", "e1g1"}) {
    const ReadResult r = ReadFrom("4k3/8/8/8/8/8/8/4K2R w K - 0 1", text);
    ASSERT_TRUE(r.complete) << text;
    ASSERT_EQ(r.moves.size(), 1u);
    EXPECT_EQ(r.moves[0], (Element{kElementMove, kKing, 0x04, 0x06, {}, {}, 0})) << text;
  }
  const ReadResult l = ReadFrom("r3k3/8/8/8/8/8/8/4K3 b q - 0 1", "1... O-O-O");
  ASSERT_EQ(l.moves.size(), 1u);
  EXPECT_EQ(l.moves[0], (Element{kElementMove, kKing, 0x74, 0x72, {}, {}, 0}));
}

TEST(San, CheckAndMateMarks) {
  Game* g = GameCreate(0);
  const std::string text = "1. f3 e5 2. g4 Qh4";
  ludrex::testing::Read(g, text);
  EXPECT_EQ(ludrex::testing::Write(g), "\r\n1. f3 e5 2. g4 Qh4#");
  bool complete = true;
  ludrex::testing::Read(g, "1. e4 e5 2. Bc4 Nc6 3. Qh5 Nf6 4. Qxf7 Ke7", &complete);
  // After the mate no move is legal: the reader stops there and keeps the game.
  EXPECT_FALSE(complete);
  EXPECT_EQ(ludrex::testing::Write(g), "\r\n1. e4 e5 2. Bc4 Nc6 3. Qh5 Nf6 4. Qxf7#");
  ludrex::testing::Read(g, "1. e4 e5 2. Qh5 Nc6 3. Qxf7 Kxf7");
  EXPECT_EQ(ludrex::testing::Write(g), "\r\n1. e4 e5 2. Qh5 Nc6 3. Qxf7+ Kxf7");
  GameDestroy(g);
}

TEST(Fen, ReadWriteAndStateWord) {
  const char* fens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 3",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 b - - 12 40",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w Kq - 0 1",
  };
  for (const char* fen : fens) {
    const Position p = FromFen(fen);
    char out[kMaxFenLength];
    EXPECT_EQ(std::string(out, std::size_t(p.WriteFen(out))), fen);
    std::int8_t board[128];
    p.GetBoard(board);
    Position q;
    q.SetBoard(board, p.State());
    EXPECT_EQ(std::string(out, std::size_t(q.WriteFen(out))), fen);
  }
  // The stored layout of the state word.
  const Position p = FromFen(fens[1]);
  EXPECT_EQ(p.State(), 0u | (0u << 1) | (3u << 8) | (0xFu << 16) | (3u << 20) | (1u << 23));
  EXPECT_EQ(FromFen(fens[2]).State(), 1u | (12u << 1) | (40u << 8));
  EXPECT_EQ(FromFen("4k3/8/8/8/8/8/8/4K3 w - - 300 999").State(), (127u << 1) | (255u << 8));
  // The board of a set-up: 0x88 squares, signed kinds.
  std::int8_t board[128];
  Position::Start().GetBoard(board);
  EXPECT_EQ(board[0x00], kRook);
  EXPECT_EQ(board[0x04], kKing);
  EXPECT_EQ(board[0x73], -kQueen);
  EXPECT_EQ(board[0x08], 0);
  // Not FEN: refused, and the position is left as it was.
  Position keep = Position::Start();
  for (const char* bad : {"", "xyz", "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w", "8/8 w",
                          "8/8/8/8/8/8/8/8 x", "4k3/8/8/8/8/8/8/4K3 w - z9"}) {
    EXPECT_FALSE(keep.SetFen(bad, std::strlen(bad))) << bad;
  }
  EXPECT_TRUE(keep == Position::Start());
}

TEST(Position, BrokenSetUpsNeverCrash) {
  // No king, two kings, pawns on the last ranks: no moves, no crash.
  for (const char* fen : {"8/8/8/8/8/8/8/8 w - - 0 1", "4k3/8/8/8/8/8/8/K6K w - - 0 1",
                          "P3k2p/8/8/8/8/8/8/p3K2P w - - 0 1", "4k3/8/8/8/8/8/8/4K3 b - - 0 1"}) {
    const Position p = FromFen(fen);
    EXPECT_LE(Perft(p, 3), 1000u) << fen;
  }
  EXPECT_EQ(Perft(FromFen("8/8/8/8/8/8/8/8 w - - 0 1"), 1), 0u);
  // The side not to move in check: its king can never be taken.
  EXPECT_EQ(Perft(FromFen("4k3/4R3/8/8/8/8/8/4K3 w - - 0 1"), 1),
            Perft(FromFen("4k3/4R3/8/8/8/8/8/4K3 w - - 0 1"), 1));
  Move list[kMaxMoves];
  const Position p = FromFen("4k3/4R3/8/8/8/8/8/4K3 w - - 0 1");
  const int n = GenerateLegal(p, list);
  for (int i = 0; i < n; ++i) EXPECT_NE(list[i].To(), Sq("e8"));
}

}  // namespace
}  // namespace ludrex::chess
