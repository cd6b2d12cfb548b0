// PGN base throughput: opening (the one scan that indexes the games) and reading every game into
// full records, on the sample games replicated to a file of about 40 MB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "base/pgn/pgn_base.h"
#include "frame/error.h"
#include "record/record.h"
#include "storage/files.h"

namespace {

using namespace ludrex;

struct BigFile {
  std::string name;  // base name (without ".pgn")
  std::int64_t bytes = 0;
};

const BigFile& File() {
  static BigFile* f = [] {
    auto* big = new BigFile;
    std::ifstream in(std::string(LUDREX_SHARED_DATA) + "/sample-games.pgn", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string one = ss.str() + "\r\n";
    const String dir = TempDirectory();
    big->name = std::string(dir.Text(), dir.Length()) + "ludrex_pgn_bench";
    std::atexit([] { std::remove((File().name + ".pgn").c_str()); });
    std::ofstream out(big->name + ".pgn", std::ios::binary | std::ios::trunc);
    while (big->bytes < (40 << 20)) {
      out << one;
      big->bytes += std::int64_t(one.size());
    }
    return big;
  }();
  return *f;
}

String Name() { return String::Copy(File().name.data(), std::uint32_t(File().name.size())); }

void BM_PgnOpenScan(benchmark::State& state) {
  for (auto _ : state) {
    PgnBase base(Name(), nullptr);
    benchmark::DoNotOptimize(base.RecordCount());
  }
  state.SetBytesProcessed(state.iterations() * File().bytes);
}
BENCHMARK(BM_PgnOpenScan)->Unit(benchmark::kMillisecond);

void BM_PgnReadAllRecords(benchmark::State& state) {
  PgnBase base(Name(), nullptr);
  Record r(base.GetRecordPattern());
  for (auto _ : state) {
    for (std::int32_t i = 0; i < base.RecordCount(); ++i) base.Read(i, r);
  }
  state.SetBytesProcessed(state.iterations() * File().bytes);
  state.counters["games"] = base.RecordCount();
}
BENCHMARK(BM_PgnReadAllRecords)->Unit(benchmark::kMillisecond);

}  // namespace
