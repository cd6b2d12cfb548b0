// Test support for the DOS base: games of a PGN file, a DOS game-score encoder (the inverse of
// the decoder: table codes while the pieces can be followed, the 16-bit move form after that),
// a packed-text encoder, the older container, and a writer of the nine files.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/legacy/legacy_base.h"
#include "movegen/game.h"
#include "platform/text.h"

namespace ludrex::testing {

// One game of a PGN file: the tags the DOS base keeps and its main line.
struct DosSource {
  std::string white, black, event, site, result, date, round, eco;
  std::vector<ChessElement> moves;  // kind 1 elements of the main line
};

// One comment entry to store with a game: kind 0 OEM text, 1 packed text, 2 symbol, 3 mark.
struct DosComment {
  std::uint16_t ply;
  std::uint8_t kind;
  std::string text;    // kinds 0 and 1
  std::uint8_t code;   // kind 2
};

struct DosGame {
  DosSource source;
  std::vector<DosComment> comments;
  bool deleted = false;
  bool longForm = false;  // write every move in the 16-bit form
};

inline std::string TagValue(const std::string& line) {
  std::size_t a = line.find('"'), b = line.rfind('"');
  return a == std::string::npos || b <= a ? std::string() : line.substr(a + 1, b - a - 1);
}

// The games of a PGN file (games from a set-up position or with null moves are left out).
inline std::vector<DosSource> ReadPgnGames(const std::string& path, std::size_t limit) {
  std::ifstream in(path);
  std::vector<DosSource> out;
  std::string line, moves;
  DosSource g;
  bool inMoves = false;
  Game* game = GameCreate(0);
  auto finish = [&] {
    if (!inMoves) return;
    GameClear(game);
    GameReadPgn(game, moves.data(), static_cast<int>(moves.size()));
    GameFinish(game);
    ChessElement e;
    int depth = 0;
    bool usable = true;
    GameRewind(game);
    while (GameNext(game, &e)) {
      if (e.kind == 2) ++depth;
      if (e.kind == 3) --depth;
      if (e.kind == 5 || (e.kind == 1 && e.from == 0xFF)) usable = false;
      if (e.kind == 1 && depth == 0) g.moves.push_back(e);
    }
    if (usable) out.push_back(g);
    g = DosSource();
    moves.clear();
    inMoves = false;
  };
  while (std::getline(in, line) && out.size() < limit) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      finish();
      const std::string tag = line.substr(1, line.find(' ') - 1);
      const std::string v = TagValue(line);
      if (tag == "White") g.white = v;
      if (tag == "Black") g.black = v;
      if (tag == "Event") g.event = v;
      if (tag == "Site") g.site = v;
      if (tag == "Result") g.result = v;
      if (tag == "Date") g.date = v;
      if (tag == "Round") g.round = v;
      if (tag == "ECO") g.eco = v;
      continue;
    }
    if (!line.empty()) inMoves = true;
    moves += line + "\n";
  }
  finish();
  GameDestroy(game);
  return out;
}

// ---- DOS game-score encoder ---------------------------------------------------------------------

// Deltas of each slot's codes, in code order (kings, queen, rooks, bishops, knights, pawns,
// then the promotion slots: knight, bishop, rook, queen).
inline std::vector<std::vector<std::uint8_t>> DosRuns(int side) {
  const std::vector<std::uint8_t> king = {0x00, 0x10, 0x11, 0x01, 0x71, 0x70,
                                          0x77, 0x07, 0x17, 0x02, 0x06};
  const std::vector<std::uint8_t> rook = {0x70, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10,
                                          0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
  const std::vector<std::uint8_t> bishop = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                            0x71, 0x62, 0x53, 0x44, 0x35, 0x26, 0x17};
  std::vector<std::uint8_t> queen = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70,
                                     0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  queen.insert(queen.end(), bishop.begin(), bishop.end());
  const std::vector<std::uint8_t> knight = {0x12, 0x72, 0x21, 0x61, 0x27, 0x67, 0x16, 0x76};
  const std::vector<std::uint8_t> pawn =
      side == 0 ? std::vector<std::uint8_t>{0x10, 0x20, 0x01, 0x11, 0x07, 0x17}
                : std::vector<std::uint8_t>{0x70, 0x60, 0x01, 0x71, 0x07, 0x77};
  std::vector<std::vector<std::uint8_t>> runs = {king, queen, rook, rook, bishop, bishop,
                                                 knight, knight};
  for (int i = 0; i < 8; ++i) runs.push_back(pawn);
  runs.push_back(knight);
  runs.push_back(bishop);
  runs.push_back(rook);
  runs.push_back(queen);
  return runs;
}

