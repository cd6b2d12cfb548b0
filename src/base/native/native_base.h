// NativeBase: base type 0, a set of files sharing one base name: the header ".kvx", the slot map
// ".axx", the deletion marks ".dxx", the key order ".iii" (keyed bases), per-group address files
// ".aNN" and data files ".dNN", and for a top-level base the volume ".emb" that holds its
// embedded bases (the libraries). An embedded base keeps the same files as members of its
// container's volume.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/base.h"
#include "base/native/key_index.h"
#include "base/native/key_order.h"
#include "base/native/native_files.h"
#include "base/native/slot_map.h"
#include "record/pattern.h"
#include "record/record.h"
#include "storage/array.h"

namespace ludrex {

class Volume;

// The texts at the start of the header.
extern const char kNativeIdentification[];  // "Tallowmerecraft 3.0 database."
extern const char kNativeFormatMark[];      // "\nChess Korvanex format. Version 1.3"

constexpr std::int32_t kStorageFixed = 1;
constexpr std::int32_t kStorageVariable = 2;

// One field as the header stores it: the field specification (its Param is the second text; a
// library field's library pattern is loaded from the library's own header) and where its body
// lives.
struct NativeField {
  FieldSpec spec;
  std::int32_t kind = kStorageFixed;
  std::int32_t size = 0;
  std::int32_t group = 0;
  std::int32_t ordinal = 0;
  std::int32_t created = 0;  // index in creation order (the header's order)
};

// The fields of one group, in field order: [first, first + count) of the sorted list.
struct NativeGroup {
  std::int32_t count = 0;
  std::int32_t first = 0;
  bool allFixed = true;
  std::int32_t totalSize = 0;
};

// Parses the field specifications of a header held in bytes (from offset 112 + description);
// raises 945 when the bytes end early or hold an impossible value.
struct NativeHeader {
  std::uint32_t flags = 0;
  std::int32_t count = 0;
  std::string description;
  std::vector<NativeField> fields;  // creation order
};
// False when the format mark differs (mark receives the text found); raises 945 on a damaged
// header of the right format.
bool ParseNativeHeader(const std::vector<std::uint8_t>& bytes, NativeHeader& out,
                       std::string& mark);
std::vector<std::uint8_t> BuildNativeHeader(const NativeHeader& header);

// The storage kind, size and group rule of a field type; 806 for a subtype text the type does
// not allow, 101 for an integer without one, 906 for a type without a storage kind.
void AssignStorage(std::vector<NativeField>& fields);

class NativeBase final : public Base {
 public:
  // Opens the base name: in the file system (volume null) or as an embedded base of the
  // container whose volume is given (containerName: the container's registered name). A wrong
  // format mark reports 904 and leaves the object not open.
  NativeBase(const String& name, Volume* volume, const std::string& containerName);
  // Creates the base.
  NativeBase(const String& name, const RecordPattern& pattern, Volume* volume,
             const std::string& containerName);
  ~NativeBase() override;

