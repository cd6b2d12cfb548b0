// ReferenceBase (type 4, ".ror"): a base that holds no games of its own. Its file names another
// base (the target) by type and name; reads are served by the target, while the reference's own
// name carries the files that must be writable (tree files with the type digit 4, the companion
// copies ".bo4" and ".st4"). The open dispatch makes reference files for bases whose main file
// is read-only; a reference base is never created through Base_BaseCreate.
//
// File layout of N".ror": target type (signed 32), name length n (unsigned 32), n name bytes
// (a base name without extension, no terminator).
#pragma once

#include <cstdint>
#include <string>

#include "base/base.h"

namespace ludrex {

class ReferenceBase final : public Base {
 public:
  // Opens N".ror" and its target (registry-aware, without the read-only redirect). A missing
  // target reports 921 (not fatal) and leaves the object not open.
  explicit ReferenceBase(const String& name);
  // An embedded base of a reference: registered under the reference's name and the embedded
  // name, served by the target's embedded base of that name (target holds one open of it).
  ReferenceBase(const String& name, Base* target);
  ~ReferenceBase() override;

  Base* OpenEmbedded(const String& name) override;
  void GetInfo(BaseInfo& info) override;
  int IsSorted() override;
  std::int32_t UnsortedFromSorted(std::int32_t position) override;
  void Read(std::int32_t n, Record& record) override;
  const RecordPattern& GetRecordPattern() override;
  int IsDeleted(std::int32_t n) override;
  Subset* GetDeletedSubset() override;
  void GetCommented(Subset* subset) override;
  std::int32_t SearchByRecords(Subset* subset, CriteriaList* criteria,
                               std::int32_t flags) override;
  std::intptr_t TreeOperation(std::intptr_t a, std::intptr_t b, std::intptr_t c) override;
  std::int32_t AppendAnother(Subset* subset, Base* destination, bool showProgress,
                             std::int32_t copyLibraries, const std::int32_t* order) override;
  std::int32_t EmbeddedBaseCount() override;
  String LibraryNameOf(const Field& field) override;
  String EmbeddedBaseName(std::int32_t index) override;
  void GetEmbeddedShortInfo(ShortInfo& out, const String& name) override;
  void EnableFastAccess(const RecordPattern* pattern) override;
  void DisableFastAccess() override;
  void* GetFastAccess() override;

  // Every writing slot is refused: 907, fatal (ToggleDelete: not fatal).
  Base* CreateEmbedded(const String& name, const RecordPattern& pattern) override;
  void SetInfo(const BaseInfo& info) override;
  std::int32_t Write(std::int32_t n, Record& record) override;
  void ToggleDelete(std::int32_t n, std::int32_t count) override;
  void SetModified(std::int32_t value) override;

  Base* Target() const { return target_; }
  std::int32_t TargetType() const { return targetType_; }
  const std::string& TargetName() const { return targetName_; }

 private:
  Base* target_ = nullptr;  // one open of the registry, given back by the destructor
  std::int32_t targetType_ = -1;
  std::string targetName_;
};

// Reads a reference file: the target's type and name. False when the file is shorter than its
// header or its name length runs past the end.
bool ReadReferenceFile(const std::string& file, std::int32_t& type, std::string& name);

// Registers type 4 with the dispatch (open and short information; no create).
void RegisterReferenceBase();

}  // namespace ludrex
