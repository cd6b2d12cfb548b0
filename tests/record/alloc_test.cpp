// The fixed-size field classes pack, unpack, key and compare without touching the heap.
#include <cstdlib>

#include "helpers.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
// Counts every heap block the program takes (operator new comes here as well).
extern "C" void* __libc_malloc(std::size_t n);
extern "C" void* __libc_realloc(void* p, std::size_t n);
static long g_mallocs = 0;
extern "C" void* malloc(std::size_t n) {
  ++g_mallocs;
  return __libc_malloc(n);
}
extern "C" void* realloc(void* p, std::size_t n) {
  ++g_mallocs;
  return __libc_realloc(p, n);
}
#define LUDREX_COUNTS_MALLOC 1
#endif

namespace ludrex::testing {
namespace {

TEST(Allocation, FixedSizeFieldsWorkWithoutTheHeap) {
#ifndef LUDREX_COUNTS_MALLOC
  GTEST_SKIP() << "heap blocks are counted only on glibc without the address sanitizer";
#else
  CaptureScope capture;
  std::vector<std::unique_ptr<Field> > fields;
  fields.push_back(Make(2, "4"));
  fields.push_back(Make(3, "F"));
  fields.push_back(Make(5));
  fields.push_back(Make(6));
  fields.push_back(Make(7));
  fields.push_back(Make(8));
  fields.push_back(Make(0, "", kFlagIndexOnly));
  std::vector<std::unique_ptr<Field> > others;
  for (auto& f : fields) {
    others.push_back(std::unique_ptr<Field>(CreateField(f->Spec())));
  }
  String param(static_cast<const char*>(nullptr));
  ByteBlock out;
  out.SetCount(16);  // room enough for every fixed-size class
  std::uint8_t key[16];
  const std::uint8_t bytes[4] = {3, 1, 0, 0};
  long before = g_mallocs;
  int sum = 0;
  for (int round = 0; round < 100; ++round) {
    for (size_t i = 0; i < fields.size(); ++i) {
      Field& f = *fields[i];
      f.Unpack(0, bytes, 1 + round % 4, param);
      f.Pack(0, param, out);
      others[i]->Unpack(0, out.Data(), out.Count(), param);
      sum += f.CompareTo(*others[i]);
      sum += f.PutKey(key, sizeof key);
      sum += f.UnpackNativeAndTest(bytes, 3);
    }
  }
  EXPECT_EQ(g_mallocs - before, 0);
  EXPECT_NE(sum, 0);
  ByteBlock fresh;
  fresh.SetCount(1);  // the counter does see the library's heap blocks
  EXPECT_EQ(g_mallocs - before, 1);
#endif
}

}  // namespace
}  // namespace ludrex::testing
