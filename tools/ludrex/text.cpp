#include "text.h"

#include <cstdint>

namespace ludrex_tool {
namespace {

// Unicode code points of the bytes 0x80-0xFF of Windows-1251.
constexpr std::uint16_t kHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457};

std::uint32_t CodePoint(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410 + (b - 0xC0);  // А..я are contiguous
  return kHigh[b - 0x80];
}

}  // namespace

std::string Cp1251ToUtf8(const std::string& in) {
  std::string out;
  out.reserve(in.size() * 2);
  for (unsigned char b : in) {
    std::uint32_t cp = CodePoint(b);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToCp1251(const std::string& in) {
  std::string out;
  for (std::size_t i = 0; i < in.size();) {
    auto b = static_cast<unsigned char>(in[i]);
    std::uint32_t cp = b;
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : 3;
    if (extra > 0) cp = b & (0x3F >> extra);
    ++i;
    for (int k = 0; k < extra && i < in.size(); ++k, ++i) {
      cp = (cp << 6) | (static_cast<unsigned char>(in[i]) & 0x3F);
    }
    char c = '?';
    if (cp < 0x80) {
      c = static_cast<char>(cp);
    } else {
      for (int x = 0x80; x < 0x100; ++x) {
        if (CodePoint(static_cast<unsigned char>(x)) == cp) {
          c = static_cast<char>(x);
          break;
        }
      }
    }
    out += c;
  }
  return out;
}

}  // namespace ludrex_tool