class DosEncoder {
 public:
  DosEncoder() {
    for (int side = 0; side < 2; ++side) {
      runs_[side] = DosRuns(side);
      int first = 0;
      for (std::size_t s = 0; s < runs_[side].size(); ++s) {
        firstCode_[s] = first;
        first += static_cast<int>(runs_[side][s].size());
      }
    }
    std::memset(occupant_, -1, sizeof occupant_);
    static const int kFiles[8] = {4, 3, 0, 7, 2, 5, 1, 6};
    static const int kKinds[20] = {6, 5, 4, 4, 3, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 4, 5};
    for (int side = 0; side < 2; ++side) {
      for (int s = 0; s < 22; ++s) {
        kind_[side][s] = s < 20 ? kKinds[s] : 0;
        list_[side][s] = 0x88;
        alive_[side][s] = false;
        if (s < 16) {
          int sq = s < 8 ? ((side ? 0x70 : 0x00) | kFiles[s]) : ((side ? 0x60 : 0x10) | (s - 8));
          list_[side][s] = static_cast<std::uint8_t>(sq);
          alive_[side][s] = true;
          occupant_[sq] = side * 32 + s;
        }
      }
    }
  }

  // The body: the comment reference, then the codes of the moves.
  std::vector<std::uint8_t> Encode(const std::vector<ChessElement>& moves, std::uint32_t reference,
                                   bool longForm) {
    std::vector<std::uint8_t> out(4);
    std::memcpy(out.data(), &reference, 4);
    longForm_ = longForm;
    if (longForm_) out.push_back(0xFA);
    int side = 0;
    for (const ChessElement& m : moves) {
      Move(out, side, m);
      side ^= 1;
    }
    if (longForm_) {
      out.push_back(0);
      out.push_back(0);
    } else {
      out.push_back(0xFF);
    }
    return out;
  }

 private:
  static std::uint8_t Delta(int from, int to) { return static_cast<std::uint8_t>(((to | 8) - from) & 0x77); }

  int Code(int side, int slot, std::uint8_t delta) const {
    const auto& run = runs_[side][static_cast<std::size_t>(slot)];
    for (std::size_t i = 0; i < run.size(); ++i) {
      if (run[i] == delta) return firstCode_[slot] + static_cast<int>(i);
    }
    return -1;
  }

  void Long(std::vector<std::uint8_t>& out, int kind, int from, int to) {
    const unsigned v = unsigned(kind) << 13 | unsigned((from & 7) << 10) |
                       unsigned(((from >> 4) & 7) << 7) | unsigned((to & 7) << 3) |
                       unsigned((to >> 4) & 7);
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  }

  void Capture(int square) {
    const int o = occupant_[square];
    if (o >= 0 && (o & 31) < 22) alive_[o >> 5][o & 31] = false;
    occupant_[square] = -1;
  }

