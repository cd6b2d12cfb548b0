#include "base/reference/reference_base.h"

#include <string>

#include "base/dispatch.h"
#include "base/registry.h"
#include "frame/catalogue.h"
#include "frame/error.h"
#include "storage/array.h"
#include "storage/files.h"

namespace ludrex {
namespace {

std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }
String Own(const std::string& s) {
  return String::Copy(s.data(), static_cast<std::uint32_t>(s.size()));
}

// Reads the header and the name of a reference file through an array opened as the base
// interface opens its files (read/write, falling back to read-only).
bool ReadReference(Array* a, std::int32_t& type, std::string& name) {
  a->Init(1);
  if (a->Count() < 8) return false;
  std::uint8_t head[8];
  a->Read(0, head, 8);
  auto u32 = [&](int at) {
    return std::uint32_t(head[at]) | std::uint32_t(head[at + 1]) << 8 |
           std::uint32_t(head[at + 2]) << 16 | std::uint32_t(head[at + 3]) << 24;
  };
  const std::uint32_t length = u32(4);
  if (length > std::uint32_t(a->Count() - 8)) return false;
  type = static_cast<std::int32_t>(u32(0));
  name.assign(length, '\0');
  if (length > 0) a->Read(8, name.data(), static_cast<std::int32_t>(length));
  return true;
}

}  // namespace

bool ReadReferenceFile(const std::string& file, std::int32_t& type, std::string& name) {
  ArrayHandle a(NewFileArray(-1, file.c_str(), platform::kFlagNone, platform::kAccessRead,
                             platform::kShareRead));
  if (!a) Raise(520);
  return ReadReference(a.Get(), type, name);
}

ReferenceBase::ReferenceBase(const String& name) : Base(kTypeReference, name) {
  const std::string file = Str(name) + BaseTypeExtension(kTypeReference);
  {
    ArrayHandle a(NewFileArray(-1, file.c_str()));
    if (!a) Raise(520);
    // A file too short for what it claims is as good as a missing target.
    if (!ReadReference(a.Get(), targetType_, targetName_)) {
      Warn(921, file.c_str());
      return;
    }
  }
  // A reference names a base of another type; one naming a reference (or no type at all)
  // would only lead back here.
  if (targetType_ < 0 || targetType_ >= kNumBaseTypes || targetType_ == kTypeReference ||
      targetName_.empty()) {
    Warn(921, targetName_.c_str());
    return;
  }
  const std::string container = targetName_.substr(0, targetName_.find(','));
  if (!FileExists((container + BaseTypeExtension(targetType_)).c_str())) {
    Warn(921, targetName_.c_str());
    return;
  }
  target_ = OpenBaseDirect(Own(targetName_), targetType_);
  if (target_ == nullptr) return;
  recordCount_ = target_->RecordCount();
  open_ = 1;
}

ReferenceBase::ReferenceBase(const String& name, Base* target)
    : Base(kTypeReference, name), target_(target) {
  targetType_ = target->Type();
  BaseInfo info;
  target->GetInfo(info);
  targetName_ = Str(info.fullName);
  recordCount_ = target->RecordCount();
  open_ = 1;
}

ReferenceBase::~ReferenceBase() {
  if (target_ == nullptr) return;
  // At shut-down the target's group may have been closed before this base: nothing to give back.
  BaseRegistry* reg = Registry();
  if (reg == nullptr || reg->IndexOf(target_) < 0) return;
  try {
    reg->Close(target_);
  } catch (...) {
    // The failure has been reported; a destructor lets nothing out.
  }
}

Base* ReferenceBase::OpenEmbedded(const String& name) {
  // The target's embedded base is open as a member of the target's group (registered under the
  // target's name); this base holds one more open of it.
  BaseRegistry* reg = Registry();
  if (reg == nullptr) Raise(914);
  const std::int32_t i = reg->IndexOf(target_);
  if (i < 0) Raise(914);
  const std::string full = Str(reg->At(i).name) + "," + Str(name);
  Base* embedded = reg->Lookup(targetType_, Own(full));
  if (embedded == nullptr) embedded = target_->OpenEmbedded(name);  // 909 and the like
  if (embedded == nullptr) Raise(914);
  try {
    return new ReferenceBase(Own(Str(name_) + "," + Str(name)), embedded);
  } catch (...) {
    reg->Close(embedded);
    throw;
  }
}

void ReferenceBase::GetInfo(BaseInfo& info) {
  target_->GetInfo(info);
  info.secondFullName = String::Copy(info.fullName.Text(), info.fullName.Length());
  info.fullName = String::Copy(name_.Text(), name_.Length());
  info.type = target_->Type();
  info.flag = 1;
}