  Base* OpenEmbedded(const String& name) override;
  Base* CreateEmbedded(const String& name, const RecordPattern& pattern) override;
  void Update() override;
  void GetInfo(BaseInfo& info) override;
  void SetInfo(const BaseInfo& info) override;
  int IsSorted() override { return keyField_ >= 0 ? 1 : 0; }
  std::int32_t UnsortedFromSorted(std::int32_t position) override;
  void Read(std::int32_t n, Record& record) override;
  std::int32_t Write(std::int32_t n, Record& record) override;
  const RecordPattern& GetRecordPattern() override { return pattern_; }
  int IsDeleted(std::int32_t n) override;
  Subset* GetDeletedSubset() override;
  void ToggleDelete(std::int32_t n, std::int32_t count) override;
  void SetModified(std::int32_t) override { modified_ = true; }
  std::int32_t SearchByRecords(Subset* subset, CriteriaList* criteria, std::int32_t flags) override;
  std::int32_t AppendAnother(Subset* subset, Base* destination, bool showProgress,
                             std::int32_t copyLibraries, const std::int32_t* order) override;
  void Reserved29() override {}
  std::int32_t EmbeddedBaseCount() override;
  String LibraryNameOf(const Field& field) override;
  String EmbeddedBaseName(std::int32_t index) override;
  void GetEmbeddedShortInfo(ShortInfo& out, const String& name) override;
  void EnableFastAccess(const RecordPattern* pattern) override;
  void DisableFastAccess() override;
  void* GetFastAccess() override;
  // Bulk writes (native_fast.cpp): a keyed base answers key lookups and appends from its key
  // index in memory and merges the new records into its key order when it is next needed; a
  // base with libraries switches its libraries to the same.
  void BeginBulkWrite() override;
  void EndBulkWrite() override;
  std::int32_t AppendByKey(Record& record, std::int32_t how) override;

  // For tests and tools.
  const std::vector<NativeField>& Fields() const { return fields_; }
  const std::vector<NativeGroup>& Groups() const { return groups_; }
  std::int32_t SlotOf(std::int32_t record) { return slots_.SlotOf(record); }
  bool FastAccessOn() const { return fastOn_; }
  bool KeyIndexOn() const { return indexOn_; }
  std::int32_t PendingKeys() const { return static_cast<std::int32_t>(pendingKeys_.size()); }
  Volume* EmbeddedVolume() { return volume_.get(); }

 private:
  class GroupStream;  // native_search.cpp
  struct GroupFiles {
    ArrayHandle address;  // 32-bit entries; absent for an all-fixed group
    ArrayHandle data;     // bytes
    // Fast access: the whole data file and address file in memory, kept equal to the files.
    bool fast = false;
    std::vector<std::uint8_t> memData;
    std::vector<std::int32_t> memAddress;
    // Where the last read ended: a read that goes on from there uses the window, another one
    // reads its few bytes straight from the file instead of reloading the whole window.
    std::int64_t lastDataStart = -1;
    std::int64_t lastDataEnd = -1;
    std::int32_t lastAddress = -1;
  };

  void OpenFiles();
  void CreateFiles();
  void Finish();  // the common tail of open and create
  void LoadLibraryPatterns();
  void BuildPattern();
  void WriteHeader(bool create);
  void FlushIndexes();
  void CloseAll() noexcept;

  std::string FullName() const;
  // Index of the base field matching record field i (by name), or -1.
  std::int32_t MatchField(const Record& record, std::int32_t i) const;

  // Group data access (memory when fast, else the files); bounds are checked.
  std::int32_t AddressCount(std::int32_t g);
  std::int32_t GetAddress(std::int32_t g, std::int32_t s);
  void PutAddress(std::int32_t g, std::int32_t s, std::int32_t value);
  std::int64_t DataCount(std::int32_t g);
  void ReadData(std::int32_t g, std::int64_t at, void* out, std::int32_t n, std::int32_t record);
  void WriteData(std::int32_t g, std::int64_t at, const void* bytes, std::int32_t n);

  // How many bytes to read at once from at: as many as wanted where that keeps the data file's
  // window useful for the records that follow.
  std::int32_t PieceFor(std::int32_t g, std::int64_t at, std::int32_t want);
  // The address of slot s's data in group g, or -1 when the group holds no data for it. A slot
  // or overflow reference outside the address file raises 946 naming the file and record.
  std::int64_t ResolveAddress(std::int32_t g, std::int32_t s, std::int32_t* overflow,
                              std::int32_t record);
  // Reads the bodies of group g at address: offsets into buf of each field's body.
  void ReadGroup(std::int32_t g, std::int64_t address, std::int32_t record,
                 std::vector<std::uint8_t>& buf, std::vector<std::int32_t>& offset,
                 std::vector<std::int32_t>& length);

