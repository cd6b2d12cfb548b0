// The PGN base (type 2): the games of one PGN text file, found by a single scan when the file is
// opened and kept as an index of game start offsets in a temporary storage array. Reading a game
// reads only its own bytes; writing appends, replaces the last game, or replaces a game in the
// middle with the rest of the file moved behind it and the index shifted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/base.h"
#include "record/pattern.h"
#include "record/pgn_text.h"
#include "storage/array.h"

namespace ludrex {

class PgnBase final : public Base {
 public:
  // Opens name + ".pgn" and scans it; the pattern comes from the first game's tags, or is the
  // given one when pattern is not null. A file that cannot be opened raises 520.
  PgnBase(const String& name, const RecordPattern* pattern);
  // Creates an empty name + ".pgn" with the given pattern.
  PgnBase(const String& name, const RecordPattern& pattern, bool create);
  ~PgnBase() override;

  void Update() override;
  void GetInfo(BaseInfo& info) override;
  // Record n (903 outside 0 .. count - 1): the fields named like its tags get their values, the
  // moves field its move text, the others their empty values.
  void Read(std::int32_t n, Record& record) override;
  // Writes record as game n (count, kAppendRecord or kAppendSortedRecord append; above count:
  // 903). Fields of the base's pattern that record lacks keep the old game's values.
  std::int32_t Write(std::int32_t n, Record& record) override;
  const RecordPattern& GetRecordPattern() override { return pattern_; }

  // The file offset where game n starts (n < count).
  std::uint32_t GameOffset(std::int32_t n);
  // The pattern of a PGN text's first game: its tags typed by the tag table (FEN and SETUP left
  // out), then the moves field.
  static RecordPattern PatternOfFirstGame(const char* text, std::size_t n);

  // How many of the games read so far could not be read to the end of their move text (each
  // game counted once).
  std::int32_t IncompleteGames() const { return incompleteCount_; }

 private:
  void OpenFile(bool create);
  void Scan();
  // Reads the bytes of game n into buffer_.
  void ReadGameBytes(std::int32_t n);
  // Writes bytes at offset of the text file in pieces of at most 65535 bytes.
  void WriteText(std::int64_t offset, const char* bytes, std::size_t n);

  std::string fileName_;
  ArrayHandle text_;   // the PGN file, element size 1
  ArrayHandle index_;  // 32-bit game start offsets, in a temporary file
  RecordPattern pattern_;
  std::vector<char> buffer_;
  // Read-ahead for reading games in file order: bytes [windowStart_, + window_.size()) of the
  // file; emptied by every write.
  std::vector<char> window_;
  std::int64_t windowStart_ = 0;
  PgnGameText parsed_;
  std::string out_;
  std::vector<bool> incomplete_;
  std::int32_t incompleteCount_ = 0;
};

// Registers base type 2 with the dispatch (open, create).
void RegisterPgnBase();
// Opens a PGN file as a base of type 2 with the given pattern instead of the pattern of its first
// game, and registers it as an open base (917 when a base of that name is already open).
Base* OpenPgnBaseWithPattern(const String& name, const RecordPattern& pattern);

}  // namespace ludrex