  void Move(std::vector<std::uint8_t>& out, int side, const ChessElement& m) {
    const int from = m.from, to = m.to;
    const int o = occupant_[from];
    const int slot = o >= 0 ? (o & 31) : -1;
    const int kind = slot >= 0 && slot < 22 ? kind_[side][slot] : m.piece;
    const bool castle = kind == 6 && ((to & 7) - (from & 7) == 2 || (from & 7) - (to & 7) == 2);
    const bool enPassant = kind == 1 && (to & 7) != (from & 7) && occupant_[to] < 0;
    const bool promotion = kind == 1 && m.piece != 1;
    const int sideways = (from & 0x70) | (to & 7);
    const int rookFrom = castle ? ((from & 0x70) | ((to & 7) == 6 ? 7 : 0)) : -1;
    const int rookTo = castle ? ((from & 0x70) | ((to & 7) == 6 ? 5 : 3)) : -1;

    if (!longForm_) {
      // The table form, when every piece involved can be followed.
      bool ok = slot >= 0 && slot < 22 && (o >> 5) == side;
      int code = -1, extra = -1, rookCode = -1;
      if (ok) {
        const int target = enPassant ? sideways : to;
        const std::uint8_t d = Delta(list_[side][slot], target);
        code = Code(side, slot, d);
        if (enPassant && d != 0x01 && d != 0x07) code = -1;
        // A pawn's sideways step is read as en passant; a plain move to the last rank as a queen.
        if (kind == 1 && !enPassant && (d == 0x01 || d == 0x07)) code = -1;
        if (kind == 1 && !promotion && ((to >> 4) == (side ? 0 : 7))) code = -1;
        ok = code >= 0;
        if (ok && promotion) extra = 0xF9 + m.piece;
        if (ok && castle) {
          const int r = occupant_[rookFrom];
          ok = r >= 0 && (r >> 5) == side && (r & 31) < 22;
          if (ok) {
            rookCode = Code(side, r & 31, Delta(list_[side][r & 31], rookTo));
            ok = rookCode >= 0;
          }
        }
      }
      if (!ok) {
        longForm_ = true;
        out.push_back(0xFA);
      } else {
        if (castle) {
          out.push_back(0xF9);
          out.push_back(static_cast<std::uint8_t>(rookCode));
        }
        if (extra >= 0) out.push_back(static_cast<std::uint8_t>(extra));
        out.push_back(static_cast<std::uint8_t>(code));
      }
    }
    if (longForm_) {
      if (promotion) {
        Long(out, m.piece, from, to);
      } else if (enPassant) {
        Long(out, 1, from, sideways);
      } else {
        Long(out, kind, from, to);
      }
    }

    // The position after the move, as the decoder's list sees it (table form) and as it is.
    if (enPassant) Capture(sideways);
    Capture(to);
    if (slot >= 0 && slot < 22 && (o >> 5) == side) {
      list_[side][slot] = static_cast<std::uint8_t>(enPassant ? sideways : to);
    }
    occupant_[from] = -1;
    if (promotion) {
      if (slot >= 0 && slot < 22) alive_[side][slot] = false;
      const int p = 16 + (m.piece - 2);
      if (alive_[side][p]) {
        // The earlier promoted piece of that kind can no longer be followed.
        for (int sq = 0; sq < 128; ++sq) {
          if (occupant_[sq] == side * 32 + p) occupant_[sq] = side * 32 + 31;
        }
      }
      alive_[side][p] = true;
      list_[side][p] = static_cast<std::uint8_t>(to);
      occupant_[to] = side * 32 + p;
    } else {
      occupant_[to] = o;
    }
    if (castle) {
      const int r = occupant_[rookFrom];
      occupant_[rookFrom] = -1;
      occupant_[rookTo] = r;
      if (r >= 0 && (r & 31) < 22) list_[side][r & 31] = static_cast<std::uint8_t>(rookTo);
    }
  }

  std::vector<std::vector<std::uint8_t>> runs_[2];
  int firstCode_[22] = {};
  int kind_[2][22];
  std::uint8_t list_[2][22];
  bool alive_[2][22];
  int occupant_[128];  // side * 32 + slot; slot 31: a piece that cannot be followed
  bool longForm_ = false;
};

// ---- Packed text --------------------------------------------------------------------------------

inline std::vector<std::uint8_t> PackText(const std::string& text) {
  static const char kTable[] = "  ai()ernolstu  bcdfghjkmpqvwxyz0123456789\"'-./ ";
  std::vector<unsigned> v;
  bool capital = true;
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
    const char look = upper ? char(c - 'A' + 'a') : char(c);
    int k = -1;
    for (int i = 1; i < 47 && k < 0; ++i) {
      if (i == 14 || i == 15) continue;
      if (kTable[i] == look && (look != ' ' || i == 1)) k = i;
    }
    if ((upper || lower) && upper != capital) v.push_back(0);
    if (k >= 1 && k <= 13) {
      v.push_back(static_cast<unsigned>(k));
    } else if (k >= 16) {
      v.push_back(13 + static_cast<unsigned>(k) / 16);
      v.push_back(static_cast<unsigned>(k) % 16);
    } else {  // a byte of 30 or more, unchanged
      v.push_back(15);
      v.push_back(15);
      v.push_back(c & 15u);
      v.push_back(c >> 4);
    }
    capital = ch == ' ' || ch == '(' || ch == '.';
  }
  if (v.size() % 2 != 0) v.push_back(0);
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < v.size(); i += 2) out.push_back(static_cast<std::uint8_t>(v[i] | v[i + 1] << 4));
  return out;
}

// ---- The older container ------------------------------------------------------------------------

