// Helpers of the movegen tests: element snapshots, game splitting of PGN files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "movegen/game.h"

namespace ludrex::testing {

// A deep copy of one element, comparable with ==.
struct Element {
  int kind = 0, piece = 0, from = 0, to = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<std::int8_t> board;
  std::uint32_t state = 0;
  bool operator==(const Element&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Element& e) {
  os << "{kind " << e.kind << " piece " << e.piece << " from " << std::hex << e.from << " to "
     << e.to << std::dec;
  if (!e.bytes.empty()) os << " bytes '" << std::string(e.bytes.begin(), e.bytes.end()) << "'";
  if (e.kind == 5) os << " state " << std::hex << e.state << std::dec;
  return os << "}";
}

inline std::vector<Element> Elements(Game* g) {
  std::vector<Element> out;
  GameRewind(g);
  ChessElement e;
  while (GameNext(g, &e)) {
    Element x;
    x.kind = e.kind;
    x.piece = e.piece;
    x.from = e.from;
    x.to = e.to;
    if (e.kind == kElementAnnotation) x.bytes.assign(e.bytes, e.bytes + e.count);
    if (e.kind == kElementSetup) {
      x.board.assign(e.board, e.board + 128);
      x.state = e.state;
    }
    out.push_back(std::move(x));
  }
  return out;
}

inline std::vector<Element> Read(Game* g, const std::string& text, bool* complete = nullptr) {
  GameClear(g);
  const bool ok = GameReadPgn(g, text.data(), int(text.size()));
  GameFinish(g);
  if (complete) *complete = ok;
  return Elements(g);
}

inline std::string Write(Game* g) {
  char* text = nullptr;
  int length = -1;
  GameWritePgn(g, &text, &length);
  return std::string(text, std::size_t(length));
}

// Text of one element list, written and read back through a fresh game.
inline std::string WriteElements(Game* g, const std::vector<Element>& elements) {
  GameClear(g);
  for (const Element& x : elements) {
    ChessElement e{};
    e.kind = std::uint8_t(x.kind);
    e.piece = std::uint8_t(x.piece);
    e.from = std::uint8_t(x.from);
    e.to = std::uint8_t(x.to);
    e.count = std::uint32_t(x.bytes.size());
    e.bytes = x.bytes.data();
    e.board = x.board.empty() ? nullptr : x.board.data();
    e.state = x.state;
    GameAppend(g, &e);
  }
  GameFinish(g);
  return Write(g);
}

// What the game text around the move text does to it: the written text follows the tag lines
// (its own [SetUp] / [FEN] lines join them: [FEN] comes back ahead of the moves, [SetUp] does
// not), then each move-text line that has a character above the blank contributes the rest of
// the line from that character on, with CR LF; a line beginning with '[' ends the moves.
inline std::string ThroughGameText(const std::string& written) {
  std::string out, fen;
  std::size_t pos = 0;
  bool tags = true;
  while (pos < written.size()) {
    std::size_t end = written.find("\r\n", pos);
    if (end == std::string::npos) end = written.size();
    std::string line = written.substr(pos, end - pos);
    pos = end + 2;
    if (tags && !line.empty() && line[0] == '[') {
      if (line.compare(0, 5, "[FEN ") == 0) fen = line + "\r\n";
      continue;
    }
    tags = false;
    const std::size_t first = line.find_first_not_of(std::string("\0\t\n\r ", 5) +
                                                     std::string("\x01\x02\x03\x04\x05\x06\x07\x08"
                                                                 "\x0b\x0c\x0e\x0f\x10\x11\x12\x13"
                                                                 "\x14\x15\x16\x17\x18\x19\x1a\x1b"
                                                                 "\x1c\x1d\x1e\x1f"));
    if (first == std::string::npos) continue;
    if (line[first] == '[' && first == 0) break;
    out += line.substr(first) + "\r\n";
  }
  return fen + out + " 1-0";
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The move texts of the games of a PGN file: the lines after each block of tag lines up to
// the next tag line.
inline std::vector<std::string> SplitGames(const std::string& file) {
  std::vector<std::string> games;
  std::size_t pos = 0;
  bool inTags = false, haveGame = false;
  std::string current;
  while (pos < file.size()) {
    std::size_t end = file.find('\n', pos);
    if (end == std::string::npos) end = file.size();
    const std::string line = file.substr(pos, end + 1 - pos);
    pos = end + 1;
    if (!line.empty() && line[0] == '[') {
      if (!inTags && haveGame) games.push_back(current);
      if (!inTags) current.clear();
      inTags = true;
      haveGame = true;
    } else {
      inTags = false;
      if (haveGame) current += line;
    }
  }
  if (haveGame) games.push_back(current);
  return games;
}

// Every line of a written text is shorter than 80 characters and ends with CR LF, except the
// last, which leaves room for " 1/2-1/2" (a [FEN] tag line may be longer).
inline void ExpectShortCrLfLines(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t cr = text.find("\r\n", start);
    if (cr == std::string::npos) {
      EXPECT_LE(text.size() - start, 71u) << text.substr(start);
      cr = text.size();
    }
    // A tag line cannot be broken: the FEN of an overfull set-up board may be longer.
    const bool fen = text.compare(start, 5, "[FEN ") == 0;
    EXPECT_LT(cr - start, fen ? 255u : 80u) << text.substr(start, cr - start);
    EXPECT_EQ(text.substr(start, cr - start).find_first_of("\r\n"), std::string::npos);
    start = cr + 2;
  }
}

}  // namespace ludrex::testing
