// Code page 866 <-> 1251 tables and the collation weight table.
#include <array>

#include "platform/text.h"

namespace ludrex::platform {
namespace {

// Code page 866, bytes 0x80..0xFF, as Windows-1251 bytes.
constexpr unsigned char kOemHigh[128] = {
    // 0x80..0x9F: А..Я
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    // 0xA0..0xAF: а..п
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    // 0xB0..0xDF: shades, box drawing and blocks
    '#', '#', '#', '|', '+', '+', '+', '+', '+', '+', '|', '+', '+', '+', '+', '+', '+', '+', '+',
    '+', '-', '+', '+', '+', '+', '+', '+', '+', '+', '-', '+', '+', '+', '+', '+', '+', '+', '+',
    '+', '+', '+', '+', '+', '#', '#', '#', '#', '#',
    // 0xE0..0xEF: р..я
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
    // 0xF0..0xFF: Ё ё Є є Ї ї Ў ў ° ∙ · √ № ¤ ■ nbsp
    0xA8, 0xB8, 0xAA, 0xBA, 0xAF, 0xBF, 0xA1, 0xA2, 0xB0, 0x95, 0xB7, 'v', 0xB9, 0xA4, '#', 0xA0};

// Windows-1251 bytes 0x80..0xBF that have no place in kOemHigh: their nearest ASCII character.
constexpr char kAnsiFallback[64] = {
    '?', '?',  '\'', '?', '"', ':', '+', '+', 'E', '%', '?', '<', '?', '?', '?', '?',
    '?', '\'', '\'', '"', '"', '*', '-', '-', '?', 'T', '?', '>', '?', '?', '?', '?',
    ' ', '?',  '?',  '?', '?', '?', '|', '?', '?', 'c', '?', '<', '-', '-', 'R', '?',
    '?', '?',  'I',  'i', '?', 'u', '?', '.', '?', '?', '?', '>', '?', '?', '?', '?'};

struct AnsiToOemTable {
  unsigned char map[256];
};

constexpr AnsiToOemTable BuildAnsiToOem() {
  AnsiToOemTable t{};
  for (int i = 0; i < 128; ++i) t.map[i] = static_cast<unsigned char>(i);
  for (int i = 0x80; i < 0xC0; ++i) t.map[i] = static_cast<unsigned char>(kAnsiFallback[i - 0x80]);
  for (int i = 0xC0; i < 0x100; ++i) t.map[i] = '?';
  // Every 1251 byte that a 866 byte converts to maps back to that 866 byte (first one wins, so
  // the letters keep their own codes).
  for (int o = 0xFF; o >= 0x80; --o) {
    unsigned char a = kOemHigh[o - 0x80];
    if (a >= 0x80) t.map[a] = static_cast<unsigned char>(o);
  }
  return t;
}

constexpr AnsiToOemTable kAnsiToOem = BuildAnsiToOem();

// Cyrillic letters of code page 1251 in collation order, each as (upper, lower).
constexpr unsigned char kCyrillic[][2] = {
    {0xC0, 0xE0}, {0xC1, 0xE1}, {0xC2, 0xE2}, {0xC3, 0xE3}, {0xA5, 0xB4}, {0x81, 0x83},
    {0xC4, 0xE4}, {0x80, 0x90}, {0xC5, 0xE5}, {0xA8, 0xB8}, {0xAA, 0xBA}, {0xC6, 0xE6},
    {0xC7, 0xE7}, {0xBD, 0xBE}, {0xC8, 0xE8}, {0xB2, 0xB3}, {0xAF, 0xBF}, {0xC9, 0xE9},
    {0xA3, 0xBC}, {0xCA, 0xEA}, {0x8D, 0x9D}, {0xCB, 0xEB}, {0x8A, 0x9A}, {0xCC, 0xEC},
    {0xCD, 0xED}, {0x8C, 0x9C}, {0xCE, 0xEE}, {0xCF, 0xEF}, {0xD0, 0xF0}, {0xD1, 0xF1},
    {0xD2, 0xF2}, {0x8E, 0x9E}, {0xD3, 0xF3}, {0xA1, 0xA2}, {0xD4, 0xF4}, {0xD5, 0xF5},
    {0xD6, 0xF6}, {0xD7, 0xF7}, {0x8F, 0x9F}, {0xD8, 0xF8}, {0xD9, 0xF9}, {0xDA, 0xFA},
    {0xDB, 0xFB}, {0xDC, 0xFC}, {0xDD, 0xFD}, {0xDE, 0xFE}, {0xDF, 0xFF}};

struct WeightTable {
  unsigned char w[256];
  int used;  // weights handed out, the NUL's included
};

constexpr bool IsAsciiAlnum(int c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr WeightTable BuildWeights() {
  WeightTable t{};
  bool cyr[256] = {};
  for (const auto& p : kCyrillic) cyr[p[0]] = cyr[p[1]] = true;
  int next = 1;
  t.w[0] = static_cast<unsigned char>(next++);
  // Control characters, then ASCII symbols in code order, then the other symbols of the upper
  // half, then digits, Latin letters and Cyrillic letters.
  for (int c = 1; c < 32; ++c) t.w[c] = static_cast<unsigned char>(next++);
  t.w[127] = static_cast<unsigned char>(next++);
  for (int c = 32; c < 127; ++c) {
    if (!IsAsciiAlnum(c)) t.w[c] = static_cast<unsigned char>(next++);
  }
  for (int c = 128; c < 256; ++c) {
    if (!cyr[c]) t.w[c] = static_cast<unsigned char>(next++);
  }
  for (int c = '0'; c <= '9'; ++c) t.w[c] = static_cast<unsigned char>(next++);
  for (int c = 'A'; c <= 'Z'; ++c) {
    t.w[c] = t.w[c + 32] = static_cast<unsigned char>(next++);
  }
  for (const auto& p : kCyrillic) t.w[p[0]] = t.w[p[1]] = static_cast<unsigned char>(next++);
  t.used = next - 1;
  return t;
}

constexpr WeightTable kWeights = BuildWeights();
static_assert(kWeights.used <= 255, "weights fit in one byte and never reach 0");

}  // namespace

void OemToCp1251(const char* in, char* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    auto b = static_cast<unsigned char>(in[i]);
    out[i] = static_cast<char>(b < 0x80 ? b : kOemHigh[b - 0x80]);
  }
}

void Cp1251ToOem(const char* in, char* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = static_cast<char>(kAnsiToOem.map[static_cast<unsigned char>(in[i])]);
  }
}

std::uint8_t CollationWeight(unsigned char c) { return kWeights.w[c]; }

std::size_t TextSortKey(const char* text, std::size_t n, std::uint8_t* out, std::size_t cap) {
  if (cap < n + 1) return n + 1;
  for (std::size_t i = 0; i < n; ++i) out[i] = kWeights.w[static_cast<unsigned char>(text[i])];
  out[n] = 0;
  return n + 1;
}

int CompareTexts(const char* a, std::size_t na, const char* b, std::size_t nb) {
  std::size_t n = na < nb ? na : nb;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned wa = kWeights.w[static_cast<unsigned char>(a[i])];
    unsigned wb = kWeights.w[static_cast<unsigned char>(b[i])];
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (na == nb) return 0;
  return na < nb ? -1 : 1;
}

}  // namespace ludrex::platform
