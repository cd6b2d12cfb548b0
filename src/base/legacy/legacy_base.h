// LegacyBase (type 1, ".bfi"): the DOS-era game base, read and never written. Nine files share
// the base name: the header ".bfi", game headers ".bgh", body offsets ".bba", game bodies ".bgb",
// the comment files ".ndx", ".dsc", ".bdy", deletion marks ".bid" and the four libraries in the
// older container ".lib". Its record pattern is fixed (ten fields).
//
// Layouts (little-endian throughout):
//
//   ".bfi"  one 309-byte record: 0 the 44-byte mark, 44 a flag byte (bit 0: the library texts
//           are packed texts), 45 four bytes not read, 49 the record count (signed 32), 53 the
//           description length d (at most 254 used), 54 the description (d OEM bytes).
//   ".bgh"  24 bytes a game: White, Black, result, year, place, event, round, -, ECO, -, remark,
//           - as 2-byte values, each unpacked by its field for base type 1.
//   ".bba"  the 32-bit offset of each game's body in ".bgb"; a body ends where the next one
//           starts, the last one at the end of ".bgb".
//   ".bgb"  bodies: a 32-bit comment reference, then the DOS move codes.
//   ".ndx"  8-byte comment entries. Entries 0-7 are not read, so that reference 0 means "no
//           comments"; a game's comments are the entries from its reference on, up to and
//           including the first entry marked last. An entry: 0 the offset of its text (32 bits),
//           4 the ply after which it stands (16 bits; 0: before the first move), 6 the text's
//           length in bytes or, for a symbol, its code, 7 flags: bits 1-2 the kind (0 a text in
//           ".dsc" as OEM bytes, 1 a text in ".bdy" as packed text, 2 a move symbol, 3 the mark
//           that becomes the annotation byte 9), bit 7 the last entry of the game.
//   ".dsc", ".bdy"  the comment texts the entries point to.
//   ".bid"  the deletion marks, a subset in the older layout (89 header bytes, then the mask).
//   ".lib"  the older container; library "Players" is read from its members "PNE.#00", "PNE.#01",
//           "PNE.#02" ("Places" PLE, "Events" TCE, "Remarks" COE): ".#00" holds the record count
//           (16 bits at byte 18), ".#01" count + 1 32-bit offsets into ".#02", and record i is
//           the bytes of ".#02" between offsets i and i + 1 (OEM text, or packed text when bit 0
//           of the header's flag byte is set).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/base.h"
#include "record/pattern.h"
#include "storage/array.h"

namespace ludrex {

class Game;
struct ChessElement;

// The header mark (44 characters, the last a blank).
extern const char kLegacyMark[];
constexpr std::int32_t kLegacyHeaderSize = 309;
constexpr std::int32_t kLegacyLibraryCount = 4;

class LegacyBase final : public Base {
 public:
  // Opens the files of name; a file that cannot be opened raises its file error, a wrong header
  // mark 904.
  explicit LegacyBase(const String& name);
  ~LegacyBase() override;

  Base* OpenEmbedded(const String& name) override;
  void GetInfo(BaseInfo& info) override;
  // Record n (903 outside 0 .. count - 1); the record's fields are matched to the ten by name
  // and type, the others are emptied.
  void Read(std::int32_t n, Record& record) override;
  const RecordPattern& GetRecordPattern() override { return pattern_; }
  int IsDeleted(std::int32_t n) override;
  Subset* GetDeletedSubset() override { return deleted_.get(); }
  void GetCommented(Subset* subset) override;
  std::int32_t EmbeddedBaseCount() override { return kLegacyLibraryCount; }
  String LibraryNameOf(const Field& field) override;
  String EmbeddedBaseName(std::int32_t index) override;
  void GetEmbeddedShortInfo(ShortInfo& out, const String& name) override;

  std::uint8_t Flag() const { return flag_; }
  // The body of game n as stored (comment reference and codes).
  std::vector<std::uint8_t> Body(std::int32_t n);

  // The comment reader's view of this base: appends the comments of the game whose reference is
  // given that stand at ply (all that remain when ply < 0).
  void AppendComments(std::uint32_t reference, std::int32_t ply, Game* game);
  // The DOS decoder's hand-over: the comments that stand before move, then move; after the last
  // move (move null) the comments that remain.
  void ReaderStep(std::uint32_t reference, Game* game, const ChessElement* move);

 private:
  std::string File(const char* ext) const;
  Array* OpenFile(const char* ext, std::uint16_t elementSize, std::int32_t bufLen,
                  std::int32_t ahead);
  void BuildPattern();
  // The comment reference of game n, from its body's first four bytes (0 when none).
  std::uint32_t CommentReference(std::int32_t n);
  // Reads one ".ndx" entry.
  struct CommentEntry {
    std::uint32_t offset = 0;
    std::uint16_t ply = 0;
    std::uint8_t length = 0;
    std::uint8_t flags = 0;
  };
  bool ReadEntry(std::uint32_t index, CommentEntry& out);

  std::uint8_t flag_ = 0;
  std::string description_;
  RecordPattern pattern_;
  ArrayHandle headers_, offsets_, bodies_, index_, plainTexts_, packedTexts_;
  ArrayHandle container_;  // ".lib", its head cached
  std::unique_ptr<Subset> deleted_;
  // Per game: -1 not yet known, 0 no comments, 1 comments.
  std::vector<std::int8_t> commented_;
  // The comment reader's position in the game being read.
  std::uint32_t readerEntry_ = 0;
  bool readerDone_ = true;
  std::int32_t readerPly_ = 0;
  std::vector<std::uint8_t> text_;
};

// One of the four libraries of a legacy base: one string field a record, read from the
// container's members. Read-only like its base.
class LegacyLibrary final : public Base {
 public:
  // name: the registered name (base, comma, library name); code: "PNE", "PLE", "TCE", "COE".
  LegacyLibrary(const String& name, Array* container, const char* code, std::int32_t meaning,
                bool packed);
  void GetInfo(BaseInfo& info) override;
  void Read(std::int32_t n, Record& record) override;
  const RecordPattern& GetRecordPattern() override { return pattern_; }

  // The pattern of a library whose names have that meaning's name field.
  static RecordPattern PatternFor(std::int32_t meaning);
  // The record count of a library: the 16-bit value at byte 18 of its ".#00" member.
  static std::int32_t CountOf(Array* container, const char* code);

 private:
  RecordPattern pattern_;
  ArrayHandle offsets_, texts_;
  bool packed_;
  std::vector<std::uint8_t> buffer_;
};

// Registers base type 1 with the dispatch (open and short information; never created) and the
// game score's DOS comment reader.
void RegisterLegacyBase();

}  // namespace ludrex