  // Writes record r's fields (Write without the key order).
  void PlaceRecord(std::int32_t r, bool isNew, Record& record);

  // Key order.
  int CompareKey(Field& key, std::int32_t position);
  // The key index (native_fast.cpp). Build: false when the key is not a text, memory is short
  // or the key order on file is not in order (then writes search the files as before).
  bool BuildKeyIndex();
  void DropKeyIndex();
  // Puts the records appended through the index into the key order.
  void SettleKeys();
  void IndexKeyOf(Field& key, std::vector<std::uint8_t>& out);
  // Key weights against record r's key, in key order (descending keys reversed).
  int CompareIndexed(const std::uint8_t* key, std::size_t n, std::int32_t r) const;
  std::int32_t LowerBound(Field& key, bool* equal);
  Field* KeyFieldOf(Record& record, std::unique_ptr<Field>& temp);

  const ByteBlock& EmptyBody(std::int32_t field);

  Volume* container_ = nullptr;  // the volume this embedded base lives in (not owned)
  std::string containerName_;
  NativeFileSpace files_;

  std::uint32_t flags_ = 0;
  std::int32_t savedCount_ = 0;
  bool modified_ = false;
  std::string description_;
  std::vector<NativeField> fields_;  // sorted by (group, ordinal)
  std::vector<NativeGroup> groups_;
  RecordPattern pattern_;
  std::int32_t keyField_ = -1;  // index into fields_
  std::unique_ptr<Record> keyScratch_;

  ArrayHandle header_;
  ArrayHandle keyFile_;
  KeyOrder keys_;
  ArrayHandle slotFile_;
  SlotMap slots_;
  std::unique_ptr<Subset> deleted_;
  std::vector<GroupFiles> groupFiles_;
  std::unique_ptr<Volume> volume_;  // ".emb" of a top-level base

  std::vector<std::string> params_;  // each field's Param (a library's full name)
  mutable std::unordered_map<std::string, std::int32_t> byName_;  // MatchField's index
  std::vector<std::int32_t> match_;
  std::vector<std::uint8_t> wanted_;
  std::vector<ByteBlock> emptyBodies_;
  std::vector<bool> emptyReady_;
  std::vector<std::uint8_t> head_;  // the first piece of a group's data
  std::vector<std::uint8_t> readBuf_;
  std::vector<std::int32_t> readOffset_, readLength_;
  ByteBlock packBuf_;
  // PlaceRecord's scratch: the record field of each base field, a group's size header and bodies.
  std::vector<std::int32_t> placeSource_;
  std::vector<std::uint8_t> placeHead_, placeBodies_;

  bool fastOn_ = false;
  std::vector<Base*> fastLibraries_;  // libraries whose fast access this base switched on

  // Bulk writes.
  std::int32_t bulkDepth_ = 0;
  std::vector<Base*> bulkLibraries_;  // libraries this base switched to bulk writing
  bool indexOn_ = false;
  KeyIndex keyIndex_;
  std::vector<std::int32_t> pendingKeys_;  // appended, not yet in the key order
  std::int32_t lastKey_ = -1;              // the record last in key order, pending ones included
  std::vector<std::uint8_t> keyBuf_, newKey_;
  // Records appended in bulk whose deletion marks (all clear) are not yet in the marks' file,
  // which then grows once instead of a byte at a time. Top-level bases only: a library's files
  // grow inside the volume in the order the record-by-record path grows them.
  std::int32_t unmarked_ = 0;
  void GrowMarks();
  // Swaps each group's data and address windows for ones of the given sizes.
  void SetWindows(std::int32_t dataBytes, std::int32_t addresses);
};

// Registers type 0 with the open/create dispatch.
void RegisterNativeBase();
// Short information from a header file's first bytes (the array is positioned nowhere).
void NativeShortInfoFrom(Array* header, ShortInfo& out);

}  // namespace ludrex
