#include "record/pgn_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/text.h"
#include "record/field.h"
#include "record/field_classes.h"

namespace ludrex {
namespace {

constexpr PgnTagRow kRows[kPgnTagRows] = {
    {"Event", 16, 1, ""},     {"Site", 11, 1, ""},      {"Date", 15, 3, "F"},
    {"Round", 17, 6, ""},     {"White", 1, 1, ""},      {"Black", 2, 1, ""},
    {"Result", 14, 5, ""},    {"WhiteElo", 9, 2, "2u"}, {"BlackElo", 10, 2, "2u"},
    {"Annotator", 20, 1, ""}, {"ECO", 18, 7, ""},       {"Remark", 19, 1, ""},
    {"Source", 21, 1, ""}};

constexpr std::int32_t kMovesMeaning = 22;
constexpr std::int32_t kResultMeaning = 14;

bool EqualNoCase(const char* a, std::size_t n, const char* b) {
  std::size_t i = 0;
  for (; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (y == 0) return false;
    const unsigned char lx = (x >= 'A' && x <= 'Z') ? x + 32 : x;
    const unsigned char ly = (y >= 'A' && y <= 'Z') ? y + 32 : y;
    if (lx != ly) return false;
  }
  return b[i] == 0;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Index just past the line end at i (CR, LF, CR LF or LF CR), or n.
std::size_t SkipLineEnd(const char* t, std::size_t i, std::size_t n) {
  if (i >= n) return n;
  const char c = t[i++];
  if (i < n && IsLineEnd(t[i]) && t[i] != c) ++i;
  return i;
}

std::size_t FindLineEnd(const char* t, std::size_t i, std::size_t n) {
  while (i < n && !IsLineEnd(t[i])) ++i;
  return i;
}

}  // namespace

const PgnTagRow& PgnTagTableRow(std::int32_t i) { return kRows[i]; }

std::int32_t FindPgnTagRow(const char* name, std::size_t n) {
  for (std::int32_t i = 0; i < kPgnTagRows; ++i)
    if (EqualNoCase(name, n, kRows[i].tag)) return i;
  return -1;
}

std::int32_t PgnTagRowOfMeaning(std::int32_t meaning) {
  for (std::int32_t i = 0; i < kPgnTagRows; ++i)
    if (kRows[i].meaning == meaning) return i;
  return -1;
}

bool IsPgnSetupTag(const char* name, std::size_t n) {
  return EqualNoCase(name, n, "FEN") || EqualNoCase(name, n, "SETUP");
}

// ---- Writing ---------------------------------------------------------------------------------

void WritePgnGame(Record& record, bool oem, std::string& out) {
  std::string marker = "*";
  Field* moves = nullptr;
  ByteBlock packed;
  std::string value;
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    Field& f = record[i];
    const std::int32_t meaning = f.Meaning();
    if (meaning == kMovesMeaning) {
      moves = &f;
      continue;
    }
    if (f.TypeCode() == kLibRefType) {
      // A library reference has no text of its own: the tag shows the name in the library
      // record, taken the way a string field takes it.
      StringField name(FieldSpec(kStringType, f.Name(), 0, String("")));
      name.Assign(f);
      name.Pack(kPgnBase, name.Spec().param, packed);
    } else {
      f.Pack(kPgnBase, f.Spec().param, packed);
    }
    value.assign(reinterpret_cast<const char*>(packed.Data()), std::size_t(packed.Count()));
    if (meaning == kResultMeaning) marker = value;
    if (oem && !value.empty()) platform::Cp1251ToOem(value.data(), value.data(), value.size());
    const std::int32_t row = meaning != 0 ? PgnTagRowOfMeaning(meaning) : -1;
    out.push_back('[');
    if (row >= 0)
      out += kRows[row].tag;
    else
      out.append(f.Name().Text(), f.Name().Length());
    out += " \"";
    for (char c : value) {
      if (c == 0) continue;  // a NUL would end the text for a host that reads it as a C string
      if (c == '"' || c == '\\') out.push_back('\\');
      out.push_back(c);
    }
    out += "\"]\r\n";
  }
  if (moves != nullptr) {
    moves->Pack(kPgnBase, moves->Spec().param, packed);
    const std::size_t at = out.size();
    out.append(reinterpret_cast<const char*>(packed.Data()), std::size_t(packed.Count()));
    if (oem) platform::Cp1251ToOem(out.data() + at, out.data() + at, out.size() - at);
  }
  out.push_back(' ');
  out += marker;
  out += "\r\n\r\n";
}

// ---- Reading ---------------------------------------------------------------------------------

void ParsePgnGame(const char* t, std::size_t n, PgnGameText& out) {
  out.Clear();
  std::size_t i = 0;
  std::size_t moveStart = n;
  std::string fenLine;
  // The tag section.
  for (;;) {
    while (i < n && static_cast<unsigned char>(t[i]) <= 32 && !IsLineEnd(t[i])) ++i;
    if (i >= n) break;
    const char c = t[i];
    if (IsLineEnd(c)) {  // a blank line ends the tags
      moveStart = SkipLineEnd(t, i, n);
      break;
    }
    if (c == ';') {
      i = SkipLineEnd(t, FindLineEnd(t, i, n), n);
      continue;
    }
    if (c == '{') {
      const void* close = std::memchr(t + i, '}', n - i);
      i = close ? std::size_t(static_cast<const char*>(close) - t) + 1 : n;
      continue;
    }
    // A tag line: the first character (normally '[') is passed over.
    ++i;
    const std::size_t nameStart = i;
    while (i<n&& static_cast<unsigned char>(t[i])> 32) ++i;
    PgnGameText::Tag tag;
    tag.name.assign(t + nameStart, i - nameStart);
    while (i < n && t[i] != '"' && !IsLineEnd(t[i])) ++i;
    if (i < n && t[i] == '"') {
      ++i;
      while (i < n && t[i] != '"' && !IsLineEnd(t[i])) {
        if (t[i] == '\\' && i + 1 < n && !IsLineEnd(t[i + 1])) ++i;
        // A value never keeps a NUL: the field's text would end there when written out.
        if (t[i] == 0) {
          ++i;
          continue;
        }
        tag.value.push_back(t[i++]);
      }
    }
    i = SkipLineEnd(t, FindLineEnd(t, i, n), n);
    const std::int32_t row = FindPgnTagRow(tag.name.data(), tag.name.size());
    if (EqualNoCase(tag.name.data(), tag.name.size(), "FEN")) {
      fenLine.assign(1, '[');
      fenLine.append(tag.name);
      fenLine.append(" \"");
      fenLine.append(tag.value);
      fenLine.append("\"]\r\n");
    }
    if (row >= 0) {
      tag.name.assign(1, '~');
      tag.name.append(std::to_string(kRows[row].meaning));
    }
    out.tags.push_back(std::move(tag));
    // The tags go on while the next line holds a '['.
    const std::size_t end = FindLineEnd(t, i, n);
    if (std::memchr(t + i, '[', end - i) == nullptr) {
      moveStart = i;
      break;
    }
  }
  // The move text: every line with a visible character, from that character on.
  out.moves = fenLine;
  out.moves.reserve(fenLine.size() + (n - std::min(moveStart, n)) + 64);
  i = moveStart;
  while (i < n) {
    std::size_t end = FindLineEnd(t, i, n);
    std::size_t s = i;
    while (s < end && static_cast<unsigned char>(t[s]) <= 32) ++s;
    if (s < end) {
      out.moves.append(t + s, end - s);
      out.moves += "\r\n";
    }
    i = SkipLineEnd(t, end, n);
  }
}

void FillRecordFromPgn(PgnGameText& game, bool oem, Record& record) {
  if (oem) {
    for (auto& tag : game.tags)
      if (!tag.value.empty())
        platform::OemToCp1251(tag.value.data(), tag.value.data(), tag.value.size());
    if (!game.moves.empty())
      platform::OemToCp1251(game.moves.data(), game.moves.data(), game.moves.size());
  }
  // Many tags and many fields: the tags are found by name through an index (the last tag of a
  // name wins), so that the work never grows with tags times fields.
  const bool indexed = game.tags.size() * std::size_t(record.Count()) > 4096;
  std::unordered_map<std::string_view, const PgnGameText::Tag*> byName;
  if (indexed) {
    byName.reserve(game.tags.size());
    for (const auto& tag : game.tags) byName[std::string_view(tag.name)] = &tag;
  }
  for (std::int32_t k = 0; k < record.Count(); ++k) {
    Field& f = record[k];
    const String& name = f.Name();
    if (f.Meaning() == kMovesMeaning) {
      f.Decode(kPgnBase, reinterpret_cast<const std::uint8_t*>(game.moves.data()),
               std::int32_t(game.moves.size()), f.Spec().param);
      continue;
    }
    const PgnGameText::Tag* found = nullptr;
    if (indexed) {
      auto it = byName.find(std::string_view(name.Text(), name.Length()));
      if (it != byName.end()) found = it->second;
    } else {
      for (const auto& tag : game.tags) {
        if (tag.name.size() == name.Length() &&
            std::memcmp(tag.name.data(), name.Text(), tag.name.size()) == 0)
          found = &tag;  // the last one wins
      }
    }
    if (found == nullptr) {
      // A search field tests the missing tag as the empty value it stands for.
      if (f.CriterionA() != nullptr || f.CriterionB() != nullptr) {
        f.Decode(kPgnBase, nullptr, 0, f.Spec().param);
      } else {
        f.SetEmpty();
      }
    } else {
      f.Decode(kPgnBase, reinterpret_cast<const std::uint8_t*>(found->value.data()),
               std::int32_t(found->value.size()), f.Spec().param);
    }
  }
}

// ---- Scanner ---------------------------------------------------------------------------------

namespace {
struct StopTables {
  bool text[256] = {};
  bool line[256] = {};
  bool brace[256] = {};
  StopTables() {
    for (unsigned char c : {'{', ';', '[', '\r', '\n'}) text[c] = true;
    for (unsigned char c : {'\r', '\n'}) line[c] = brace[c] = true;
    brace[static_cast<unsigned char>('}')] = true;
  }
};
const StopTables kStops;
}  // namespace

void PgnScanner::Feed(const char* bytes, std::size_t n, std::int64_t base,
                      std::vector<std::int64_t>& starts) {
  const unsigned char* const begin = reinterpret_cast<const unsigned char*>(bytes);
  const unsigned char* p = begin;
  const unsigned char* const e = begin + n;
  auto lineEnd = [&] {
    const unsigned char c = *p++;
    prevHasBracket_ = lineHasBracket_;
    lineHasBracket_ = false;
    pairEnd_ = c == '\r' ? '\n' : '\r';
    if (state_ != kBrace) state_ = kLineStart;
    if (p < e) {
      if (*p == static_cast<unsigned char>(pairEnd_)) ++p;
      pairEnd_ = 0;
    }
  };
  auto bracket = [&] {
    if (!lineHasBracket_ && !prevHasBracket_) starts.push_back(base + (p - begin));
    lineHasBracket_ = true;
    state_ = kRestOfLine;
    ++p;
  };
  if (pairEnd_ != 0 && p < e) {
    if (*p == static_cast<unsigned char>(pairEnd_)) ++p;
    pairEnd_ = 0;
  }
  while (p < e) {
    switch (state_) {
      case kLineStart: {
        const unsigned char c = *p;
        if (c == '\r' || c == '\n') {
          lineEnd();
        } else if (c <= 32) {
          ++p;
        } else if (c == '[') {
          bracket();
        } else if (c == '{') {
          state_ = kBrace;
          ++p;
        } else if (c == ';') {
          state_ = kComment;
          ++p;
        } else {
          state_ = kText;
        }
        break;
      }
      case kText: {
        while (p < e && !kStops.text[*p]) ++p;
        if (p == e) break;
        const unsigned char c = *p;
        if (c == '{') {
          state_ = kBrace;
          ++p;
        } else if (c == ';') {
          state_ = kComment;
          ++p;
        } else if (c == '[') {
          bracket();
        } else {
          lineEnd();
        }
        break;
      }
      case kRestOfLine:
      case kComment: {
        while (p < e && !kStops.line[*p]) ++p;
        if (p < e) lineEnd();
        break;
      }
      case kBrace: {
        while (p < e && !kStops.brace[*p]) ++p;
        if (p == e) break;
        if (*p == '}') {
          state_ = kText;
          ++p;
        } else {
          lineEnd();
        }
        break;
      }
    }
  }
}

}  // namespace ludrex
