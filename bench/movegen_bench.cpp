// Move-generator throughput: PGN move text read and written per second over the sample games,
// and perft nodes per second from the start position.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "movegen/game.h"
#include "movegen/movegen.h"

namespace {

// The move texts of the sample games: the lines after each tag block.
const std::vector<std::string>& SampleMoveTexts() {
  static const std::vector<std::string> texts = [] {
    std::ifstream in(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string file = ss.str();
    std::vector<std::string> out;
    std::string current;
    bool inTags = false;
    std::size_t pos = 0;
    while (pos < file.size()) {
      std::size_t end = file.find('\n', pos);
      if (end == std::string::npos) end = file.size();
      const std::string line = file.substr(pos, end + 1 - pos);
      pos = end + 1;
      if (!line.empty() && line[0] == '[') {
        if (!inTags && !current.empty()) out.push_back(current);
        if (!inTags) current.clear();
        inTags = true;
      } else {
        inTags = false;
        current += line;
      }
    }
    if (!current.empty()) out.push_back(current);
    if (out.empty()) std::fprintf(stderr, "movegen_bench: no games in %s\n", LUDREX_SHARED_DATA);
    return out;
  }();
  return texts;
}

void BM_GameReadPgn(benchmark::State& state) {
  const std::vector<std::string>& texts = SampleMoveTexts();
  ludrex::Game* game = ludrex::GameCreate(0);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& t : texts) {
      ludrex::GameClear(game);
      benchmark::DoNotOptimize(ludrex::GameReadPgn(game, t.data(), int(t.size())));
      ludrex::GameFinish(game);
      bytes += std::int64_t(t.size());
    }
  }
  state.SetBytesProcessed(bytes);
  state.counters["games"] = double(texts.size());
  ludrex::GameDestroy(game);
}
BENCHMARK(BM_GameReadPgn)->Unit(benchmark::kMillisecond);

void BM_GameWritePgn(benchmark::State& state) {
  const std::vector<std::string>& texts = SampleMoveTexts();
  std::vector<ludrex::Game*> games;
  for (const std::string& t : texts) {
    ludrex::Game* g = ludrex::GameCreate(0);
    ludrex::GameReadPgn(g, t.data(), int(t.size()));
    ludrex::GameFinish(g);
    games.push_back(g);
  }
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (ludrex::Game* g : games) {
      char* text;
      int length;
      ludrex::GameWritePgn(g, &text, &length);
      benchmark::DoNotOptimize(text);
      bytes += length;
    }
  }
  state.SetBytesProcessed(bytes);
  for (ludrex::Game* g : games) ludrex::GameDestroy(g);
}
BENCHMARK(BM_GameWritePgn)->Unit(benchmark::kMillisecond);

// Leaf nodes per second; the last ply is counted in bulk (the legal moves of each position one
// ply above are counted, not played).
void BM_PerftStart5(benchmark::State& state) {
  const ludrex::chess::Position start = ludrex::chess::Position::Start();
  std::uint64_t nodes = 0;
  for (auto _ : state) nodes += ludrex::chess::Perft(start, 5);
  state.counters["nodes/s"] = benchmark::Counter(double(nodes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PerftStart5)->Unit(benchmark::kMillisecond);

}  // namespace
