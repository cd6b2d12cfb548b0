// Storage benchmarks: sequential I/O of a 200 MB file through BufArray(40000/40000) over a
// FileArray against a plain loop over the same file with a 40000-element buffer, and appending
// to / reading back a volume member against a plain file. The files live in a scratch directory
// under the temporary directory and are deleted afterwards.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/platform.h"
#include "storage/array.h"
#include "storage/array_stream.h"
#include "storage/files.h"
#include "storage/volume.h"

namespace ludrex {
namespace {

constexpr std::int64_t kFileBytes = 200ll * 1024 * 1024;
constexpr std::int32_t kBufLen = 40000;
constexpr std::int64_t kVolumeBytes = 64ll * 1024 * 1024;
constexpr std::int32_t kAppendChunk = 4096;

// A scratch directory for the whole run, removed with its files when the program ends.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    String t = TempDirectory();
    std::string d =
        std::string(t.Text(), t.Length()) + "ludrex-bench-" + std::to_string(platform::TickCount());
    CreateDir(d.c_str());
    path = d + platform::kPathSeparator;
  }
  ~ScratchDir() {
    for (const char* n : {"buf.dat", "plain.dat", "bench.vol", "plainvol.dat"}) {
      RemoveFile((path + n).c_str());
    }
    std::filesystem::remove(path.substr(0, path.size() - 1));
  }
};

const std::string& Scratch() {
  static ScratchDir dir;
  return dir.path;
}

ArrayHandle Buffered(std::int32_t count, const std::string& name) {
  ArrayHandle h(
      NewBufArray(NewFileArray(count, name.c_str(), platform::kFlagSequential), kBufLen, kBufLen));
  return h;
}

// The BufArray write benchmarks: a fresh BufArray over buf.dat, filled by
// fill(array, n, T{}) with the n elements of the benchmark's element size (T is std::uint8_t or
// std::uint32_t), then flushed. The callers get the window array itself, so that they reach its
// inline sequential paths.
template <class Fill>
void WriteBench(benchmark::State& state, Fill fill) {
  const auto es = static_cast<std::uint16_t>(state.range(0));
  const std::int32_t n = static_cast<std::int32_t>(kFileBytes / es);
  for (auto _ : state) {
    ArrayHandle a = Buffered(0, Scratch() + "buf.dat");
    a->Init(es);
    auto& b = static_cast<BufArray&>(*a.Get());
    if (es == 1) {
      fill(b, n, std::uint8_t{});
    } else {
      fill(b, n, std::uint32_t{});
    }
    a->Flush();
  }
  state.SetBytesProcessed(state.iterations() * kFileBytes);
}

// The read benchmarks: buf.dat reopened through a BufArray and summed by sum(array, T{}).
template <class Sum>
void ReadBench(benchmark::State& state, Sum sum) {
  const auto es = static_cast<std::uint16_t>(state.range(0));
  std::uint64_t total = 0;
  for (auto _ : state) {
    ArrayHandle a(
        NewBufArray(NewFileArray(-1, (Scratch() + "buf.dat").c_str(), platform::kFlagSequential),
                    kBufLen, kBufLen));
    a->Init(es);
    auto& b = static_cast<BufArray&>(*a.Get());
    total += es == 1 ? sum(b, std::uint8_t{}) : sum(b, std::uint32_t{});
  }
  benchmark::DoNotOptimize(total);
  state.SetBytesProcessed(state.iterations() * kFileBytes);
}

// One element per call of the window array: PutByteNext/PutLongNext, GetByteNext/GetLongNext.
void BM_BufArrayWrite(benchmark::State& state) {
  WriteBench(state, [](BufArray& b, std::int32_t n, auto t) {
    using T = decltype(t);
    for (std::int32_t i = 0; i < n; ++i) {
      if constexpr (sizeof(T) == 1) {
        b.PutByteNext(static_cast<T>(i));
      } else {
        b.PutLongNext(static_cast<T>(i));
      }
    }
  });
}

void BM_BufArrayRead(benchmark::State& state) {
  ReadBench(state, [](BufArray& b, auto t) {
    std::uint64_t sum = 0;
    for (std::int32_t i = 0, n = b.Count(); i < n; ++i) {
      if constexpr (sizeof(t) == 1) {
        sum += b.GetByteNext();
      } else {
        sum += b.GetLongNext();
      }
    }
    return sum;
  });
}

