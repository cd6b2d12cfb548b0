// Writes the seed corpora of the fuzz targets: seeds DIR SHARED_DATA makes DIR/<target>/ with
// inputs taken from the shared sample games and from small valid files made here (native bases
// with and without libraries, volumes, subsets, encoded game scores).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/dispatch.h"
#include "base/registry.h"
#include "movegen/game.h"
#include "record/chess_codec.h"
#include "record/field_classes.h"
#include "record/field_types.h"
#include "record/pgn_text.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/array.h"
#include "storage/volume.h"
#include "targets.h"

namespace {

using namespace ludrex;
using Bytes = std::vector<std::uint8_t>;

std::string g_out;

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Seed(const std::string& target, const std::string& name, const Bytes& b) {
  std::string dir = g_out + "/" + target;
  std::string cmd = "mkdir -p '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) return;
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

// The games of a PGN text, each as its own text.
std::vector<std::string> SplitGames(const Bytes& text) {
  PgnScanner scanner;
  std::vector<std::int64_t> starts;
  scanner.Feed(reinterpret_cast<const char*>(text.data()), text.size(), 0, starts);
  std::vector<std::string> games;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::size_t b = static_cast<std::size_t>(starts[i]);
    std::size_t e = i + 1 < starts.size() ? static_cast<std::size_t>(starts[i + 1]) : text.size();
    games.emplace_back(reinterpret_cast<const char*>(text.data()) + b, e - b);
  }
  return games;
}

RecordPattern PlayersPattern() {
  RecordPattern p;
  p.Append(FieldSpec(kStringType, String("~3"), kFlagKey, String("")));
  return p;
}

// Games with their players in an embedded library, or all fields plain.
RecordPattern GamesPattern(bool libraries) {
  RecordPattern players = PlayersPattern();
  RecordPattern p;
  if (libraries) {
    p.Append(FieldSpec(kLibRefType, String("~1"), 0, String("Players"), &players));
    p.Append(FieldSpec(kLibRefType, String("~2"), 0, String("Players"), &players));
  } else {
    p.Append(FieldSpec(kStringType, String("~1"), 0, String("")));
    p.Append(FieldSpec(kStringType, String("~2"), 0, String("")));
  }
  p.Append(FieldSpec(kStringType, String("~16"), 0, String("")));
  p.Append(FieldSpec(kDateType, String("~15"), 0, String("F")));
  p.Append(FieldSpec(kResultType, String("~14"), 0, String("")));
  p.Append(FieldSpec(kIntType, String("~9"), 0, String("2u")));
  p.Append(FieldSpec(kChessType, String("~22"), 0, String("")));
  return p;
}

constexpr const char* kNativeFiles[] = {".kvx", ".axx", ".dxx", ".iii", ".a00", ".d00", ".a01",
                                        ".d01", ".a02", ".d02", ".emb"};

// A native base of the first games, packed as the native_base target reads its input.
Bytes NativeBaseSeed(const std::vector<std::string>& games, std::size_t count, bool libraries,
                     const std::string& scratch) {
  const std::string name = scratch + "/seedbase";
  EraseBase(Own(name), 0);
  RecordPattern pattern = GamesPattern(libraries);
  Base* b = CreateBase(Own(name), pattern, 0);
  {
    Record r(pattern);
    r.LinkToBase(b);
    for (std::size_t i = 0; i < games.size() && i < count; ++i) {
      PgnGameText g;
      ParsePgnGame(games[i].data(), games[i].size(), g);
      // The players go into the library records of the two library fields.
      for (const auto& tag : g.tags) {
        if (!libraries) break;
        if (tag.name == "~1" || tag.name == "~2") {
          auto& lib = static_cast<LibRefField&>(r[tag.name == "~1" ? 0 : 1]);
          lib.LibraryRecord()[0].SetText(Own(tag.value));
        }
      }
      if (libraries) {
        for (auto& tag : g.tags) {
          if (tag.name == "~1" || tag.name == "~2") tag.name = "x";
        }
        Record rest(pattern);
        FillRecordFromPgn(g, false, rest);
        for (std::int32_t k = 2; k < r.Count(); ++k) r[k].Assign(rest[k]);
      } else {
        FillRecordFromPgn(g, false, r);
      }
      b->Write(kAppendRecord, r);
    }
  }
  CloseBase(b);
  Bytes out;
  for (const char* ext : kNativeFiles) {
    Bytes f = ReadAll(name + ext);
    std::uint32_t n = static_cast<std::uint32_t>(f.size());
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(n >> (8 * k)));
    out.insert(out.end(), f.begin(), f.end());
  }
  if (libraries) Seed("volume", "games.emb", ReadAll(name + ".emb"));
  EraseBase(Own(name), 0);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_seeds OUT_DIR SHARED_DATA\n");
    return 2;
  }
  g_out = argv[1];
  const std::string data = argv[2];
  ludrex::fuzz::Start();
  const std::string scratch = g_out + "/.scratch";
  std::string cmd = "mkdir -p '" + scratch + "'";
  if (std::system(cmd.c_str()) != 0) return 1;
  try {
    Bytes sample = ReadAll(data + "/sample-games.pgn");
    Bytes eco = ReadAll(data + "/eco.pgn");
    std::vector<std::string> games = SplitGames(sample);
    std::vector<std::string> ecoGames = SplitGames(eco);
    games.resize(std::min<std::size_t>(games.size(), 150));
    for (std::size_t i = 0; i < ecoGames.size() && i < 50; ++i) games.push_back(ecoGames[i * 7 % ecoGames.size()]);

    Game* game = GameCreate(0);
    for (std::size_t i = 0; i < games.size(); ++i) {
      const std::string id = std::to_string(i);
      Seed("pgn_game", "g" + id, Of(games[i]));
      PgnGameText g;
      ParsePgnGame(games[i].data(), games[i].size(), g);
      Seed("pgn_moves", "m" + id, Of(g.moves));
      GameClear(game);
      GameReadPgn(game, g.moves.data(), static_cast<int>(g.moves.size()));
      GameFinish(game);
      ByteBlock bytes;
      EncodeNativeGame(game, bytes);
      Seed("native_game", "n" + id, Bytes(bytes.Data(), bytes.Data() + bytes.Count()));
    }
    GameDestroy(game);
    // Hand-made PGN oddities: comments, escapes, variations, set-up, a NUL.
    Seed("pgn_moves", "odd1", Of("1. e4 {a comment} e5 (1... c5 2. Nf3 $1) 2. Nf3 ; line\n"
                                 "Nc6 {\\#\\x00\\}} 3. Bb5 a6 4. O-O-O?! 1-0"));
    Seed("pgn_moves", "odd2", Of("[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\r\n1. e4 Kd7 "
                                 "{\\@4k3/8/8/8/8/8/8/4K3 b - - 0 1} 2. -- Z0 e8=Q *"));
    Seed("pgn_game", "nul", Bytes({'[', 'E', 'v', 'e', 'n', 't', ' ', '"', 'a', 0, 'b', '"', ']',
                                   '\n', '\n', '1', '.', ' ', 'e', '4', ' ', '{', 0, '}', ' ', '*'}));
    for (std::size_t i = 0; i + 5 <= games.size() && i < 60; i += 5) {
      std::string text;
      for (std::size_t k = i; k < i + 5; ++k) text += games[k];
      Seed("pgn_file", "f" + std::to_string(i), Of(text));
    }
    // DOS bodies: a comment reference, then move codes (pawn double steps, castling, the end).
    Seed("dos_game", "d0", Bytes({0, 0, 0, 0, 136, 136, 92, 85, 0xF9, 61, 9, 5, 0xE0, 60, 0xFF, 1}));
    Seed("dos_game", "d1", Bytes({0, 0, 0, 0, 136, 130, 135, 9, 139}));
    Seed("dos_game", "d2", Bytes({0, 0, 0, 0, 136, 136, 0xFD, 0xFE, 0xFC, 0xFB, 0xFA}));

    // Native bases, and their embedded volume.
    Seed("native_base", "plain", NativeBaseSeed(games, 40, false, scratch));
    Seed("native_base", "libraries", NativeBaseSeed(games, 40, true, scratch));
    Seed("native_base", "one", NativeBaseSeed(games, 1, true, scratch));
    {
      const std::string vname = scratch + "/small.vol";
      std::unique_ptr<Volume> v(Volume::Create(vname.c_str()));
      std::int32_t dir = v->CreateEntry("sub", kVolumeDirectory, 0);
      (void)dir;
      std::int32_t id = v->ChangeDir("sub", 0);
      {
        ArrayHandle a = v->CreateMember("a.txt", 0, 0);
        a->Write(0, "hello", 5);
        ArrayHandle b = v->CreateMember("b.bin", 0, id);
        std::vector<std::uint8_t> big(3000, 7);
        b->Write(0, big.data(), static_cast<std::int32_t>(big.size()));
      }
      v->Close();
      v.reset();
      Seed("volume", "small", ReadAll(vname));
      std::remove(vname.c_str());
    }
    // Subsets: two bytes of maximum length, then the stored set.
    for (std::int32_t maxLength : {0, 9, 100, 1000}) {
      Array* a = NewMemArray(0);
      ArrayHandle storage(a);
      storage->Init(1);
      storage->Expandable(1);
      std::unique_ptr<Subset> s(Subset::CreateIn(std::move(storage), maxLength));
      if (maxLength > 3) s->IncludeRange(1, maxLength / 3);
      s->Update();
      Array* st = s->Storage();
      Bytes b = {static_cast<std::uint8_t>(maxLength & 0xFF),
                 static_cast<std::uint8_t>(maxLength >> 8)};
      std::vector<std::uint8_t> body(static_cast<std::size_t>(st->Count()));
      if (!body.empty()) st->Read(0, body.data(), static_cast<std::int32_t>(body.size()));
      b.insert(b.end(), body.begin(), body.end());
      Seed("subset", "s" + std::to_string(maxLength), b);
    }
  } catch (const Failure& f) {
    std::fprintf(stderr, "fuzz_seeds: error %u\n", static_cast<unsigned>(f.code));
    return 1;
  }
  Registry()->CloseAll();
  cmd = "rm -rf '" + scratch + "'";
  return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
