// A writer of small ChessBase ".cbh" databases for tests: .cbh game records, .cbg move records
// (translated codes with the moving index, piece numbers, variations, a set-up start), .cba
// annotation records, and the .cbp, .cbt, .cbc and .cbs entity files. It uses only the standard
// library, so host tests and internal tests share it.
//
// A game's moves are tokens separated by blanks:
//   e2e4, e7e8q     a move from a square to a square (promotion letter q r b n); castling is the
//                   king's move of two files (e1g1)
//   --              a null move
//   ( )             a variation: an alternative to the move just before it
//   {text}          a comment after the move before it (before the first move: on the game)
//   {<text}         a comment before the next move
//   $n              a symbol (NAG) on the move before it
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace cbhtest {

struct Game {
  std::string white, black;  // "Last, First"
  std::string event, site;
  std::string annotator, source;
  int year = 0, month = 0, day = 0;
  int round = 0, subround = 0;
  int result = 2;  // 0 0-1, 1 draw, 2 1-0, 3 line
  int whiteElo = 0, blackElo = 0;
  int eco = 0;  // 0 none, else letter * 100 + number + 1 (A00 is 1)
  std::string fen;    // empty: the usual start
  std::string moves;  // tokens
  bool deleted = false;
  bool guidingText = false;
  bool twoByteMoves = false;  // every move as a two-byte move
};

// The translation tables of the modes 0 (pre) and 4 (post).
inline const std::uint8_t* Table(int mode) {
  static const std::uint8_t k0[256] = {
      0xa2, 0x95, 0x43, 0xf5, 0xc1, 0x3d, 0x4a, 0x6c, 0x53, 0x83, 0xcc, 0x7c, 0xff, 0xae, 0x68, 0xad,
      0xd1, 0x92, 0x8b, 0x8d, 0x35, 0x81, 0x5e, 0x74, 0x26, 0x8e, 0xab, 0xca, 0xfd, 0x9a, 0xf3, 0xa0,
      0xa5, 0x15, 0xfc, 0xb1, 0x1e, 0xed, 0x30, 0xea, 0x22, 0xeb, 0xa7, 0xcd, 0x4e, 0x6f, 0x2e, 0x24,
      0x32, 0x94, 0x41, 0x8c, 0x6e, 0x58, 0x82, 0x50, 0xbb, 0x02, 0x8a, 0xd8, 0xfa, 0x60, 0xde, 0x52,
      0xba, 0x46, 0xac, 0x29, 0x9d, 0xd7, 0xdf, 0x08, 0x21, 0x01, 0x66, 0xa3, 0xf1, 0x19, 0x27, 0xb5,
      0x91, 0xd5, 0x42, 0x0e, 0xb4, 0x4c, 0xd9, 0x18, 0x5f, 0xbc, 0x25, 0xa6, 0x96, 0x04, 0x56, 0x6a,
      0xaa, 0x33, 0x1c, 0x2b, 0x73, 0xf0, 0xdd, 0xa4, 0x37, 0xd3, 0xc5, 0x10, 0xbf, 0x5a, 0x23, 0x34,
      0x75, 0x5b, 0xb8, 0x55, 0xd2, 0x6b, 0x09, 0x3a, 0x57, 0x12, 0xb3, 0x77, 0x48, 0x85, 0x9b, 0x0f,
      0x9e, 0xc7, 0xc8, 0xa1, 0x7f, 0x7a, 0xc0, 0xbd, 0x31, 0x6d, 0xf6, 0x3e, 0xc3, 0x11, 0x71, 0xce,
      0x7d, 0xda, 0xa8, 0x54, 0x90, 0x97, 0x1f, 0x44, 0x40, 0x16, 0xc9, 0xe3, 0x2c, 0xcb, 0x84, 0xec,
      0x9f, 0x3f, 0x5c, 0xe6, 0x76, 0x0b, 0x3c, 0x20, 0xb7, 0x36, 0x00, 0xdc, 0xe7, 0xf9, 0x4f, 0xf7,
      0xaf, 0x06, 0x07, 0xe0, 0x1a, 0x0a, 0xa9, 0x4b, 0x0c, 0xd6, 0x63, 0x87, 0x89, 0x1d, 0x13, 0x1b,
      0xe4, 0x70, 0x05, 0x47, 0x67, 0x7b, 0x2f, 0xee, 0xe2, 0xe8, 0x98, 0x0d, 0xef, 0xcf, 0xc4, 0xf4,
      0xfb, 0xb0, 0x17, 0x99, 0x64, 0xf2, 0xd4, 0x2a, 0x03, 0x4d, 0x78, 0xc6, 0xfe, 0x65, 0x86, 0x88,
      0x79, 0x45, 0x3b, 0xe5, 0x49, 0x8f, 0x2d, 0xb9, 0xbe, 0x62, 0x93, 0x14, 0xe9, 0xd0, 0x38, 0x9c,
      0xb2, 0xc2, 0x59, 0x5d, 0xb6, 0x72, 0x51, 0xf8, 0x28, 0x7e, 0x61, 0x39, 0xe1, 0xdb, 0x69, 0x80};
  static const std::uint8_t k4[256] = {
      0x58, 0xa3, 0xee, 0x72, 0x47, 0xb9, 0x1f, 0xa0, 0x26, 0xfd, 0xdc, 0x6d, 0xf1, 0xe3, 0xcb, 0xc5,
      0xe2, 0xd0, 0x29, 0xe7, 0x89, 0xe1, 0xae, 0x7b, 0x34, 0x41, 0x35, 0x4b, 0xa5, 0x7c, 0xf6, 0xe5,
      0xdb, 0x8c, 0x5f, 0x37, 0x05, 0xbb, 0x32, 0x54, 0x4c, 0xef, 0x5d, 0x2a, 0x7f, 0xd3, 0x81, 0x86,
      0xdf, 0x18, 0xc3, 0x44, 0x16, 0xf7, 0x85, 0x0f, 0x4d, 0x30, 0x79, 0x14, 0x45, 0xaa, 0xa2, 0x6c,
      0x15, 0x92, 0xa6, 0x62, 0x48, 0x19, 0xe9, 0x3c, 0x38, 0x94, 0x28, 0xa8, 0x66, 0x09, 0x03, 0x63,
      0x20, 0x7d, 0x36, 0xd7, 0x2e, 0x98, 0xec, 0xda, 0x01, 0x13, 0x24, 0x73, 0xcd, 0x9e, 0xcf, 0xd9,
      0xd5, 0x68, 0x8b, 0xd2, 0xab, 0x5b, 0x69, 0xb0, 0x27, 0xfc, 0x31, 0x1b, 0x53, 0x7e, 0x65, 0x76,
      0x55, 0x75, 0xaf, 0x0a, 0xcc, 0xc7, 0xc4, 0xb2, 0xb5, 0x22, 0xe8, 0xa7, 0xbe, 0xf5, 0x00, 0x5a,
      0x21, 0xd1, 0x74, 0x8e, 0xde, 0x9c, 0xe4, 0x42, 0x2b, 0xb1, 0x9b, 0x93, 0xc1, 0x78, 0x70, 0xd6,
      0xb6, 0xad, 0x4e, 0x6a, 0x64, 0x7a, 0x57, 0x49, 0x11, 0x9d, 0x12, 0xc0, 0x3a, 0x2f, 0xe6, 0x84,
      0xc6, 0x07, 0xce, 0x08, 0x82, 0x04, 0x90, 0xb8, 0x87, 0xca, 0x6e, 0x1e, 0x40, 0x1a, 0x50, 0xb4,
      0x10, 0xbc, 0x43, 0x8a, 0x71, 0x0b, 0x8d, 0x5c, 0x3b, 0x3f, 0x88, 0xba, 0xf4, 0xf3, 0x61, 0x1d,
      0xf9, 0xfe, 0x25, 0x51, 0x0d, 0xeb, 0xc8, 0x59, 0x17, 0x46, 0xa4, 0xf2, 0x56, 0xb7, 0x02, 0x2d,
      0x33, 0x9f, 0xd8, 0x83, 0xfb, 0xbf, 0xea, 0xed, 0xac, 0x60, 0x67, 0x39, 0xdd, 0x96, 0x6b, 0xa9,
      0xc2, 0x77, 0x0c, 0x0e, 0x91, 0xfa, 0x99, 0x9a, 0xe0, 0xa1, 0xf0, 0x5e, 0xc9, 0x06, 0x4f, 0xbd,
      0x52, 0x80, 0xd4, 0xf8, 0x97, 0x23, 0x3e, 0x1c, 0x2c, 0x95, 0x4a, 0x8f, 0x3d, 0x6f, 0xff, 0xb3};
  return mode == 4 ? k4 : k0;
}

// The position the encoder keeps: squares file * 8 + rank; pieces of a kind numbered in the
// order the start position holds them (a1, a2 .. h8); captured pieces leave their numbers.
struct Board {
  int sq[64] = {};  // +kind White, -kind Black (1 pawn .. 6 king)
  std::vector<int> pieces[2][7];
  std::vector<int> pawns[2];  // -1 once gone
  int side = 0;
  void Number() {
    for (auto& s : pieces)
      for (auto& l : s) l.clear();
    pawns[0].clear();
    pawns[1].clear();
    for (int s = 0; s < 64; ++s) {
      if (sq[s] == 0) continue;
      int c = sq[s] > 0 ? 0 : 1, k = sq[s] > 0 ? sq[s] : -sq[s];
      if (k == 1) pawns[c].push_back(s);
      else pieces[c][k].push_back(s);
    }
  }
  void Remove(int s) {
    int v = sq[s];
    if (v == 0) return;
    int c = v > 0 ? 0 : 1, k = v > 0 ? v : -v;
    if (k == 1) {
      for (int& p : pawns[c])
        if (p == s) p = -1;
    } else {
      auto& l = pieces[c][k];
      for (std::size_t i = 0; i < l.size(); ++i)
        if (l[i] == s) {
          l.erase(l.begin() + long(i));
          break;
        }
    }
    sq[s] = 0;
  }
};

inline int SquareOf(const std::string& t, std::size_t at) {
  int f = t[at] - 'a', r = t[at + 1] - '1';
  if (f < 0 || f > 7 || r < 0 || r > 7) throw std::runtime_error("bad square in " + t);
  return f * 8 + r;
}

inline void StartPosition(Board& b, const std::string& fen) {
  std::memset(b.sq, 0, sizeof b.sq);
  if (fen.empty()) {
    const int back[8] = {4, 2, 3, 5, 6, 3, 2, 4};
    for (int f = 0; f < 8; ++f) {
      b.sq[f * 8 + 0] = back[f];
      b.sq[f * 8 + 1] = 1;
      b.sq[f * 8 + 6] = -1;
      b.sq[f * 8 + 7] = -back[f];
    }
    b.side = 0;
  } else {
    int rank = 7, file = 0;
    std::size_t i = 0;
    for (; i < fen.size() && fen[i] != ' '; ++i) {
      char c = fen[i];
      if (c == '/') {
        --rank;
        file = 0;
      } else if (c >= '1' && c <= '8') {
        file += c - '0';
      } else {
        const char* kinds = " pnbrqk";
        const char* k = std::strchr(kinds, c >= 'a' ? c : c + 32);
        int kind = int(k - kinds);
        b.sq[file * 8 + rank] = c >= 'a' ? -kind : kind;
        ++file;
      }
    }
    b.side = i + 1 < fen.size() && fen[i + 1] == 'b' ? 1 : 0;
  }
  b.Number();
}

// The 28 bytes of a set-up start from a FEN.
inline std::vector<std::uint8_t> SetupBytes(const std::string& fen) {
  Board b;
  StartPosition(b, fen);
  std::vector<std::uint8_t> out(28, 0);
  out[0] = 1;
  std::vector<std::string> parts;
  std::string part;
  for (char c : fen + " ") {
    if (c == ' ') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (parts.size() > 3 && parts[3] != "-") out[1] = std::uint8_t(parts[3][0] - 'a' + 1);
  if (b.side) out[1] |= 0x10;
  if (parts.size() > 2) {
    for (char c : parts[2]) {
      if (c == 'Q') out[2] |= 1;
      if (c == 'K') out[2] |= 2;
      if (c == 'q') out[2] |= 4;
      if (c == 'k') out[2] |= 8;
    }
  }
  out[3] = std::uint8_t(parts.size() > 5 ? std::atoi(parts[5].c_str()) : 1);
  int bit = 0;
  auto put = [&](int v, int n) {
    for (int i = n - 1; i >= 0; --i, ++bit)
      if ((v >> i) & 1) out[std::size_t(4 + (bit >> 3))] |= std::uint8_t(0x80 >> (bit & 7));
  };
  static const int kCode[7] = {0, 6, 3, 4, 5, 2, 1};  // pawn 110, knight 011 ...
  for (int s = 0; s < 64; ++s) {
    int v = b.sq[s];
    if (v == 0) {
      put(0, 1);
    } else {
      put(1, 1);
      put(v < 0 ? 1 : 0, 1);
      put(kCode[v > 0 ? v : -v], 3);
    }
  }
  return out;
}

struct Node {
  int from = -1, to = -1, promotion = 0;  // promotion kind 2-5; from -1: a null move
  std::vector<int> children;
  int parent = -1;
  std::vector<std::pair<std::uint8_t, std::string>> notes;  // type, data (after the move)
  std::vector<std::string> before;                          // texts before the move
};

class MoveWriter {
 public:
  MoveWriter(const Game& g, int mode, int gameId) : g_(g), mode_(mode), id_(gameId) {}

  // The .cbg record and the .cba record (empty when the game has no annotations).
  void Write(std::vector<std::uint8_t>& cbg, std::vector<std::uint8_t>& cba) {
    Parse();
    Board b;
    StartPosition(b, g_.fen);
    bytes_.clear();
    if (!g_.fen.empty()) {
      auto s = SetupBytes(g_.fen);
      bytes_.insert(bytes_.end(), s.begin(), s.end());
    }
    for (const auto& n : nodes_[0].notes) Note(-1, n.first, n.second);
    Serialize(0, b);
    std::vector<std::uint8_t> rec;
    rec.push_back(std::uint8_t(mode_ | (g_.fen.empty() ? 0 : 0x40)));
    const std::uint32_t size = std::uint32_t(4 + bytes_.size());
    rec.push_back(std::uint8_t(size >> 16));
    rec.push_back(std::uint8_t(size >> 8));
    rec.push_back(std::uint8_t(size));
    rec.insert(rec.end(), bytes_.begin(), bytes_.end());
    cbg = rec;
    cba.clear();
    if (notes_.empty()) return;
    std::vector<std::uint8_t> r = {std::uint8_t(id_ >> 16), std::uint8_t(id_ >> 8), std::uint8_t(id_),
                                   1, 0, 0x0e, 0x0e};
    const std::uint32_t count = std::uint32_t(noteCount_ + 1);
    r.push_back(std::uint8_t(count >> 16));
    r.push_back(std::uint8_t(count >> 8));
    r.push_back(std::uint8_t(count));
    const std::uint32_t total = std::uint32_t(14 + notes_.size());
    for (int i = 3; i >= 0; --i) r.push_back(std::uint8_t(total >> (8 * i)));
    r.insert(r.end(), notes_.begin(), notes_.end());
    cba = r;
  }

 private:
  void Parse() {
    nodes_.assign(1, Node{});
    int cur = 0;
    std::vector<int> stack;
    std::vector<std::string> pending;
    const std::string& t = g_.moves;
    std::size_t i = 0;
    auto addMove = [&](int from, int to, int promo) {
      Node n;
      n.from = from;
      n.to = to;
      n.promotion = promo;
      n.parent = cur;
      n.before = pending;
      pending.clear();
      nodes_.push_back(n);
      int idx = int(nodes_.size()) - 1;
      nodes_[std::size_t(cur)].children.push_back(idx);
      cur = idx;
    };
    while (i < t.size()) {
      char c = t[i];
      if (c == ' ') {
        ++i;
      } else if (c == '{') {
        std::size_t end = t.find('}', i);
        std::string text = t.substr(i + 1, end - i - 1);
        if (!text.empty() && text[0] == '<') {
          pending.push_back(text.substr(1));
        } else {
          std::string data = std::string(1, '\0') + std::string(1, '\0') + text;
          nodes_[std::size_t(cur)].notes.push_back({0x02, data});
        }
        i = end + 1;
      } else if (c == '(') {
        stack.push_back(cur);
        cur = nodes_[std::size_t(cur)].parent;
        ++i;
      } else if (c == ')') {
        cur = stack.back();
        stack.pop_back();
        ++i;
      } else if (c == '$') {
        std::size_t end = t.find(' ', i);
        if (end == std::string::npos) end = t.size();
        int v = std::atoi(t.substr(i + 1, end - i - 1).c_str());
        nodes_[std::size_t(cur)].notes.push_back({0x03, std::string(1, char(v))});
        i = end;
      } else {
        std::size_t end = t.find(' ', i);
        if (end == std::string::npos) end = t.size();
        std::string tok = t.substr(i, end - i);
        i = end;
        if (tok == "--") {
          addMove(-1, -1, 0);
          continue;
        }
        int promo = 0;
        if (tok.size() == 5) {
          // The letter of the piece after the move: a promotion only when it names one.
          const std::size_t k = std::string(" pnbrq").find(tok[4]);
          promo = k == std::string::npos || k < 2 ? 0 : int(k);
        }
        addMove(SquareOf(tok, 0), SquareOf(tok, 2), promo);
      }
    }
  }

  void Emit(int code) {
    const std::uint8_t* table = Table(mode_);
    int want = mode_ == 4 ? (code + n_) & 255 : code;
    int b = 0;
    while (table[b] != want) ++b;
    bytes_.push_back(std::uint8_t(mode_ == 4 ? b : (b + n_) & 255));
  }

  void Note(int position, std::uint8_t type, const std::string& data) {
    const std::uint32_t p = std::uint32_t(position) & 0xFFFFFF;
    notes_.push_back(std::uint8_t(p >> 16));
    notes_.push_back(std::uint8_t(p >> 8));
    notes_.push_back(std::uint8_t(p));
    notes_.push_back(type);
    const std::uint32_t len = std::uint32_t(6 + data.size());
    notes_.push_back(std::uint8_t(len >> 8));
    notes_.push_back(std::uint8_t(len));
    notes_.insert(notes_.end(), data.begin(), data.end());
    ++noteCount_;
  }

  // Writes the moves from node's position: 254 before each move but the last, 255 at the end
  // of a line.
  void Serialize(int node, const Board& at) {
    const auto& kids = nodes_[std::size_t(node)].children;
    if (kids.empty()) {
      Emit(255);
      return;
    }
    for (std::size_t i = 0; i < kids.size(); ++i) {
      if (i + 1 < kids.size()) Emit(254);
      Board b = at;
      const Node& m = nodes_[std::size_t(kids[i])];
      const int position = n_;
      for (const auto& text : m.before) Note(position, 0x82, std::string(2, '\0') + text);
      PlayAndWrite(b, m);
      for (const auto& n : m.notes) Note(position, n.first, n.second);
      Serialize(kids[i], b);
    }
  }

  void PlayAndWrite(Board& b, const Node& m) {
    const int side = b.side;
    if (m.from < 0) {
      Emit(0);
      ++n_;
      b.side ^= 1;
      return;
    }
    const int from = m.from, to = m.to;
    const int v = b.sq[from];
    const int kind = v > 0 ? v : -v;
    const int df = (to >> 3) - (from >> 3), dr = (to & 7) - (from & 7);
    const int dx = df & 7, dy = dr & 7;
    int code = -1;
    const bool castle = kind == 6 && dr == 0 && (df == 2 || df == -2);
    if (castle && !g_.twoByteMoves) {
      code = df == 2 ? 9 : 10;
    } else if (g_.twoByteMoves || m.promotion != 0) {
      code = -1;
    } else if (kind == 6) {
      static const int kx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, ky[8] = {1, 1, 0, -1, -1, -1, 0, 1};
      for (int k = 0; k < 8; ++k)
        if (kx[k] == df && ky[k] == dr) code = 1 + k;
    } else if (kind == 1) {
      int num = -1;
      for (std::size_t k = 0; k < b.pawns[side].size(); ++k)
        if (b.pawns[side][k] == from) num = int(k);
      const int dir = side ? -1 : 1;
      int what = -1;
      if (df == 0 && dr == dir) what = 0;
      if (df == 0 && dr == 2 * dir) what = 1;
      if (df == dir && dr == dir) what = 2;
      if (df == -dir && dr == dir) what = 3;
      if (num >= 0 && num < 8 && what >= 0) code = 111 + num * 4 + what;
    } else {
      int num = -1;
      const auto& l = b.pieces[side][kind];
      for (std::size_t k = 0; k < l.size(); ++k)
        if (l[k] == from) num = int(k);
      static const int kBase[6][3] = {
          {}, {}, {95, 103, 227}, {67, 81, 213}, {39, 53, 199}, {11, 143, 171}};
      if (num >= 0 && num < 3) {
        const int base = kBase[kind][num];
        int idx = -1;
        if (kind == 2) {
          static const int kx[8] = {2, 1, -1, -2, -2, -1, 1, 2}, ky[8] = {1, 2, 2, 1, -1, -2, -2, -1};
          for (int k = 0; k < 8; ++k)
            if (kx[k] == df && ky[k] == dr) idx = k;
        } else {
          int group = -1, step = 0;
          if (dx == 0) group = 0, step = dy;
          else if (dy == 0) group = 1, step = dx;
          else if (dx == dy) group = 2, step = dx;
          else if (((dx + dy) & 7) == 0) group = 3, step = dx;
          if (kind == 4 && group > 1) group = -1;
          if (kind == 3) group = group >= 2 ? group - 2 : -1;
          if (group >= 0) idx = group * 7 + step - 1;
        }
        if (idx >= 0) code = base + idx;
      }
    }
    if (code < 0) {
      static const int kPromo[6] = {0, 0, 3, 2, 1, 0};  // knight 3, bishop 2, rook 1, queen 0
      const int val = from | (to << 6) | (kPromo[m.promotion] << 12);
      Emit(235);
      Emit((val >> 8) & 255);
      Emit(val & 255);
    } else {
      Emit(code);
    }
    ++n_;
    // The board after the move.
    if (castle) {
      const int rank = from & 7;
      const int rf = (df == 2 ? 7 : 0) * 8 + rank, rt = (df == 2 ? 5 : 3) * 8 + rank;
      for (int& s : b.pieces[side][4])
        if (s == rf) s = rt;
      b.pieces[side][6][0] = to;
      b.sq[rt] = b.sq[rf];
      b.sq[rf] = 0;
      b.sq[to] = v;
      b.sq[from] = 0;
      b.side ^= 1;
      return;
    }
    if (kind == 1 && df != 0 && b.sq[to] == 0) b.Remove((to & ~7) | (from & 7));
    b.Remove(to);
    int after = kind;
    if (kind == 1) {
      for (int& p : b.pawns[side])
        if (p == from) p = (m.promotion || (to & 7) == (side ? 0 : 7)) ? -1 : to;
      if ((to & 7) == (side ? 0 : 7)) {
        after = m.promotion ? m.promotion : 5;
        b.pieces[side][after].push_back(to);
      }
    } else {
      for (int& s : b.pieces[side][kind])
        if (s == from) s = to;
    }
    b.sq[from] = 0;
    b.sq[to] = side ? -after : after;
    b.side ^= 1;
  }

  const Game& g_;
  int mode_;
  int id_;
  int n_ = 0;
  std::vector<Node> nodes_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> notes_;
  int noteCount_ = 0;
};

inline void Put32le(std::vector<std::uint8_t>& o, std::int32_t v) {
  for (int i = 0; i < 4; ++i) o.push_back(std::uint8_t(std::uint32_t(v) >> (8 * i)));
}

// An entity file: records of data bytes (the tree links are left empty: readers index by id).
inline std::vector<std::uint8_t> EntityFile(const std::vector<std::vector<std::uint8_t>>& records,
                                            int dataSize) {
  std::vector<std::uint8_t> o;
  const int n = int(records.size());
  Put32le(o, n);
  Put32le(o, n > 0 ? 0 : -1);
  Put32le(o, 1234567890);
  Put32le(o, dataSize);
  Put32le(o, -1);
  Put32le(o, n);
  Put32le(o, 0);
  for (const auto& r : records) {
    Put32le(o, -1);
    Put32le(o, -1);
    o.push_back(0);
    std::vector<std::uint8_t> d = r;
    d.resize(std::size_t(dataSize), 0);
    o.insert(o.end(), d.begin(), d.end());
  }
  return o;
}

inline void PutText(std::vector<std::uint8_t>& d, std::size_t at, const std::string& s, std::size_t width) {
  if (d.size() < at + width) d.resize(at + width, 0);
  for (std::size_t i = 0; i < s.size() && i < width; ++i) d[at + i] = std::uint8_t(s[i]);
}

// Writes stem + .cbh, .cbg, .cba, .cbp, .cbt, .cbc, .cbs. mode is 0 or 4.
class DatabaseWriter {
 public:
  explicit DatabaseWriter(int mode = 0) : mode_(mode) {}

  void Add(const Game& g) {
    const int id = int(headers_.size()) + 1;
    std::vector<std::uint8_t> rec(46, 0);
    std::vector<std::uint8_t> cbg, cba;
    if (g.guidingText) {
      // A text record of the move file: flags 0x80, size, version, no titles, no contents.
      cbg = {0x80, 0, 0, 11, 3, 0, 0, 0, 0, 0, 0};
    } else {
      MoveWriter(g, mode_, id).Write(cbg, cba);
    }
    const std::uint32_t at = std::uint32_t(26 + cbgData_.size());
    cbgData_.insert(cbgData_.end(), cbg.begin(), cbg.end());
    std::uint32_t notesAt = 0;
    if (!cba.empty()) {
      notesAt = std::uint32_t(26 + cbaData_.size());
      cbaData_.insert(cbaData_.end(), cba.begin(), cba.end());
    }
    auto put = [&](int off, std::uint32_t v, int n) {
      for (int i = 0; i < n; ++i) rec[std::size_t(off + i)] = std::uint8_t(v >> (8 * (n - 1 - i)));
    };
    rec[0] = std::uint8_t((g.guidingText ? 3 : 1) | (g.deleted ? 0x80 : 0));
    put(1, at, 4);
    if (g.guidingText) {
      put(7, Tournament(g), 3);
      put(10, Source(g.source), 3);
      put(13, Annotator(g.annotator), 3);
      rec[16] = std::uint8_t(g.round);
      rec[17] = std::uint8_t(g.subround);
    } else {
      put(5, notesAt, 4);
      put(9, Player(g.white), 3);
      put(12, Player(g.black), 3);
      put(15, Tournament(g), 3);
      put(18, Annotator(g.annotator), 3);
      put(21, Source(g.source), 3);
      put(24, std::uint32_t((g.year << 9) | (g.month << 5) | g.day), 3);
      rec[27] = std::uint8_t(g.result);
      rec[29] = std::uint8_t(g.round);
      rec[30] = std::uint8_t(g.subround);
      put(31, std::uint32_t(g.whiteElo), 2);
      put(33, std::uint32_t(g.blackElo), 2);
      put(35, std::uint32_t(g.eco << 7), 2);
    }
    headers_.push_back(rec);
  }

  // The files' bytes by extension.
  std::map<std::string, std::vector<std::uint8_t>> Files() const {
    std::map<std::string, std::vector<std::uint8_t>> f;
    std::vector<std::uint8_t> h(46, 0);
    const std::uint32_t next = std::uint32_t(headers_.size() + 1);
    h[2] = 44;
    h[4] = 46;
    h[5] = 1;
    for (int i = 0; i < 4; ++i) h[std::size_t(6 + i)] = h[std::size_t(40 + i)] = std::uint8_t(next >> (8 * (3 - i)));
    for (const auto& r : headers_) h.insert(h.end(), r.begin(), r.end());
    f[".cbh"] = h;
    auto withHeader = [](const std::vector<std::uint8_t>& data) {
      std::vector<std::uint8_t> o(26, 0);
      o[1] = 26;
      const std::uint32_t size = std::uint32_t(26 + data.size());
      for (int i = 0; i < 4; ++i) o[std::size_t(2 + i)] = std::uint8_t(size >> (8 * (3 - i)));
      o[17] = std::uint8_t(size);
      o[16] = std::uint8_t(size >> 8);
      o[15] = std::uint8_t(size >> 16);
      o[14] = std::uint8_t(size >> 24);
      o.insert(o.end(), data.begin(), data.end());
      return o;
    };
    f[".cbg"] = withHeader(cbgData_);
    f[".cba"] = withHeader(cbaData_);
    f[".cbp"] = EntityFile(players_, 58);
    f[".cbt"] = EntityFile(tournaments_, 90);
    f[".cbc"] = EntityFile(annotators_, 53);
    f[".cbs"] = EntityFile(sources_, 59);
    return f;
  }

  // Writes the files; false when one cannot be written.
  bool Save(const std::string& stem) const {
    for (const auto& [ext, bytes] : Files()) {
      std::FILE* fp = std::fopen((stem + ext).c_str(), "wb");
      if (fp == nullptr) return false;
      bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
      if (std::fclose(fp) != 0 || !ok) return false;
    }
    return true;
  }

  std::size_t Count() const { return headers_.size(); }

 private:
  std::uint32_t Player(const std::string& name) {
    auto it = playerIds_.find(name);
    if (it != playerIds_.end()) return it->second;
    std::string last = name, first;
    std::size_t comma = name.find(", ");
    if (comma != std::string::npos) {
      last = name.substr(0, comma);
      first = name.substr(comma + 2);
    }
    std::vector<std::uint8_t> d;
    PutText(d, 0, last, 30);
    PutText(d, 30, first, 20);
    players_.push_back(d);
    return playerIds_[name] = std::uint32_t(players_.size() - 1);
  }
  std::uint32_t Tournament(const Game& g) {
    std::string key = g.event + '\n' + g.site;
    auto it = tournamentIds_.find(key);
    if (it != tournamentIds_.end()) return it->second;
    std::vector<std::uint8_t> d;
    PutText(d, 0, g.event, 40);
    PutText(d, 40, g.site, 30);
    tournaments_.push_back(d);
    return tournamentIds_[key] = std::uint32_t(tournaments_.size() - 1);
  }
  std::uint32_t Annotator(const std::string& name) {
    auto it = annotatorIds_.find(name);
    if (it != annotatorIds_.end()) return it->second;
    std::vector<std::uint8_t> d;
    PutText(d, 0, name, 45);
    annotators_.push_back(d);
    return annotatorIds_[name] = std::uint32_t(annotators_.size() - 1);
  }
  std::uint32_t Source(const std::string& name) {
    auto it = sourceIds_.find(name);
    if (it != sourceIds_.end()) return it->second;
    std::vector<std::uint8_t> d;
    PutText(d, 0, name, 25);
    sources_.push_back(d);
    return sourceIds_[name] = std::uint32_t(sources_.size() - 1);
  }

  int mode_;
  std::vector<std::vector<std::uint8_t>> headers_;
  std::vector<std::uint8_t> cbgData_, cbaData_;
  std::vector<std::vector<std::uint8_t>> players_, tournaments_, annotators_, sources_;
  std::map<std::string, std::uint32_t> playerIds_, tournamentIds_, annotatorIds_, sourceIds_;
};

}  // namespace cbhtest
