// Shared helpers of the game-score tests: games from PGN move text, element lists, data files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "movegen/game.h"
#include "record/chess_codec.h"
#include "record/field.h"

namespace ludrex::testing {

// One element with its bytes and board copied out of the game.
struct Elem {
  std::uint8_t kind, piece, from, to;
  std::uint32_t state;
  std::vector<std::uint8_t> bytes;
  std::vector<std::int8_t> board;
  bool operator==(const Elem&) const = default;
};

inline void PrintTo(const Elem& e, std::ostream* os) {
  *os << "{" << int(e.kind) << "," << int(e.piece) << "," << std::hex << int(e.from) << ","
      << int(e.to) << std::dec << " n" << e.bytes.size() << "}";
}

inline std::vector<Elem> Elements(Game* g) {
  std::vector<Elem> out;
  ChessElement e;
  GameRewind(g);
  while (GameNext(g, &e)) {
    Elem x{e.kind, e.piece, e.from, e.to, e.state, {}, {}};
    if (e.kind == kElementAnnotation && e.bytes) x.bytes.assign(e.bytes, e.bytes + e.count);
    if (e.kind == kElementSetup && e.board) x.board.assign(e.board, e.board + 128);
    out.push_back(std::move(x));
  }
  return out;
}

// An owned game.
struct GameHolder {
  Game* g = GameCreate(0);
  GameHolder() = default;
  GameHolder(const GameHolder&) = delete;
  ~GameHolder() { GameDestroy(g); }
  operator Game*() const { return g; }
};

inline void ReadPgn(Game* g, const std::string& text) {
  GameClear(g);
  GameReadPgn(g, text.data(), int(text.size()));
  GameFinish(g);
}

inline void Move(Game* g, std::uint8_t piece, std::uint8_t from, std::uint8_t to) {
  ChessElement e{};
  e.kind = kElementMove;
  e.piece = piece;
  e.from = from;
  e.to = to;
  GameAppend(g, &e);
}

inline void Mark(Game* g, std::uint8_t kind) {
  ChessElement e{};
  e.kind = kind;
  GameAppend(g, &e);
}

inline std::vector<std::uint8_t> Encode(Game* g) {
  ByteBlock out;
  EncodeNativeGame(g, out);
  return std::vector<std::uint8_t>(out.Data(), out.Data() + out.Count());
}

inline void Decode(Game* g, const std::vector<std::uint8_t>& bytes) {
  GameClear(g);
  DecodeNativeGame(bytes.data(), std::int32_t(bytes.size()), g);
  GameFinish(g);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The move text (tag lines except FEN and SetUp left out) of every game of a PGN file.
inline std::vector<std::string> SplitGames(const std::string& text) {
  std::vector<std::string> games;
  std::string cur;
  bool inMoves = false;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t e = text.find('\n', i);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(i, e - i + (e < text.size() ? 1 : 0));
    i = e + 1;
    if (!line.empty() && line[0] == '[') {
      if (inMoves) {
        games.push_back(cur);
        cur.clear();
        inMoves = false;
      }
      if (line.compare(0, 5, "[FEN ") == 0 || line.compare(0, 7, "[SetUp ") == 0) cur += line;
    } else {
      bool blank = line.find_first_not_of(" \t\r\n") == std::string::npos;
      if (!blank) inMoves = true;
      cur += line;
    }
  }
  if (inMoves) games.push_back(cur);
  return games;
}

inline std::vector<std::string> DataGames() {
  std::vector<std::string> all;
  for (const char* name : {"/sample-games.pgn", "/eco.pgn"}) {
    auto g = SplitGames(ReadFile(std::string(LUDREX_SHARED_DATA) + name));
    all.insert(all.end(), g.begin(), g.end());
  }
  return all;
}

}  // namespace ludrex::testing
