// Byte utilities for the host.
#include "exports/guard.h"
#include "ludrex.h"
#include "storage/memory.h"

using namespace ludrex;

LUDREX_API int Compare(void* a, void* b, long n) { return CompareBytes(a, b, n); }

LUDREX_API int Compare(void* a, long na, void* b, long nb) { return CompareBytes(a, na, b, nb); }

extern "C" LUDREX_API void Fill(void* p, long n, unsigned char value) { FillBytes(p, n, value); }

extern "C" LUDREX_API void Swap(void* base, long offset, long length, long shift) {
  GuardVoid([&] { SwapBytes(base, offset, length, shift); });
}