struct ContainerMember {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> BuildContainer(const std::vector<ContainerMember>& members) {
  std::vector<std::uint8_t> file(1024, 0);
  file[254] = 'M';
  file[260] = static_cast<std::uint8_t>(members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ContainerMember& m = members[i];
    const std::int32_t length = static_cast<std::int32_t>(m.bytes.size());
    const std::size_t blocks = (m.bytes.size() + 1023) / 1024;
    const std::uint16_t table = static_cast<std::uint16_t>(file.size() / 1024);
    file.resize(file.size() + 1024 * (1 + blocks), 0);
    std::uint8_t* e = &file[262 + 23 * i];
    std::memcpy(e, &length, 4);
    std::memcpy(e + 4, &table, 2);
    e[6] = static_cast<std::uint8_t>(m.name.size());
    std::memcpy(e + 7, m.name.data(), std::min<std::size_t>(m.name.size(), 16));
    // Data blocks in reverse order, to show that the table is followed.
    for (std::size_t b = 0; b < blocks; ++b) {
      const std::uint16_t block = static_cast<std::uint16_t>(table + blocks - b);
      std::memcpy(&file[table * 1024u + 2 * b], &block, 2);
      const std::size_t n = std::min<std::size_t>(1024, m.bytes.size() - b * 1024);
      std::memcpy(&file[block * 1024u], m.bytes.data() + b * 1024, n);
    }
  }
  return file;
}

// ---- The base -----------------------------------------------------------------------------------

inline void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
void Put(std::vector<std::uint8_t>& out, T v) {
  const std::size_t at = out.size();
  out.resize(at + sizeof(T));
  std::memcpy(&out[at], &v, sizeof(T));
}

inline std::string Oem(const std::string& s) {
  std::string o(s);
  if (!o.empty()) platform::Cp1251ToOem(o.data(), o.data(), o.size());
  return o;
}

// A library of distinct names; number 0 means "none" in the game headers, so record n is n + 1.
struct DosLibrary {
  std::vector<std::string> names;
  std::uint16_t Add(const std::string& name) {
    if (name.empty()) return 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return static_cast<std::uint16_t>(i + 1);
    }
    names.push_back(name);
    return static_cast<std::uint16_t>(names.size());
  }
};

inline std::int32_t ResultCode(const std::string& r) {
  if (r == "1/2-1/2") return 1;
  if (r == "1-0") return 2;
  if (r == "0-1") return 3;
  return 4;  // read as no result
}

inline std::uint16_t EcoValue(const std::string& eco) {
  int e = -1;
  if (eco.size() == 3 && eco[0] >= 'A' && eco[0] <= 'E') e = (eco[0] - 'A') * 100 + std::stoi(eco.substr(1));
  const int v = e + 100;
  return static_cast<std::uint16_t>((v / 100) << 13 | (v % 100) << 6);
}

