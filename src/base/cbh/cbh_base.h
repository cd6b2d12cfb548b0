// The ChessBase ".cbh" base (type 5), read only. A database is a set of files of one name:
//   .cbh  a 46-byte header, then one 46-byte record per game or guiding text (big-endian):
//         flags (bit 1 guiding text, bit 7 deleted), offsets into .cbg and .cba, the 3-byte ids
//         of White, Black, tournament, annotator and source, the date, result, round, subround,
//         both ratings and the ECO code;
//   .cbg  the move records (see GameReadCbh), found through the offsets of .cbh;
//   .cba  the annotation records (optional: without it the games carry no annotations);
//   .cbp  players, .cbt tournaments, .cbc annotators, .cbs sources: a header and fixed records
//         (little-endian), an entity's id being its record's place in the file.
// Games read with the record pattern Event, Site, Date, Round, White, Black, Result, WhiteElo,
// BlackElo, ECO, Annotator, Source, moves; names are handed over as the files hold them.
// Guiding texts read as records without moves (their tournament, annotator, source and round);
// records marked deleted read as they are and are reported by IsDeleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/base.h"
#include "record/pattern.h"
#include "storage/array.h"

namespace ludrex {

// A read-only file read through a window of whole chunks, for mostly sequential reading.
class ChunkedFile {
 public:
  // Opens name for reading; a missing file raises 503.
  explicit ChunkedFile(const std::string& name);
  std::int64_t Size() const { return size_; }
  const std::string& Name() const { return name_; }
  // The n bytes from offset, valid until the next call; 945 when they lie outside the file.
  const std::uint8_t* Get(std::int64_t offset, std::int32_t n);

 private:
  std::string name_;
  ArrayHandle file_;
  std::int64_t size_ = 0;
  std::int64_t start_ = 0;
  std::vector<std::uint8_t> window_;
};

// The names of one entity file, loaded whole.
struct CbhEntities {
  std::vector<std::uint8_t> bytes;
  std::int32_t count = 0;
  std::int32_t first = 0;       // offset of record 0
  std::int32_t recordSize = 0;  // 9 + data size
  bool present = false;
  // Loads file, whose records carry at least minData bytes of data; 945 when inconsistent.
  void Load(const std::string& file, std::int32_t minData, bool required);
  // The text of at most width bytes at offset in the data of record id (empty outside); its
  // length goes to *length.
  const char* Text(std::int64_t id, std::int32_t offset, std::int32_t width,
                   std::int32_t* length) const;
};

class CbhBase final : public Base {
 public:
  explicit CbhBase(const String& name);
  ~CbhBase() override;

  void GetInfo(BaseInfo& info) override;
  // Record n (903 outside 0 .. count - 1): the fields of record named like the pattern's get
  // their values, the others their empty values. A game whose files are damaged raises 945.
  void Read(std::int32_t n, Record& record) override;
  const RecordPattern& GetRecordPattern() override { return pattern_; }
  int IsDeleted(std::int32_t n) override;

  // The pattern every .cbh base reads with.
  static RecordPattern Pattern();
  // The record count from the header of name + ".cbh", or -1.
  static std::int32_t CountFromHeader(const std::string& file);

 private:
  const std::uint8_t* RecordBytes(std::int32_t n);
  // Fills body_ with game n's move record and its annotation record.
  void ReadBody(std::int32_t n, const std::uint8_t* record);
  [[noreturn]] void Damaged(std::int32_t n, const char* what);

  std::string stem_;
  ChunkedFile header_;
  ChunkedFile moves_;
  std::vector<ChunkedFile> annotations_;  // zero or one
  CbhEntities players_, tournaments_, annotators_, sources_;
  RecordPattern pattern_;
  std::vector<std::uint8_t> body_;
  char name_[64];  // "last, first" of a player
};

// Registers base type 5 with the dispatch (open and short information; no create).
void RegisterCbhBase();

}  // namespace ludrex
