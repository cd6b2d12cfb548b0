#include "storage/array_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

#include "storage_support.h"

namespace ludrex {
namespace {

using testing::CaptureScope;
using testing::ErrorOf;
using testing::ScratchDir;

// More elements than one stream block holds, so every test crosses block boundaries.
constexpr std::int32_t kLongs = 40000;
constexpr std::int32_t kBytes = 150001;

using MakeArray = std::function<Array*(const std::string& file)>;

struct Variant {
  const char* name;
  MakeArray make;
};

std::vector<Variant> Variants() {
  return {
      {"mem", [](const std::string&) { return NewMemArray(0); }},
      {"file", [](const std::string& f) { return NewFileArray(0, f.c_str()); }},
      {"buf", [](const std::string& f) { return NewBufArray(NewFileArray(0, f.c_str()), 7, 3); }},
      {"buf40000",
       [](const std::string& f) { return NewBufArray(NewFileArray(0, f.c_str()), 40000, 40000); }},
      {"head", [](const std::string& f) {
         return NewHeadCachedArray(NewFileArray(0, f.c_str()), 1000, false);
       }}};
}

template <typename T>
std::vector<T> Pattern(std::int32_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<T> v(static_cast<std::size_t>(n));
  for (auto& x : v) x = static_cast<T>(rng());
  return v;
}

// Writing a pattern with Put and reading it back with Next, Run and Skip gives the pattern on
// every variant, for bytes and 32-bit elements, from the start and from the middle.
template <typename T>
void RoundTrip(const Variant& variant, std::int32_t n) {
  SCOPED_TRACE(variant.name);
  ScratchDir dir;
  ArrayHandle a(variant.make(dir / "a.dat"));
  a->Init(sizeof(T));
  a->Expandable(1);
  const std::vector<T> data = Pattern<T>(n, static_cast<std::uint32_t>(n));
  {
    ArrayWriter<T> w(a.Get(), 0);
    for (T x : data) w.Put(x);
    EXPECT_EQ(w.Index(), n);
  }  // the destructor writes the last block
  ASSERT_EQ(a->Count(), n);

  ArrayReader<T> r(a.Get(), 0);
  for (std::int32_t i = 0; i < n; ++i) {
    ASSERT_EQ(r.Index(), i);
    ASSERT_EQ(r.Next(), data[static_cast<std::size_t>(i)]) << "element " << i;
  }
  EXPECT_TRUE(r.AtEnd());
  EXPECT_TRUE(r.Run().empty());
  EXPECT_EQ(ErrorOf([&] { r.Next(); }), 517u);

  // Runs from the middle, consumed in uneven steps.
  const std::int32_t from = n / 3;
  ArrayReader<T> runs(a.Get(), from);
  std::vector<T> got;
  for (std::size_t step = 1;; step = step * 7 % 1000 + 1) {
    std::span<const T> run = runs.Run();
    if (run.empty()) break;
    const std::size_t k = std::min(step, run.size());
    got.insert(got.end(), run.begin(), run.begin() + static_cast<std::ptrdiff_t>(k));
    runs.Skip(k);
  }
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + from, data.end()));
  EXPECT_EQ(got.size(), data.size() - static_cast<std::size_t>(from));
}

TEST(ArrayStream, RoundTripsOnEveryVariant) {
  CaptureScope scope;
  for (const Variant& v : Variants()) {
    RoundTrip<std::uint8_t>(v, kBytes);
    RoundTrip<std::uint32_t>(v, kLongs);
  }
}

// A record type of an odd size is streamed as it is stored.
TEST(ArrayStream, RecordsOfAnOddSize) {
  CaptureScope scope;
  using Triple = std::array<std::uint8_t, 3>;
  ArrayHandle a(NewMemArray(0));
  a->Init(3);
  a->Expandable(1);
  {
    ArrayWriter<Triple> w(a.Get(), 0);
    for (std::int32_t i = 0; i < 30000; ++i) {
      w.Put({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 7});
    }
    w.Flush();
  }
  ASSERT_EQ(a->Count(), 30000);
  ArrayReader<Triple> r(a.Get(), 29998);
  EXPECT_EQ(r.Next(),
            (Triple{static_cast<std::uint8_t>(29998), static_cast<std::uint8_t>(29998 >> 8), 7}));
  EXPECT_EQ(r.Next()[0], static_cast<std::uint8_t>(29999));
  EXPECT_TRUE(r.AtEnd());
}