// Writes the nine files of a DOS base; flag bit 0 stores the library names as packed texts.
inline void WriteDosBase(const std::string& base, const std::vector<DosGame>& games,
                         const std::string& description, std::uint8_t flag,
                         std::vector<std::uint8_t>* bodiesOut = nullptr) {
  DosLibrary players, places, events, remarks;
  std::vector<std::uint8_t> bgh, bba, bgb, ndx(64, 0), dsc, bdy;
  for (std::size_t k = 0; k < games.size(); ++k) {
    const DosGame& g = games[k];
    const DosSource& s = g.source;
    std::uint32_t reference = 0;
    if (!g.comments.empty()) {
      reference = static_cast<std::uint32_t>(ndx.size() / 8);
      for (std::size_t c = 0; c < g.comments.size(); ++c) {
        const DosComment& m = g.comments[c];
        std::uint32_t offset = 0;
        std::uint8_t length = m.code;
        if (m.kind == 0) {
          offset = static_cast<std::uint32_t>(dsc.size());
          std::string t = Oem(m.text);
          dsc.insert(dsc.end(), t.begin(), t.end());
          length = static_cast<std::uint8_t>(t.size());
        } else if (m.kind == 1) {
          offset = static_cast<std::uint32_t>(bdy.size());
          std::vector<std::uint8_t> p = PackText(m.text);
          bdy.insert(bdy.end(), p.begin(), p.end());
          length = static_cast<std::uint8_t>(p.size());
        }
        Put<std::uint32_t>(ndx, offset);
        Put<std::uint16_t>(ndx, m.ply);
        ndx.push_back(length);
        ndx.push_back(static_cast<std::uint8_t>(m.kind << 1 | (c + 1 == g.comments.size() ? 0x80 : 0)));
      }
    }
    Put<std::uint16_t>(bgh, players.Add(s.white));
    Put<std::uint16_t>(bgh, players.Add(s.black));
    Put<std::uint16_t>(bgh, static_cast<std::uint16_t>(ResultCode(s.result)));
    Put<std::uint16_t>(bgh, static_cast<std::uint16_t>(s.date.size() >= 4 && s.date[0] != '?' ? std::stoi(s.date.substr(0, 4)) : 0));
    Put<std::uint16_t>(bgh, places.Add(s.site));
    Put<std::uint16_t>(bgh, events.Add(s.event));
    int round = 0;
    if (!s.round.empty() && s.round[0] >= '0' && s.round[0] <= '9') round = std::stoi(s.round) % 256;
    Put<std::uint16_t>(bgh, static_cast<std::uint16_t>(round));
    Put<std::uint16_t>(bgh, 0);
    Put<std::uint16_t>(bgh, EcoValue(s.eco));
    Put<std::uint16_t>(bgh, 0);
    Put<std::uint16_t>(bgh, remarks.Add(k % 4 == 0 ? "Remark " + std::to_string(k) : ""));
    Put<std::uint16_t>(bgh, 0);
    Put<std::uint32_t>(bba, static_cast<std::uint32_t>(bgb.size()));
    DosEncoder enc;
    std::vector<std::uint8_t> body = enc.Encode(s.moves, reference, g.longForm);
    bgb.insert(bgb.end(), body.begin(), body.end());
  }
  if (bodiesOut != nullptr) *bodiesOut = bgb;

  std::vector<std::uint8_t> bfi(kLegacyHeaderSize, 0);
  std::memcpy(bfi.data(), kLegacyMark, 44);
  bfi[44] = flag;
  const std::int32_t count = static_cast<std::int32_t>(games.size());
  std::memcpy(&bfi[49], &count, 4);
  const std::string d = Oem(description.substr(0, 254));
  bfi[53] = static_cast<std::uint8_t>(d.size());
  std::memcpy(&bfi[54], d.data(), d.size());

  std::vector<ContainerMember> members;
  const std::pair<const char*, DosLibrary*> libs[4] = {
      {"PNE", &players}, {"PLE", &places}, {"TCE", &events}, {"COE", &remarks}};
  for (const auto& [code, lib] : libs) {
    std::vector<std::uint8_t> head(20, 0), offsets, texts;
    std::memcpy(head.data(), "QX DOS library", 14);
    const std::uint16_t n = static_cast<std::uint16_t>(lib->names.size());
    std::memcpy(&head[18], &n, 2);
    for (const std::string& name : lib->names) {
      Put<std::uint32_t>(offsets, static_cast<std::uint32_t>(texts.size()));
      if (flag & 1) {
        std::vector<std::uint8_t> p = PackText(name);
        texts.insert(texts.end(), p.begin(), p.end());
      } else {
        std::string t = Oem(name);
        texts.insert(texts.end(), t.begin(), t.end());
      }
    }
    Put<std::uint32_t>(offsets, static_cast<std::uint32_t>(texts.size()));
    members.push_back({std::string(code) + ".#00", head});
    members.push_back({std::string(code) + ".#01", offsets});
    members.push_back({std::string(code) + ".#02", texts});
  }

  // Deletion marks in the older subset layout: 89 header bytes (MaxLength at 85), the mask.
  std::vector<std::uint8_t> bid(89, 0);
  std::memcpy(&bid[85], &count, 4);
  bid.resize(89 + (games.size() + 7) / 8, 0);
  for (std::size_t k = 0; k < games.size(); ++k) {
    if (games[k].deleted) bid[89 + k / 8] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
  }

  WriteFile(base + ".bfi", bfi);
  WriteFile(base + ".bgh", bgh);
  WriteFile(base + ".bba", bba);
  WriteFile(base + ".bgb", bgb);
  WriteFile(base + ".ndx", ndx);
  WriteFile(base + ".dsc", dsc);
  WriteFile(base + ".bdy", bdy);
  WriteFile(base + ".bid", bid);
  WriteFile(base + ".lib", BuildContainer(members));
}

}  // namespace ludrex::testing
