// Record: an ordered array of owned fields made from a record pattern, with the record-level
// operations (empty test, clear, key, comparison) that the bases, sorting and search use.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "record/field.h"
#include "record/pattern.h"
#include "storage/memory.h"

namespace ludrex {

class Base;

class Record {
 public:
  Record() = default;
  // Creates field i from pattern entry i; the key index is the last field with the key flag.
  explicit Record(const RecordPattern& pattern);
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  ~Record();

  // Replaces the fields by new ones made from pattern.
  void Build(const RecordPattern& pattern);

  std::int32_t Count() const { return fields_.Count(); }
  // Field i; outside 0..Count-1 raises 12.
  Field& operator[](std::int32_t i) { return *fields_[i]; }
  const Field& operator[](std::int32_t i) const { return *fields_[i]; }
  std::int32_t KeyIndex() const { return keyIndex_; }
  // The first field named name, or null. A record of many fields looks names up through an
  // index made at the first call, so finding every field of a wide record stays linear.
  Field* FindField(const String& name) const;
  // Destroys field i and removes it (i outside 0..Count-1 raises 12).
  void RemoveField(std::int32_t i);

  // The key field's IsEmpty when there is one, else 1 only when every field is empty.
  int IsEmpty() const;
  // SetEmpty on every field.
  void Clear();
  // The concatenation of every field's GetKey, in field order.
  ByteBlock GetKey() const;
  // Each field's PutKey into the remaining room; the first negative result as it is, else the
  // total length.
  std::int32_t PutKey(std::uint8_t* out, std::int32_t room) const;
  // Field by field CompareTo with a record of the same pattern; a difference in a field where
  // either side is descending is reversed. Records of different field counts compare over the
  // shorter one, then by count.
  int CompareTo(const Record& other) const;
  // The specifications of the fields, in order.
  RecordPattern Pattern() const;
  // Binds every library field to the library that base uses for it and opens it.
  void LinkToBase(Base* base);

 private:
  void Destroy();

  RamArray<Field*> fields_;
  std::int32_t keyIndex_ = -1;
  mutable std::unordered_map<std::string, std::int32_t> byName_;  // first field of each name
  mutable bool indexed_ = false;
};

}  // namespace ludrex
