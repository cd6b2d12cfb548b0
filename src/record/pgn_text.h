// The PGN text of one game: the tag table that maps PGN tags to field meanings, writing a record
// as one game (tags, move text, termination marker), reading one game back into a record, and
// the scanner that finds where the games of a PGN text start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "record/record.h"

namespace ludrex {

// One row of the tag table: the tag, the field meaning it stands for, and the field type and
// Param a PGN base gives a field made from that tag.
struct PgnTagRow {
  const char* tag;
  std::int32_t meaning;
  std::int32_t type;
  const char* param;
};
constexpr std::int32_t kPgnTagRows = 13;
const PgnTagRow& PgnTagTableRow(std::int32_t i);
// The row of a tag name (case-insensitive), -1 when it is not in the table.
std::int32_t FindPgnTagRow(const char* name, std::size_t n);
// The row whose meaning is m, -1 when none.
std::int32_t PgnTagRowOfMeaning(std::int32_t meaning);
// "FEN" or "SETUP" in any case: tags that travel with the move text, never fields.
bool IsPgnSetupTag(const char* name, std::size_t n);

// Appends the PGN text of the record as one game: a tag line per field (except the moves field,
// meaning 22), the move text and the termination marker (the Result field's text, "*" without
// one). With oem, tag values and move text are converted to the OEM code page.
void WritePgnGame(Record& record, bool oem, std::string& out);

// One game's text taken apart: its tags (names renamed "~m" for the tag table's tags, values
// unescaped) and its move text (a FEN tag's line first).
struct PgnGameText {
  struct Tag {
    std::string name;  // as read, or "~m"
    std::string value;
  };
  std::vector<Tag> tags;
  std::string moves;
  void Clear() {
    tags.clear();
    moves.clear();
  }
};

// Parses the game text at text[0, n) (it never reads outside it). The tag section ends at a
// line end or at a line without '[' after a tag line; the rest is the move text.
void ParsePgnGame(const char* text, std::size_t n, PgnGameText& out);

// Sets every field of the record from the parsed game: a field named like a tag gets the tag's
// value (Unpack for base type 2), the moves field (name "~22") the move text, the others their
// empty values. With oem, values and move text are converted from the OEM code page first.
void FillRecordFromPgn(PgnGameText& game, bool oem, Record& record);

// Finds the games of a PGN text fed in consecutive pieces: a game starts at a '[' that follows a
// line without any '[' (or the start of the text); ';' and '{ }' comments are skipped, and
// CR, LF, CR LF and LF CR each end one line.
class PgnScanner {
 public:
  // Scans the next n bytes, which start at offset base of the whole text, appending the offset of
  // each game start to starts.
  void Feed(const char* bytes, std::size_t n, std::int64_t base, std::vector<std::int64_t>& starts);

 private:
  enum State : std::uint8_t { kLineStart, kText, kRestOfLine, kBrace, kComment };
  State state_ = kLineStart;
  char pairEnd_ = 0;  // the character that would complete the last line end as a pair
  bool lineHasBracket_ = false;
  bool prevHasBracket_ = false;
};

}  // namespace ludrex