// Overwriting in the middle keeps the elements on either side; Room/Advance writes whole runs.
TEST(ArrayStream, WriterOverwritesAndAppends) {
  CaptureScope scope;
  for (const Variant& variant : Variants()) {
    SCOPED_TRACE(variant.name);
    ScratchDir dir;
    ArrayHandle a(variant.make(dir / "a.dat"));
    a->Init(4);
    a->Expandable(1);
    std::vector<std::uint32_t> model(kLongs);
    std::iota(model.begin(), model.end(), 0u);
    a->Write(0, model.data(), kLongs);

    {
      ArrayWriter<std::uint32_t> w(a.Get(), 100);
      for (std::uint32_t i = 0; i < 50; ++i) w.Put(900000 + i);
    }
    for (std::uint32_t i = 0; i < 50; ++i) model[100 + i] = 900000 + i;

    // Runs that start inside the array and go past its end.
    {
      ArrayWriter<std::uint32_t> w(a.Get(), kLongs - 10);
      std::uint32_t v = 5000000;
      for (std::int32_t left = 30000; left > 0;) {
        std::span<std::uint32_t> room = w.Room();
        const std::size_t k = std::min<std::size_t>(room.size(), static_cast<std::size_t>(left));
        for (std::size_t j = 0; j < k; ++j) room[j] = v++;
        w.Advance(k);
        left -= static_cast<std::int32_t>(k);
      }
      w.Flush();
      EXPECT_EQ(w.Index(), kLongs + 29990);
    }
    model.resize(kLongs + 29990);
    for (std::int32_t i = 0; i < 30000; ++i)
      model[kLongs - 10 + i] = 5000000u + static_cast<std::uint32_t>(i);

    a->Flush();
    std::vector<std::uint32_t> got(static_cast<std::size_t>(a->Count()));
    a->Read(0, got.data(), a->Count());
    EXPECT_EQ(got, model);
  }
}

// Past the end of an array that may not grow: the elements before are written, then 517.
TEST(ArrayStream, WriterStopsAtTheEndOfAFixedArray) {
  CaptureScope scope;
  ArrayHandle a(NewMemArray(70000));
  a->Init(1);
  a->Expandable(0);
  ArrayWriter<std::uint8_t> w(a.Get(), 69990);
  for (int i = 0; i < 10; ++i) w.Put('x');
  EXPECT_EQ(ErrorOf([&] { w.Put('y'); }), 517u);
  EXPECT_EQ(a->Count(), 70000);
  EXPECT_EQ(a->GetByte(69999), 'x');
  EXPECT_EQ(ErrorOf([&] { w.Room(); }), 517u);
}

TEST(ArrayStream, WrongSizesAndIndexesAreRefused) {
  CaptureScope scope;
  ArrayHandle a(NewMemArray(10));
  a->Init(4);
  EXPECT_EQ(ErrorOf([&] { ArrayReader<std::uint8_t> r(a.Get(), 0); }), 535u);
  EXPECT_EQ(ErrorOf([&] { ArrayWriter<std::uint16_t> w(a.Get(), 0); }), 535u);
  EXPECT_EQ(ErrorOf([&] { ArrayReader<std::uint32_t> r(a.Get(), 11); }), 517u);
  EXPECT_EQ(ErrorOf([&] { ArrayWriter<std::uint32_t> w(a.Get(), -1); }), 517u);
  ArrayReader<std::uint32_t> atEnd(a.Get(), 10);
  EXPECT_TRUE(atEnd.AtEnd());
  EXPECT_EQ(ErrorOf([&] { atEnd.Next(); }), 517u);
}

// The streams keep no pointer into the array: it may be resized, locked and written meanwhile
// (under AddressSanitizer a pointer into a reallocated block would be caught here).
TEST(ArrayStream, ArrayMayChangeWhileStreaming) {
  CaptureScope scope;
  ArrayHandle a(NewMemArray(0));
  a->Init(1);
  a->Expandable(1);
  std::vector<std::uint8_t> data = Pattern<std::uint8_t>(100000, 3);
  a->Write(0, data.data(), 100000);

  ArrayReader<std::uint8_t> r(a.Get(), 0);
  EXPECT_EQ(r.Next(), data[0]);
  a->Extend(5000000);  // reallocates the block
  ArrayLock lock = a.ByteWindow(0, true);
  for (std::int32_t i = 1; i < 100000; ++i) ASSERT_EQ(r.Next(), data[static_cast<std::size_t>(i)]);
  lock.Unlock();

  ArrayWriter<std::uint8_t> w(a.Get(), 0);
  w.Put(1);
  a->Extend(-5000000);
  w.Flush();
  EXPECT_EQ(a->GetByte(0), 1);
}

}  // namespace
}  // namespace ludrex
