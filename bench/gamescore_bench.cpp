// Game-score codec throughput over the sample games: native bytes to a game and back, in plies
// per second (main-line and variation moves alike).
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "movegen/game.h"
#include "record/chess_codec.h"

namespace {

using namespace ludrex;

struct Corpus {
  std::vector<Game*> games;
  std::vector<std::vector<std::uint8_t>> bytes;
  std::int64_t plies = 0;
};

const Corpus& Load() {
  static Corpus* c = [] {
    auto* corpus = new Corpus;
    std::ifstream in(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    // Games are separated by their tag sections; the reader skips tag lines.
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t next = text.find("\n[Event ", pos + 1);
      if (next == std::string::npos) next = text.size();
      Game* g = GameCreate(0);
      GameReadPgn(g, text.data() + pos, int(next - pos));
      GameFinish(g);
      ByteBlock out;
      EncodeNativeGame(g, out);
      corpus->games.push_back(g);
      corpus->bytes.emplace_back(out.Data(), out.Data() + out.Count());
      ChessElement e;
      GameRewind(g);
      while (GameNext(g, &e)) corpus->plies += e.kind == kElementMove;
      pos = next;
    }
    return corpus;
  }();
  return *c;
}

void BM_DecodeNative(benchmark::State& state) {
  const Corpus& c = Load();
  Game* g = GameCreate(0);
  for (auto _ : state) {
    for (const auto& b : c.bytes) {
      GameClear(g);
      DecodeNativeGame(b.data(), std::int32_t(b.size()), g);
      GameFinish(g);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * c.plies);
  GameDestroy(g);
}
BENCHMARK(BM_DecodeNative)->Unit(benchmark::kMillisecond);

void BM_EncodeNative(benchmark::State& state) {
  const Corpus& c = Load();
  ByteBlock out;
  for (auto _ : state) {
    for (Game* g : c.games) EncodeNativeGame(g, out);
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetItemsProcessed(state.iterations() * c.plies);
}
BENCHMARK(BM_EncodeNative)->Unit(benchmark::kMillisecond);

}  // namespace
