// Base: the abstract class every base type derives from. The host holds a base as an opaque
// handle and reaches it through the Base_ exports, which forward to these virtual operations.
// The order of the operations is fixed; the comment on each gives its default behaviour here.
#pragma once

#include <cstdint>

#include "storage/string.h"

namespace ludrex {

class Field;
class Record;
class RecordPattern;
class Subset;
class CriteriaList;
class Array;

// Record numbers accepted by Write only.
constexpr std::int32_t kAppendRecord = 0x10000000;
constexpr std::int32_t kAppendSortedRecord = 0x10000001;

// What the info operations exchange.
struct BaseInfo {
  String description{static_cast<const char*>(nullptr)};
  String fullName{static_cast<const char*>(nullptr)};
  String secondFullName{static_cast<const char*>(nullptr)};
  std::int32_t type = 0;
  std::int32_t flag = 0;
};

// A description and a record count read without opening a base; count -1 when unreadable.
struct ShortInfo {
  String text{static_cast<const char*>(nullptr)};
  std::int32_t count = -1;
};

class Base {
 public:
  Base(std::int32_t type, const String& name);
  Base(const Base&) = delete;
  Base& operator=(const Base&) = delete;

  // 0: opens an embedded base of this base (907).
  virtual Base* OpenEmbedded(const String& name);
  // 1: creates an embedded base inside this base (907).
  virtual Base* CreateEmbedded(const String& name, const RecordPattern& pattern);
  // 2
  virtual ~Base();
  // 3: writes pending header and index changes to disk (nothing here).
  virtual void Update();
  // 4
  virtual void GetInfo(BaseInfo& info) = 0;
  // 5: (907)
  virtual void SetInfo(const BaseInfo& info);
  // 6: 1 when the base keeps its records in key order (0 here).
  virtual int IsSorted();
  // 7: the record number at a position of the key order (the position itself here).
  virtual std::int32_t UnsortedFromSorted(std::int32_t position);
  // 8: the first position whose first field is not below record's; found tells equality.
  virtual std::int32_t Find(Record& record, std::int32_t* found, Subset* subset);
  // 9: fills record with record n.
  virtual void Read(std::int32_t n, Record& record) = 0;
  // 10: writes record as record n, kAppendRecord or kAppendSortedRecord; returns its position
  // (907).
  virtual std::int32_t Write(std::int32_t n, Record& record);
  // 11: the list of field specifications.
  virtual const RecordPattern& GetRecordPattern() = 0;
  // 12: (0)
  virtual int IsDeleted(std::int32_t n);
  // 13: the subset of deleted records, owned by the base (null).
  virtual Subset* GetDeletedSubset();
  // 14: narrows subset to the games whose score carries comments.
  virtual void GetCommented(Subset* subset);
  // 15: inverts the deletion marks of count records from n on (907, not fatal).
  virtual void ToggleDelete(std::int32_t n, std::int32_t count);
  // 16: the ordinary search, record by record: narrows subset (record numbers) to the games
  // that satisfy criteria; returns how many were found.
  virtual std::int32_t SearchByRecords(Subset* subset, CriteriaList* criteria, std::int32_t flags);
  // 17: the search, through the tree where one answers (slot 16 here).
  virtual std::int32_t Search(Subset* subset, CriteriaList* criteria, std::int32_t flags);
  // 18: the tree operation (907).
  virtual std::intptr_t TreeOperation(std::intptr_t a, std::intptr_t b, std::intptr_t c);
  // 19: position statistics (907).
  virtual void* GetPositionStats(Subset* in, Subset* out, const void* position,
                                 std::int32_t value);
  // 20: marks the games under a place of the tree where a criterion holds (907).
  virtual void TreeSearchLine(Subset* in, Subset* result, Field* criterion);
  // 21: marks the base as changed (907).
  virtual void SetModified(std::int32_t value);
  // 22: copies the records of subset to the end of destination; returns how many were written.
  virtual std::int32_t AppendAnother(Subset* subset, Base* destination, bool showProgress,
                                     std::int32_t copyLibraries, const std::int32_t* order);
  // 23: reserved (907).
  virtual void Reserved23(std::intptr_t a, std::intptr_t b, std::intptr_t c);
  // 24: 1 when the tree files exist and carry their format text, 0 when missing, -1 otherwise.
  // 24-28 default to the shared tree operations (base/tree_hooks.h).
  virtual int CheckTree();
  // 25, 26
  virtual Base* BuildTree();
  virtual Base* DeleteTree();
  // 27, 28: the tree's data file (bytes) and index file (4-byte entries) opened read-only
  // through windows, or null; the caller owns them.
  virtual Array* OpenTreeData();
  virtual Array* OpenTreeIndex();
  // 29: reserved (907).
  virtual void Reserved29();
  // 30: the number of embedded bases (0).
  virtual std::int32_t EmbeddedBaseCount();
  // 31: the name of the embedded base a library-reference field refers to (empty).
  virtual String LibraryNameOf(const Field& field);
  // 32: the name of embedded base index (908 when index >= count).
  virtual String EmbeddedBaseName(std::int32_t index);
  // 33: short information of an embedded base (empty text, count -1).
  virtual void GetEmbeddedShortInfo(ShortInfo& out, const String& name);
  // 34: reserved (907).
  virtual void Reserved34(std::intptr_t a);
  // 35-37: the in-memory access tables (nothing here; null).
  virtual void EnableFastAccess(const RecordPattern* pattern);
  virtual void DisableFastAccess();
  virtual void* GetFastAccess();

  std::int32_t Type() const { return type_; }
  bool IsOpen() const { return open_ != 0; }
  bool OemCoding() const { return oemCoding_ != 0; }
  void SetOemCoding(bool on) { oemCoding_ = on ? 1 : 0; }
  bool CopyEventToSite() const { return copyEventToSite_ != 0; }
  void SetCopyEventToSite(bool on) { copyEventToSite_ = on ? 1 : 0; }
  std::int32_t RecordCount() const { return recordCount_; }
  const String& Name() const { return name_; }

 protected:
  // The shared algorithm of AppendAnother, with its progress granularity in games (100 for the
  // shared operation; a format's own copy may use another).
  std::int32_t CopyRecordsTo(Subset* subset, Base* destination, bool showProgress,
                             std::int32_t copyLibraries, const std::int32_t* order,
                             std::int32_t granularity);

  std::int32_t type_;
  std::int32_t open_ = 0;  // set by a derived constructor that succeeded
  std::int32_t oemCoding_ = 0;
  std::int32_t copyEventToSite_ = 0;
  std::int32_t recordCount_ = 0;
  String name_;
};

// Raises 907 (fatal): an operation this base type does not support.
[[noreturn]] void Unsupported();

}  // namespace ludrex
