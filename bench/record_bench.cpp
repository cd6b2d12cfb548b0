// Field keys and comparisons: strings of player-name length, and the fixed-size classes.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "record/field.h"
#include "record/field_classes.h"

namespace {

using namespace ludrex;

// "Surname, Initials"-like texts of 8 to 24 characters, Latin and Cyrillic.
std::vector<std::unique_ptr<Field>> PlayerNames(int n) {
  std::mt19937 rng(42);
  const std::string latin = "abcdefghijklmnopqrstuvwxyz";
  std::vector<std::unique_ptr<Field>> fields;
  for (int i = 0; i < n; ++i) {
    std::string s;
    int len = std::uniform_int_distribution<int>(6, 20)(rng);
    bool cyr = i % 3 == 0;
    for (int k = 0; k < len; ++k) {
      char c = cyr ? static_cast<char>(0xE0 + rng() % 32) : latin[rng() % latin.size()];
      if (k == 0) c = cyr ? static_cast<char>(c - 32) : static_cast<char>(c - 32);
      s += c;
    }
    s += ", A.";
    auto f =
        std::unique_ptr<Field>(CreateField(FieldSpec(kStringType, String("~1"), 0, String(""))));
    f->SetText(String::Copy(s.data(), static_cast<std::uint32_t>(s.size())));
    fields.push_back(std::move(f));
  }
  return fields;
}

void BM_StringGetKey(benchmark::State& state) {
  auto names = PlayerNames(1024);
  size_t i = 0;
  for (auto _ : state) {
    ByteBlock key = names[i++ & 1023]->GetKey();
    benchmark::DoNotOptimize(key.Data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StringGetKey);

void BM_StringPutKey(benchmark::State& state) {
  auto names = PlayerNames(1024);
  std::uint8_t buf[64];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(names[i++ & 1023]->PutKey(buf, sizeof buf));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StringPutKey);

void BM_StringCompareTo(benchmark::State& state) {
  auto names = PlayerNames(1024);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(names[i & 1023]->CompareTo(*names[(i * 7 + 1) & 1023]));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StringCompareTo);

void BM_IntPackUnpack(benchmark::State& state) {
  auto f = std::unique_ptr<Field>(CreateField(FieldSpec(kIntType, String("~9"), 0, String("2u"))));
  String param("2u");
  ByteBlock out;
  std::int32_t v = 0;
  for (auto _ : state) {
    f->SetInt(v++ & 0xFFFF);
    f->Pack(kNativeBase, param, out);
    f->Unpack(kNativeBase, out.Data(), out.Count(), param);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IntPackUnpack);

void BM_DatePutKeyCompare(benchmark::State& state) {
  auto a = std::unique_ptr<Field>(CreateField(FieldSpec(kDateType, String("~15"), 0, String("F"))));
  auto b = std::unique_ptr<Field>(CreateField(FieldSpec(kDateType, String("~15"), 0, String("F"))));
  std::uint8_t buf[8];
  std::int32_t y = 1900;
  for (auto _ : state) {
    a->SetInt(y++ % 2100);
    benchmark::DoNotOptimize(a->PutKey(buf, sizeof buf));
    benchmark::DoNotOptimize(a->CompareTo(*b));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DatePutKeyCompare);

}  // namespace
