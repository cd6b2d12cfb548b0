// Single-byte text services of the platform layer: the OEM (code page 866) <-> Windows-1251
// conversions and the locale collation used for string sort keys and comparison.
//
// One weight table serves both the sort key and the comparison, so for any two texts the byte
// order of their keys always equals their comparison. Letters compare without case, Latin letters
// before Cyrillic ones, Ё right after Е; other characters sort before digits, digits before
// letters. The same portable table is used on every target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ludrex::platform {

// Converts n bytes from code page 866 to Windows-1251 (in may equal out). Bytes below 0x80 are
// kept; box-drawing characters become the nearest ASCII character.
void OemToCp1251(const char* in, char* out, std::size_t n);
// Converts n bytes from Windows-1251 to code page 866 (in may equal out); characters that 866
// lacks become the nearest ASCII character or '?'.
void Cp1251ToOem(const char* in, char* out, std::size_t n);

// The collation weight of a byte (1..255); case pairs share a weight.
std::uint8_t CollationWeight(unsigned char c);

// The sort key of the n characters at text followed by its terminating NUL: one weight byte per
// character, then 0x00. Returns the key length (n + 1); writes the key only when cap is at least
// that length.
std::size_t TextSortKey(const char* text, std::size_t n, std::uint8_t* out, std::size_t cap);

// Compares two texts by the collation: -1, 0 or 1. Equal to comparing their sort keys bytewise.
int CompareTexts(const char* a, std::size_t na, const char* b, std::size_t nb);

}  // namespace ludrex::platform
