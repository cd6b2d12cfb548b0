#include "base/pgn/pgn_base.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/dispatch.h"
#include "base/registry.h"
#include "frame/catalogue.h"
#include "frame/error.h"
#include "record/field.h"
#include "record/field_chess.h"
#include "record/field_types.h"
#include "record/record.h"
#include "storage/array_stream.h"
#include "storage/files.h"
#include "storage/memory.h"

namespace ludrex {
namespace {

constexpr std::int32_t kPgnType = 2;
constexpr std::size_t kScanChunk = 1 << 20;
constexpr std::size_t kPiece = 65535;
constexpr std::int64_t kTailInMemory = 8000000;
constexpr std::size_t kMaxTagName = 255;  // a longer "tag" is damage, not a field name
constexpr std::int64_t kMaxFile = std::numeric_limits<std::int32_t>::max();

String Own(const std::string& s) { return String::Copy(s.data(), std::uint32_t(s.size())); }

std::string NameOf(const String& s) { return std::string(s.Text(), s.Length()); }

// An index array: 32-bit elements in a temporary file behind a write-back window.
ArrayHandle NewIndex() {
  ArrayHandle h(NewBufArray(NewFileArray(0, nullptr), 16384, 16384));
  h->Init(4);
  h->Expandable(1);
  return h;
}

}  // namespace

PgnBase::PgnBase(const String& name, const RecordPattern* pattern) : Base(kPgnType, name) {
  fileName_ = NameOf(name) + BaseTypeExtension(kPgnType);
  OpenFile(false);
  index_ = NewIndex();
  Scan();
  if (pattern != nullptr) {
    pattern_ = *pattern;
  } else if (recordCount_ > 0) {
    ReadGameBytes(0);
    pattern_ = PatternOfFirstGame(buffer_.data(), buffer_.size());
  } else {
    pattern_ = PatternOfFirstGame(nullptr, 0);
  }
  open_ = 1;
}

PgnBase::PgnBase(const String& name, const RecordPattern& pattern, bool create)
    : Base(kPgnType, name) {
  fileName_ = NameOf(name) + BaseTypeExtension(kPgnType);
  OpenFile(create);
  index_ = NewIndex();
  pattern_ = pattern;
  recordCount_ = 0;
  if (!create) Scan();
  open_ = 1;
}

PgnBase::~PgnBase() = default;

void PgnBase::OpenFile(bool create) {
  Array* a = NewFileArray(create ? 0 : -1, fileName_.c_str());
  if (a == nullptr) Raise(520);
  text_ = ArrayHandle(a);
  text_->Init(1);
  text_->Expandable(1);
}

void PgnBase::Scan() {
  PgnScanner scanner;
  std::vector<std::int64_t> starts;
  std::vector<char> chunk(kScanChunk);
  const std::int32_t size = text_->Count();
  for (std::int32_t pos = 0; pos < size;) {
    const std::int32_t n = std::int32_t(std::min<std::int64_t>(kScanChunk, size - pos));
    text_->Read(pos, chunk.data(), n);
    scanner.Feed(chunk.data(), std::size_t(n), pos, starts);
    pos += n;
  }
  std::vector<std::uint32_t> offsets(starts.begin(), starts.end());
  if (!offsets.empty()) index_->Write(0, offsets.data(), std::int32_t(offsets.size()));
  recordCount_ = std::int32_t(offsets.size());
}

std::uint32_t PgnBase::GameOffset(std::int32_t n) { return index_->GetLong(n); }

void PgnBase::ReadGameBytes(std::int32_t n) {
  const std::uint32_t start = GameOffset(n);
  const std::uint32_t end =
      n + 1 < recordCount_ ? GameOffset(n + 1) : std::uint32_t(text_->Count());
  const std::uint32_t len = end > start ? end - start : 0;
  buffer_.resize(len);
  if (len == 0) return;
  const std::int64_t windowEnd = windowStart_ + std::int64_t(window_.size());
  if (start < windowStart_ || end > windowEnd) {
    if (len >= kScanChunk) {
      text_->Read(std::int32_t(start), buffer_.data(), std::int32_t(len));
      return;
    }
    // One read for this game and the ones after it: reading a file game by game costs a system
    // call a game otherwise.
    const std::int64_t more = std::min<std::int64_t>(kScanChunk, text_->Count() - start);
    window_.resize(std::size_t(more));
    windowStart_ = start;
    text_->Read(std::int32_t(start), window_.data(), std::int32_t(more));
  }
  std::memcpy(buffer_.data(), window_.data() + (start - windowStart_), len);
}

RecordPattern PgnBase::PatternOfFirstGame(const char* text, std::size_t n) {
  RecordPattern p;
  if (text != nullptr && n > 0) {
    PgnGameText game;
    ParsePgnGame(text, n, game);
    for (const auto& tag : game.tags) {
      const char* name = tag.name.c_str();
      // A table tag carries its meaning as "~m"; a tag that merely begins with '~' is a tag
      // like any other.
      const long meaning = name[0] == '~' ? std::strtol(name + 1, nullptr, 10) : 0;
      const std::int32_t row =
          meaning > 0 && meaning < 100 ? PgnTagRowOfMeaning(static_cast<std::int32_t>(meaning)) : -1;
      if (row >= 0) {
        const PgnTagRow& r = PgnTagTableRow(row);
        p.Append(FieldSpec(r.type, Own(tag.name), 0, String(r.param)));
      } else if (!IsPgnSetupTag(tag.name.data(), tag.name.size()) && !tag.name.empty() &&
                 tag.name.size() <= kMaxTagName) {
        p.Append(FieldSpec(1, Own(tag.name), 0, String("")));
      }
    }
  }
  p.Append(FieldSpec(4, String("~22"), 0, String("")));
  return p;
}

void PgnBase::Update() { text_->Flush(); }

void PgnBase::GetInfo(BaseInfo& info) {
  info.description = String("");
  info.fullName = Own(fileName_);
  info.secondFullName = Own(fileName_);
  info.type = kPgnType;
  info.flag = 0;
}

void PgnBase::Read(std::int32_t n, Record& record) {
  if (n < 0 || n >= recordCount_) Raise(903);
  ReadGameBytes(n);
  ParsePgnGame(buffer_.data(), buffer_.size(), parsed_);
  FillRecordFromPgn(parsed_, OemCoding(), record);
  for (std::int32_t i = 0; i < record.Count(); ++i) {
    if (record[i].TypeCode() != kChessType) continue;
    if (static_cast<const ChessField&>(record[i]).ReadToEnd()) continue;
    if (incomplete_.size() < static_cast<std::size_t>(recordCount_)) {
      incomplete_.resize(static_cast<std::size_t>(recordCount_));
    }
    if (!incomplete_[static_cast<std::size_t>(n)]) {
      incomplete_[static_cast<std::size_t>(n)] = true;
      ++incompleteCount_;
    }
  }
}

void PgnBase::WriteText(std::int64_t offset, const char* bytes, std::size_t n) {
  window_.clear();
  if (offset + std::int64_t(n) > kMaxFile) Raise(517, fileName_.c_str());
  while (n > 0) {
    const std::size_t k = std::min(n, kPiece);
    text_->Write(std::int32_t(offset), bytes, std::int32_t(k));
    offset += std::int64_t(k);
    bytes += k;
    n -= k;
  }
}

std::int32_t PgnBase::Write(std::int32_t n, Record& record) {
  window_.clear();
  if (n == kAppendRecord || n == kAppendSortedRecord) n = recordCount_;
  if (n < 0 || n > recordCount_) Raise(903);
  // The game as a record of the base's pattern: r's fields by name, the old game's values (or
  // empty values when appending) for the rest.
  Record game(pattern_);
  if (n < recordCount_) Read(n, game);
  ByteBlock packed;
  for (std::int32_t k = 0; k < game.Count(); ++k) {
    Field& target = game[k];
    Field* source = record.FindField(target.Name());
    if (source == nullptr) continue;
    if (source->TypeCode() == target.TypeCode()) {
      target.Assign(*source);
    } else {
      source->Pack(kPgnBase, source->Spec().param, packed);
      target.Unpack(kPgnBase, packed.Data(), packed.Count(), target.Spec().param);
    }
  }
  out_.clear();
  WritePgnGame(game, OemCoding(), out_);

  if (n == recordCount_) {
    const std::int64_t at = text_->Count();
    WriteText(at, out_.data(), out_.size());
    index_->PutLong(recordCount_, std::uint32_t(at));
    ++recordCount_;
    return n;
  }
  const std::int64_t start = GameOffset(n);
  const std::int32_t oldCount = recordCount_;
  // The games after n are kept aside while game n is rewritten.
  std::vector<char> tailMemory;
  ArrayHandle tailFile;
  std::int64_t tailStart = 0, tailLength = 0;
  if (n < oldCount - 1) {
    tailStart = GameOffset(n + 1);
    tailLength = std::int64_t(text_->Count()) - tailStart;
    const std::int64_t room = std::min<std::int64_t>(
        kTailInMemory, std::int64_t(std::min<std::uint64_t>(AvailMem(), kMaxFile)));
    if (tailLength <= room) {
      tailMemory.resize(std::size_t(tailLength));
      for (std::int64_t done = 0; done < tailLength;) {
        const std::int32_t k = std::int32_t(std::min<std::int64_t>(kPiece, tailLength - done));
        text_->Read(std::int32_t(tailStart + done), tailMemory.data() + done, k);
        done += k;
      }
    } else {
      tailFile = ArrayHandle(NewFileArray(0, nullptr));
      tailFile->Init(1);
      tailFile->Expandable(1);
      std::vector<char> piece(kPiece);
      for (std::int64_t done = 0; done < tailLength;) {
        const std::int32_t k = std::int32_t(std::min<std::int64_t>(kPiece, tailLength - done));
        text_->Read(std::int32_t(tailStart + done), piece.data(), k);
        tailFile->Write(std::int32_t(done), piece.data(), k);
        done += k;
      }
    }
  }
  recordCount_ = n + 1;
  text_->Extend(std::int32_t(start - text_->Count()));  // the file ends where game n started
  WriteText(start, out_.data(), out_.size());
  if (n < oldCount - 1) {
    const std::int64_t newTail = start + std::int64_t(out_.size());
    if (tailFile) {
      std::vector<char> piece(kPiece);
      for (std::int64_t done = 0; done < tailLength;) {
        const std::int32_t k = std::int32_t(std::min<std::int64_t>(kPiece, tailLength - done));
        tailFile->Read(std::int32_t(done), piece.data(), k);
        WriteText(newTail + done, piece.data(), std::size_t(k));
        done += k;
      }
    } else {
      WriteText(newTail, tailMemory.data(), tailMemory.size());
    }
    // The later games moved by shift bytes. The reader's block is read before the writer
    // overwrites those offsets, so one pass over the index does it.
    const std::int64_t shift = newTail - tailStart;
    ArrayReader<std::uint32_t> from(index_.Get(), n + 1);
    ArrayWriter<std::uint32_t> to(index_.Get(), n + 1);
    for (std::int32_t k = n + 1; k < oldCount; ++k)
      to.Put(std::uint32_t(std::int64_t(from.Next()) + shift));
    to.Flush();
  }
  recordCount_ = oldCount;
  return n;
}

// ---- Registration ----------------------------------------------------------------------------

namespace {

Base* OpenPgn(const String& name) { return new PgnBase(name, nullptr); }

Base* CreatePgn(const String& name, const RecordPattern& pattern) {
  return new PgnBase(name, pattern, true);
}

}  // namespace

void RegisterPgnBase() {
  BaseFormat f{};
  f.open = OpenPgn;
  f.create = CreatePgn;
  f.shortInfo = nullptr;
  SetBaseFormat(kPgnType, f);
}

Base* OpenPgnBaseWithPattern(const String& name, const RecordPattern& pattern) {
  if (name.Length() == 0) Raise(913);
  BaseRegistry* reg = Registry();
  if (reg == nullptr) Raise(914);
  if (Base* open = reg->Lookup(kPgnType, name)) {
    reg->Close(open);  // the lookup raised its counts
    Raise(917);
  }
  const std::string file = NameOf(name) + BaseTypeExtension(kPgnType);
  if (!FileExists(file.c_str())) Raise(503, file.c_str());
  PgnBase* base = new PgnBase(name, &pattern);
  reg->Register(kPgnType, name, base, -1);
  return reg->Lookup(kPgnType, name);
}

}  // namespace ludrex