// One element at a time through the stream cursors over the same BufArray: Put and Next.
void BM_BufArrayStreamWrite(benchmark::State& state) {
  WriteBench(state, [](BufArray& b, std::int32_t n, auto t) {
    using T = decltype(t);
    ArrayWriter<T> w(&b, 0);
    for (std::int32_t i = 0; i < n; ++i) w.Put(static_cast<T>(i));
    w.Flush();
  });
}

// Out of line and at a fixed alignment: the figure of this tight loop moved by a third with
// the placement of unrelated code in this file.
template <typename T>
[[gnu::noinline, gnu::aligned(64)]] std::uint64_t StreamRead(Array* a) {
  ArrayReader<T> r(a, 0);
  std::uint64_t sum = 0;
  for (std::int32_t i = 0, n = a->Count(); i < n; ++i) sum += r.Next();
  return sum;
}

void BM_BufArrayStreamRead(benchmark::State& state) {
  ReadBench(state, [](BufArray& b, auto t) { return StreamRead<decltype(t)>(&b); });
}

// A run at a time through the same cursors: Room/Advance and Run/Skip.
void BM_BufArrayRunWrite(benchmark::State& state) {
  WriteBench(state, [](BufArray& b, std::int32_t n, auto t) {
    using T = decltype(t);
    ArrayWriter<T> w(&b, 0);
    for (std::int32_t i = 0; i < n;) {
      std::span<T> room = w.Room();
      const auto k = static_cast<std::int32_t>(
          std::min<std::size_t>(room.size(), static_cast<std::size_t>(n - i)));
      for (std::int32_t j = 0; j < k; ++j)
        room[static_cast<std::size_t>(j)] = static_cast<T>(i + j);
      w.Advance(static_cast<std::size_t>(k));
      i += k;
    }
    w.Flush();
  });
}

void BM_BufArrayRunRead(benchmark::State& state) {
  ReadBench(state, [](BufArray& b, auto t) {
    using T = decltype(t);
    ArrayReader<T> r(&b, 0);
    std::uint64_t sum = 0;
    for (std::span<const T> run = r.Run(); !run.empty(); run = r.Run()) {
      for (T x : run) sum += x;
      r.Skip(run.size());
    }
    return sum;
  });
}

// Block transfers of a whole window at a time through the array interface.
void BM_BufArrayBlockWrite(benchmark::State& state) {
  WriteBench(state, [](BufArray& b, std::int32_t n, auto) {
    const std::vector<char> chunk(static_cast<std::size_t>(kBufLen) * b.ElementSize(), 'w');
    for (std::int32_t done = 0; done < n; done += kBufLen) {
      b.WriteNext(chunk.data(), std::min(kBufLen, n - done));
    }
  });
}

void BM_BufArrayBlockRead(benchmark::State& state) {
  ReadBench(state, [](BufArray& b, auto) {
    std::vector<char> chunk(static_cast<std::size_t>(kBufLen) * b.ElementSize());
    std::uint64_t sum = 0;
    for (std::int32_t i = 0, n = b.Count(); i < n; i += kBufLen) {
      b.ReadNext(chunk.data(), std::min(kBufLen, n - i));
      sum += static_cast<unsigned char>(chunk[0]);
    }
    return sum;
  });
}

// Reading through direct windows (LockForward), the way block operations use an array.
void BM_BufArrayWindowRead(benchmark::State& state) {
  ReadBench(state, [](BufArray& b, auto t) {
    using T = decltype(t);
    std::uint64_t sum = 0;
    for (std::int32_t i = 0, n = b.Count(); i < n;) {
      const auto* p = static_cast<const unsigned char*>(b.LockForward(i));
      const std::int32_t k = b.LockedCount();
      for (std::int32_t j = 0; j < k; ++j) {
        T v;
        std::memcpy(&v, p + sizeof(T) * static_cast<std::size_t>(j), sizeof(T));
        sum += v;
      }
      b.Unlock(false);
      i += k;
    }
    return sum;
  });
}