int ReferenceBase::IsSorted() { return target_->IsSorted(); }
std::int32_t ReferenceBase::UnsortedFromSorted(std::int32_t position) {
  return target_->UnsortedFromSorted(position);
}
void ReferenceBase::Read(std::int32_t n, Record& record) { target_->Read(n, record); }
const RecordPattern& ReferenceBase::GetRecordPattern() { return target_->GetRecordPattern(); }
int ReferenceBase::IsDeleted(std::int32_t n) { return target_->IsDeleted(n); }
Subset* ReferenceBase::GetDeletedSubset() { return target_->GetDeletedSubset(); }
void ReferenceBase::GetCommented(Subset* subset) { target_->GetCommented(subset); }
std::int32_t ReferenceBase::SearchByRecords(Subset* subset, CriteriaList* criteria,
                                            std::int32_t flags) {
  return target_->SearchByRecords(subset, criteria, flags);
}
std::intptr_t ReferenceBase::TreeOperation(std::intptr_t a, std::intptr_t b, std::intptr_t c) {
  return target_->TreeOperation(a, b, c);
}

std::int32_t ReferenceBase::AppendAnother(Subset* subset, Base* destination, bool showProgress,
                                          std::int32_t copyLibraries, const std::int32_t* order) {
  // Between two native bases the target's own copy runs (with its libraries in memory).
  if ((copyLibraries & 2) == 0 && destination->Type() == kTypeNative &&
      target_->Type() == kTypeNative) {
    const std::int32_t n =
        target_->AppendAnother(subset, destination, showProgress, copyLibraries, order);
    if (n >= 0) return n;
  }
  const std::int32_t libraries = (copyLibraries & 2) != 0 ? (copyLibraries & 1) : copyLibraries;
  return CopyRecordsTo(subset, destination, showProgress, libraries, order, 100);
}

std::int32_t ReferenceBase::EmbeddedBaseCount() { return target_->EmbeddedBaseCount(); }
String ReferenceBase::LibraryNameOf(const Field& field) { return target_->LibraryNameOf(field); }
String ReferenceBase::EmbeddedBaseName(std::int32_t index) {
  return target_->EmbeddedBaseName(index);
}
void ReferenceBase::GetEmbeddedShortInfo(ShortInfo& out, const String& name) {
  target_->GetEmbeddedShortInfo(out, name);
}
void ReferenceBase::EnableFastAccess(const RecordPattern* pattern) {
  target_->EnableFastAccess(pattern);
}
void ReferenceBase::DisableFastAccess() { target_->DisableFastAccess(); }
void* ReferenceBase::GetFastAccess() { return target_->GetFastAccess(); }

Base* ReferenceBase::CreateEmbedded(const String&, const RecordPattern&) { Unsupported(); }
void ReferenceBase::SetInfo(const BaseInfo&) { Unsupported(); }
std::int32_t ReferenceBase::Write(std::int32_t, Record&) { Unsupported(); }
void ReferenceBase::ToggleDelete(std::int32_t, std::int32_t) { Warn(907); }
void ReferenceBase::SetModified(std::int32_t) { Unsupported(); }

namespace {

bool ReferenceShortInfo(const String& name, ShortInfo& out) {
  const std::string file = Str(name) + BaseTypeExtension(kTypeReference);
  if (!FileExists(file.c_str())) return false;
  std::int32_t type = -1;
  std::string target;
  if (!ReadReferenceFile(file, type, target)) return false;
  const std::string container = target.substr(0, target.find(','));
  const bool present = type >= 0 && type < kNumBaseTypes && type != kTypeReference &&
                       !target.empty() &&
                       FileExists((container + BaseTypeExtension(type)).c_str());
  if (!present) {
    out.text = Own(" Base not present now!   Reference to: " + target);
    out.count = -1;
    return true;
  }
  ShortInfo inner;
  GetShortInfo(type, Own(target), inner);
  std::string text = Str(inner.text);
  text += text.empty() ? " -   Reference to: " : "   Reference to: ";
  text += target;
  if (text.size() > 65520) text.resize(65520);
  out.text = Own(text);
  out.count = inner.count;
  return true;
}

}  // namespace

void RegisterReferenceBase() {
  BaseFormat f{};
  f.open = [](const String& name) -> Base* { return new ReferenceBase(name); };
  f.create = nullptr;  // made only by the open dispatch
  f.shortInfo = ReferenceShortInfo;
  SetBaseFormat(kTypeReference, f);
}

}  // namespace ludrex
