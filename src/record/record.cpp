#include "record/record.h"

#include "frame/error.h"
#include "record/field_classes.h"
#include "record/library_access.h"

namespace ludrex {

Record::Record(const RecordPattern& pattern) { Build(pattern); }

Record::~Record() { Destroy(); }

void Record::Destroy() {
  for (std::int32_t i = 0; i < fields_.Count(); ++i) delete fields_[i];
  fields_.Clear();
  keyIndex_ = -1;
  byName_.clear();
  indexed_ = false;
}

void Record::RemoveField(std::int32_t i) {
  Field* f = fields_[i];
  fields_.Remove(i);
  delete f;
  if (keyIndex_ == i) {
    keyIndex_ = -1;
    for (std::int32_t k = 0; k < fields_.Count(); ++k) {
      if ((fields_[k]->Flags() & kFlagKey) != 0) keyIndex_ = k;
    }
  } else if (keyIndex_ > i) {
    --keyIndex_;
  }
}

void Record::Build(const RecordPattern& pattern) {
  Destroy();
  fields_.SetCount(pattern.Count());
  for (std::int32_t i = 0; i < pattern.Count(); ++i) fields_[i] = nullptr;
  try {
    for (std::int32_t i = 0; i < pattern.Count(); ++i) {
      fields_[i] = CreateField(pattern[i]);
      if ((fields_[i]->Flags() & kFlagKey) != 0) keyIndex_ = i;
    }
  } catch (...) {
    Destroy();
    throw;
  }
}

Field* Record::FindField(const String& name) const {
  constexpr std::int32_t kScanned = 16;  // below this many fields a scan is quicker
  if (fields_.Count() <= kScanned) {
    for (std::int32_t i = 0; i < fields_.Count(); ++i) {
      if (fields_[i]->Name() == name) return fields_[i];
    }
    return nullptr;
  }
  if (!indexed_) {
    byName_.reserve(static_cast<std::size_t>(fields_.Count()));
    for (std::int32_t i = 0; i < fields_.Count(); ++i) {
      const String& n = fields_[i]->Name();
      byName_.emplace(std::string(n.Text(), n.Length()), i);
    }
    indexed_ = true;
  }
  auto it = byName_.find(std::string(name.Text(), name.Length()));
  return it == byName_.end() ? nullptr : fields_[it->second];
}

int Record::IsEmpty() const {
  if (keyIndex_ >= 0) return fields_[keyIndex_]->IsEmpty();
  for (std::int32_t i = 0; i < fields_.Count(); ++i) {
    if (!fields_[i]->IsEmpty()) return 0;
  }
  return 1;
}

void Record::Clear() {
  for (std::int32_t i = 0; i < fields_.Count(); ++i) fields_[i]->SetEmpty();
}

ByteBlock Record::GetKey() const {
  ByteBlock key;
  for (std::int32_t i = 0; i < fields_.Count(); ++i) {
    ByteBlock part = fields_[i]->GetKey();
    key.Append(part.Data(), part.Count());
  }
  return key;
}

std::int32_t Record::PutKey(std::uint8_t* out, std::int32_t room) const {
  std::int32_t total = 0;
  for (std::int32_t i = 0; i < fields_.Count(); ++i) {
    std::int32_t n = fields_[i]->PutKey(out + total, room - total);
    if (n < 0) return n;
    total += n;
  }
  return total;
}

int Record::CompareTo(const Record& other) const {
  std::int32_t n = Count() < other.Count() ? Count() : other.Count();
  for (std::int32_t i = 0; i < n; ++i) {
    const Field& a = *fields_[i];
    const Field& b = *other.fields_[i];
    int c = a.CompareTo(b);
    if (c == 0) continue;
    if (a.Descending() || b.Descending()) return -c;
    return c;
  }
  if (Count() == other.Count()) return 0;
  return Count() < other.Count() ? -1 : 1;
}

RecordPattern Record::Pattern() const {
  RecordPattern p;
  for (std::int32_t i = 0; i < fields_.Count(); ++i) p.Append(fields_[i]->Spec());
  return p;
}

void Record::LinkToBase(Base* base) {
  LibraryAccess* access = GetLibraryAccess();
  for (std::int32_t i = 0; i < fields_.Count(); ++i) {
    if (fields_[i]->TypeCode() != kLibRefType) continue;
    if (access == nullptr) Raise(805);
    auto* f = static_cast<LibRefField*>(fields_[i]);
    String file = access->LibraryFileName(base, f->Name());
    String full = access->SecondFullName(base);
    String full2 = String::Copy(full.Text(), full.Length());
    String comma(",");
    full2.Insert(full2.Length(), comma, 0, 1);
    full2.Insert(full2.Length(), file, 0, file.Length());
    f->Bind(access->BaseType(base), full2);
    f->OpenLibrary();
  }
}

}  // namespace ludrex
