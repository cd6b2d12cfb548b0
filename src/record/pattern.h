// FieldSpec and RecordPattern: the description of one field and of a record, and their
// conversion to and from the host's HostRecordPattern block.
#pragma once

#include <cstdint>

#include "ludrex.h"
#include "storage/memory.h"
#include "storage/string.h"

namespace ludrex {

class RecordPattern;

// Type code, name ("~m" or a user's name), flags, Param text and, for a library-reference field,
// the owned pattern of the library record. Copies are deep.
class FieldSpec {
 public:
  FieldSpec() = default;
  FieldSpec(std::int32_t type, const String& name, std::uint32_t flags, const String& param,
            const RecordPattern* library = nullptr);
  FieldSpec(const FieldSpec& other);
  FieldSpec& operator=(const FieldSpec& other);
  ~FieldSpec();

  std::int32_t type = -1;
  String name;
  std::uint32_t flags = 0;
  String param;
  RecordPattern* library = nullptr;  // owned; used only by type 0
};

// An ordered list of owned field specifications.
class RecordPattern {
 public:
  RecordPattern() = default;
  RecordPattern(const RecordPattern& other);
  RecordPattern& operator=(const RecordPattern& other);
  RecordPattern(RecordPattern&& other) noexcept = default;
  ~RecordPattern();

  std::int32_t Count() const { return specs_.Count(); }
  const FieldSpec& operator[](std::int32_t i) const { return *specs_[i]; }
  FieldSpec& operator[](std::int32_t i) { return *specs_[i]; }
  // Appends a copy of spec.
  void Append(const FieldSpec& spec);
  void Clear();

 private:
  RamArray<FieldSpec*> specs_;
};

// Converts a host field entry / pattern (recursing into the library pattern of type-0 entries).
// A null pattern converts to an empty one; a negative count raises 14. For entries of other
// types the nested-pattern member is never looked at.
FieldSpec SpecFromHost(const HostFieldEntry& entry);
RecordPattern PatternFromHost(const HostRecordPattern* host);

// A new host block for the pattern; every block comes from MemAlloc, CPP_DestroyRP frees it.
HostRecordPattern* PatternToHost(const RecordPattern& pattern);
// Frees a host block built by PatternToHost (what CPP_DestroyRP does).
void DestroyHostPattern(HostRecordPattern* host);

}  // namespace ludrex
