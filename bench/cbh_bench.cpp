// ChessBase .cbh reading: a database of 200,000 games (or LUDREX_BENCH_GAMES) made by the test
// writer from the sample games replicated with varied player and event names (moves, variations,
// comments and symbols as the samples hold them), then every game read with all fields and
// moves, and the same games copied into a native base. Each reports games per second; the files
// live under the temporary directory and are erased afterwards. LUDREX_CBH_BENCH_BASE names an
// existing database (a path without ".cbh") to read instead; it is left as it is (when it does
// not exist yet, the games are written there and kept).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../tests/support/cbh_writer.h"
#include "base/cbh/cbh_base.h"
#include "base/dispatch.h"
#include "base/library_link.h"
#include "base/native/native_base.h"
#include "base/pgn/pgn_base.h"
#include "base/registry.h"
#include "frame/error.h"
#include "movegen/game.h"
#include "platform/platform.h"
#include "record/chess_codec.h"
#include "record/field_types.h"
#include "record/record.h"
#include "search/subset.h"
#include "storage/files.h"

namespace ludrex {
namespace {

std::int32_t GameCount() {
  static const std::int32_t n = [] {
    const char* v = std::getenv("LUDREX_BENCH_GAMES");
    long k = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
    return k > 0 && k < 100000000 ? static_cast<std::int32_t>(k) : 200000;
  }();
  return n;
}

String Own(const std::string& s) { return String::Copy(s.data(), std::uint32_t(s.size())); }

std::string Tag(const std::string& game, const std::string& name) {
  const std::string key = "[" + name + " \"";
  std::size_t at = game.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return game.substr(at, game.find('"', at) - at);
}

// The sample games as writer games (moves as tokens read through the PGN reader).
std::vector<cbhtest::Game> Samples() {
  std::ifstream in(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string file = ss.str();
  std::vector<cbhtest::Game> out;
  Game* g = GameCreate(0);
  for (std::size_t at = file.find("[Event "); at != std::string::npos;) {
    const std::size_t next = file.find("\n[Event ", at);
    const std::string text = file.substr(at, next == std::string::npos ? next : next + 1 - at);
    at = next == std::string::npos ? next : next + 1;
    cbhtest::Game c;
    c.white = Tag(text, "White");
    c.black = Tag(text, "Black");
    c.event = Tag(text, "Event");
    c.site = Tag(text, "Site");
    c.annotator = Tag(text, "Annotator");
    c.year = std::atoi(Tag(text, "Date").c_str());
    c.round = std::atoi(Tag(text, "Round").c_str());
    c.whiteElo = std::atoi(Tag(text, "WhiteElo").c_str());
    c.blackElo = std::atoi(Tag(text, "BlackElo").c_str());
    const std::size_t body = text.find("\n\n") != std::string::npos ? text.find("\n\n") : text.find("\r\n\r\n");
    GameClear(g);
    GameReadPgn(g, text.data() + body, int(text.size() - body));
    GameFinish(g);
    GameRewind(g);
    ChessElement e;
    bool afterMark = false;
    while (GameNext(g, &e)) {
      if (!c.moves.empty()) c.moves += ' ';
      if (e.kind == kElementMove) {
        c.moves += char('a' + (e.from & 7));
        c.moves += char('1' + (e.from >> 4));
        c.moves += char('a' + (e.to & 7));
        c.moves += char('1' + (e.to >> 4));
        const int fr = e.from >> 4, tr = e.to >> 4;
        if (e.piece != 1 && ((fr == 6 && tr == 7) || (fr == 1 && tr == 0))) c.moves += " pnbrqk"[e.piece];
        afterMark = false;
      } else if (e.kind == kElementVariationStart || e.kind == kElementVariationEnd) {
        c.moves += e.kind == kElementVariationStart ? '(' : ')';
        afterMark = true;
      } else if (e.kind == kElementAnnotation && e.bytes[0] == kAnnotationComment) {
        c.moves += (afterMark ? "{<" : "{") + std::string(e.bytes + 1, e.bytes + e.count) + "}";
      } else if (e.kind == kElementAnnotation) {
        c.moves += std::string(e.bytes + 1, e.bytes + e.count);
      }
    }
    out.push_back(c);
  }
  GameDestroy(g);
  return out;
}

struct Setup {
  std::string name;
  std::string copy;  // the native base of the copy benchmark
  bool own = true;
  Setup() {
    BuildMessageTable();
    BuildSubsetTables();
    BuildGameScoreTables();
    CreateRegistry();
    InstallLibraryAccess();
    RegisterNativeBase();
    RegisterPgnBase();
    RegisterCbhBase();
    String t = TempDirectory();
    name = std::string(t.Text(), t.Length()) + "ludrex-cbh-bench-" +
           std::to_string(platform::TickCount());
    copy = name + "-copy";
    if (const char* given = std::getenv("LUDREX_CBH_BENCH_BASE")) {
      name = given;
      own = false;
      if (FileExists((name + ".cbh").c_str())) return;
    }
    const auto samples = Samples();
    cbhtest::DatabaseWriter w;
    for (std::int32_t k = 0; k < GameCount(); ++k) {
      cbhtest::Game g = samples[std::size_t(k) % samples.size()];
      const std::string tag = std::to_string(k % 20011);
      g.white = g.white.substr(0, 20) + tag;
      g.black = g.black.substr(0, 20) + tag;
      g.event = g.event.substr(0, 30) + " " + std::to_string(k % 3001);
      w.Add(g);
    }
    w.Save(name);
  }
  ~Setup() {
    Registry()->CloseAll();
    if (own) EraseBase(Own(name), 5);
    EraseBase(Own(copy), 0);
  }
};

Setup& State() {
  static Setup s;
  return s;
}

void BM_CbhReadAllGames(benchmark::State& state) {
  Base* b = OpenBase(Own(State().name), 5);
  std::int64_t sum = 0;
  {
    Record r(b->GetRecordPattern());
    for (auto _ : state) {
      for (std::int32_t k = 0; k < b->RecordCount(); ++k) {
        b->Read(k, r);
        sum += r[7].GetInt();
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  state.counters["games/s"] = benchmark::Counter(
      double(b->RecordCount()) * double(state.iterations()), benchmark::Counter::kIsRate);
  CloseBase(b);
}
BENCHMARK(BM_CbhReadAllGames)->Unit(benchmark::kMillisecond)->UseRealTime();

// The destination of the copies: the fields of a .cbh base, with White, Black, Event, Site and
// Annotator kept in libraries, as a native base made by an import has them.
RecordPattern ImportPattern() {
  RecordPattern names;
  names.Append(FieldSpec(kStringType, String("~3"), kFlagKey, String("")));
  RecordPattern cities;
  cities.Append(FieldSpec(kStringType, String("~12"), kFlagKey, String("")));
  RecordPattern events;
  events.Append(FieldSpec(kStringType, String("~16"), kFlagKey, String("")));
  RecordPattern p;
  const RecordPattern cbh = CbhBase::Pattern();
  for (std::int32_t i = 0; i < cbh.Count(); ++i) {
    const std::string n(cbh[i].name.Text(), cbh[i].name.Length());
    if (n == "~1" || n == "~2" || n == "~20") {
      p.Append(FieldSpec(kLibRefType, cbh[i].name, 0, String(n == "~20" ? "Annotators" : "Players"), &names));
    } else if (n == "~16") {
      p.Append(FieldSpec(kLibRefType, cbh[i].name, 0, String("Events"), &events));
    } else if (n == "~11") {
      p.Append(FieldSpec(kLibRefType, cbh[i].name, 0, String("Places"), &cities));
    } else {
      p.Append(cbh[i]);
    }
  }
  return p;
}

// Copies every game of source into a new native base; games per second.
void CopyIntoNative(benchmark::State& state, Base* source) {
  std::int32_t copied = 0;
  for (auto _ : state) {
    Base* dst = CreateBase(Own(State().copy), ImportPattern(), 0);
    dst->EnableFastAccess(nullptr);
    copied = source->AppendAnother(nullptr, dst, false, 0, nullptr);
    dst->DisableFastAccess();
    CloseBase(dst);
  }
  state.counters["games/s"] =
      benchmark::Counter(double(copied) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CbhCopyIntoNative(benchmark::State& state) {
  Base* b = OpenBase(Own(State().name), 5);
  CopyIntoNative(state, b);
  CloseBase(b);
}
BENCHMARK(BM_CbhCopyIntoNative)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The same games written as a PGN file first (not timed), then copied the same way.
void BM_PgnCopyIntoNative(benchmark::State& state) {
  const std::string pgnName = State().copy + "-pgn";
  {
    Base* b = OpenBase(Own(State().name), 5);
    Base* text = CreateBase(Own(pgnName), CbhBase::Pattern(), 2);
    b->AppendAnother(nullptr, text, false, 0, nullptr);
    CloseBase(text);
    CloseBase(b);
  }
  RecordPattern pgnPattern = CbhBase::Pattern();
  Base* pgn = OpenPgnBaseWithPattern(Own(pgnName), pgnPattern);
  CopyIntoNative(state, pgn);
  CloseBase(pgn);
  EraseBase(Own(pgnName), 2);
}
BENCHMARK(BM_PgnCopyIntoNative)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace ludrex