void BM_PlainWrite(benchmark::State& state) {
  const auto es = static_cast<std::size_t>(state.range(0));
  const std::int64_t n = kFileBytes / static_cast<std::int64_t>(es);
  std::vector<char> buffer(kBufLen * es);
  for (auto _ : state) {
    platform::FileHandle h = platform::OpenFileHandle(
        (Scratch() + "plain.dat").c_str(), platform::OpenMode::kCreateAlways,
        platform::kAccessReadWrite, platform::kShareExclusive, platform::kFlagSequential);
    std::int64_t pos = 0;
    std::size_t fill = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      if (es == 1) {
        buffer[fill] = static_cast<char>(i);
      } else {
        auto v = static_cast<std::uint32_t>(i);
        std::memcpy(&buffer[fill * 4], &v, 4);
      }
      if (++fill == kBufLen) {
        platform::WriteAt(h, pos, buffer.data(), fill * es);
        pos += static_cast<std::int64_t>(fill * es);
        fill = 0;
      }
    }
    if (fill > 0) platform::WriteAt(h, pos, buffer.data(), fill * es);
    platform::FlushFileHandle(h);
    platform::CloseFileHandle(h);
  }
  state.SetBytesProcessed(state.iterations() * kFileBytes);
}

void BM_PlainRead(benchmark::State& state) {
  const auto es = static_cast<std::size_t>(state.range(0));
  std::vector<char> buffer(kBufLen * es);
  std::uint64_t sum = 0;
  for (auto _ : state) {
    platform::FileHandle h = platform::OpenFileHandle(
        (Scratch() + "plain.dat").c_str(), platform::OpenMode::kOpenExisting, platform::kAccessRead,
        platform::kShareRead, platform::kFlagSequential);
    std::int64_t length = 0;
    platform::GetFileLength(h, &length);
    for (std::int64_t pos = 0; pos < length;) {
      std::size_t bytes = static_cast<std::size_t>(
          std::min<std::int64_t>(length - pos, static_cast<std::int64_t>(buffer.size())));
      platform::ReadAt(h, pos, buffer.data(), bytes);
      pos += static_cast<std::int64_t>(bytes);
      if (es == 1) {
        for (std::size_t i = 0; i < bytes; ++i) sum += static_cast<unsigned char>(buffer[i]);
      } else {
        for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
          std::uint32_t v;
          std::memcpy(&v, &buffer[i], 4);
          sum += v;
        }
      }
    }
    platform::CloseFileHandle(h);
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * kFileBytes);
}

void BM_VolumeAppendRead(benchmark::State& state) {
  std::vector<char> chunk(kAppendChunk, 'v');
  std::uint64_t sum = 0;
  for (auto _ : state) {
    Volume* v = Volume::Create((Scratch() + "bench.vol").c_str());
    {
      ArrayHandle m(new VolumeFileArray(0, "member", v, 0));
      m->Init(1);
      for (std::int64_t done = 0; done < kVolumeBytes; done += kAppendChunk) {
        m->WriteNext(chunk.data(), kAppendChunk);
      }
      m->Flush();
      m->SetPosition(0);
      for (std::int64_t done = 0; done < kVolumeBytes; done += kAppendChunk) {
        m->ReadNext(chunk.data(), kAppendChunk);
        sum += static_cast<unsigned char>(chunk[7]);
      }
    }
    v->Update();
    delete v;
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * kVolumeBytes * 2);
}

void BM_PlainAppendRead(benchmark::State& state) {
  std::vector<char> chunk(kAppendChunk, 'v');
  std::uint64_t sum = 0;
  for (auto _ : state) {
    platform::FileHandle h = platform::OpenFileHandle(
        (Scratch() + "plainvol.dat").c_str(), platform::OpenMode::kCreateAlways,
        platform::kAccessReadWrite, platform::kShareExclusive, platform::kFlagRandom);
    for (std::int64_t done = 0; done < kVolumeBytes; done += kAppendChunk) {
      platform::WriteAt(h, done, chunk.data(), kAppendChunk);
    }
    for (std::int64_t done = 0; done < kVolumeBytes; done += kAppendChunk) {
      platform::ReadAt(h, done, chunk.data(), kAppendChunk);
      sum += static_cast<unsigned char>(chunk[7]);
    }
    platform::FlushFileHandle(h);
    platform::CloseFileHandle(h);
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * kVolumeBytes * 2);
}

// Writes come first so that the read benchmarks find their files.
BENCHMARK(BM_BufArrayWrite)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayRead)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayStreamWrite)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayStreamRead)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayRunWrite)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayRunRead)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayWindowRead)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayBlockWrite)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufArrayBlockRead)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VolumeAppendRead)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainAppendRead)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ludrex
