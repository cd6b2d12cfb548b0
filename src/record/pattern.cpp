#include "record/pattern.h"

#include <cstring>

#include "frame/error.h"

namespace ludrex {
namespace {

// Library patterns nest one level in practice; a deeper chain means a damaged or cyclic block.
constexpr int kMaxNesting = 8;

String OwnedCopy(const String& s) { return String::Copy(s.Text(), s.Length()); }

String TextFromHost(const char* text) {
  if (text == nullptr) return String::Copy("", 0);
  String view(text);
  return OwnedCopy(view);
}

char* HostText(const String& s) {
  char* p = static_cast<char*>(MemAlloc(static_cast<std::int64_t>(s.Length()) + 1));
  std::memcpy(p, s.Text(), s.Length());
  p[s.Length()] = 0;
  return p;
}

RecordPattern FromHost(const HostRecordPattern* host, int depth);

FieldSpec SpecFrom(const HostFieldEntry& e, int depth) {
  FieldSpec spec;
  spec.type = e.type;
  spec.name = TextFromHost(e.name);
  spec.flags = static_cast<std::uint32_t>(e.param);
  spec.param = TextFromHost(e.text);
  if (e.type == 0 && e.extra.library != nullptr) {
    spec.library = new RecordPattern(FromHost(e.extra.library, depth + 1));
  }
  return spec;
}

RecordPattern FromHost(const HostRecordPattern* host, int depth) {
  RecordPattern pattern;
  if (host == nullptr) return pattern;
  if (depth > kMaxNesting) Raise(801);
  if (host->count < 0) Raise(14);
  if (host->count > 0 && host->entries == nullptr) Raise(7);
  for (std::int32_t i = 0; i < host->count; ++i) pattern.Append(SpecFrom(host->entries[i], depth));
  return pattern;
}

void FillHost(HostRecordPattern* host, const RecordPattern& pattern) {
  host->count = 0;
  host->entries = nullptr;
  std::int32_t n = pattern.Count();
  if (n == 0) return;
  host->entries = static_cast<HostFieldEntry*>(
      MemAlloc(static_cast<std::int64_t>(n) * static_cast<std::int64_t>(sizeof(HostFieldEntry))));
  std::memset(host->entries, 0, sizeof(HostFieldEntry) * static_cast<std::size_t>(n));
  // Entries are counted as they are completed, so a failure half way frees only what exists.
  for (std::int32_t i = 0; i < n; ++i) {
    const FieldSpec& s = pattern[i];
    HostFieldEntry& e = host->entries[i];
    e.type = s.type;
    e.param = static_cast<std::int32_t>(s.flags);
    host->count = i + 1;
    e.name = HostText(s.name);
    e.text = HostText(s.param);
    if (s.type == 0 && s.library != nullptr) {
      e.extra.library = static_cast<HostRecordPattern*>(MemAlloc(sizeof(HostRecordPattern)));
      e.extra.library->count = 0;
      e.extra.library->entries = nullptr;
      FillHost(e.extra.library, *s.library);
    }
  }
}

}  // namespace

FieldSpec::FieldSpec(std::int32_t type_, const String& name_, std::uint32_t flags_,
                     const String& param_, const RecordPattern* library_)
    : type(type_), name(OwnedCopy(name_)), flags(flags_), param(OwnedCopy(param_)) {
  if (library_ != nullptr) library = new RecordPattern(*library_);
}

FieldSpec::FieldSpec(const FieldSpec& o)
    : type(o.type), name(OwnedCopy(o.name)), flags(o.flags), param(OwnedCopy(o.param)) {
  if (o.library != nullptr) library = new RecordPattern(*o.library);
}

FieldSpec& FieldSpec::operator=(const FieldSpec& o) {
  if (this == &o) return *this;
  RecordPattern* copy = o.library != nullptr ? new RecordPattern(*o.library) : nullptr;
  delete library;
  library = copy;
  type = o.type;
  name = OwnedCopy(o.name);
  flags = o.flags;
  param = OwnedCopy(o.param);
  return *this;
}

FieldSpec::~FieldSpec() { delete library; }

RecordPattern::RecordPattern(const RecordPattern& other) {
  for (std::int32_t i = 0; i < other.Count(); ++i) Append(other[i]);
}

RecordPattern& RecordPattern::operator=(const RecordPattern& other) {
  if (this == &other) return *this;
  RecordPattern copy(other);
  Clear();
  for (std::int32_t i = 0; i < copy.Count(); ++i) Append(copy[i]);
  return *this;
}

RecordPattern::~RecordPattern() { Clear(); }

void RecordPattern::Append(const FieldSpec& spec) {
  auto* copy = new FieldSpec(spec);
  try {
    specs_.Append(copy);
  } catch (...) {
    delete copy;
    throw;
  }
}

void RecordPattern::Clear() {
  for (std::int32_t i = 0; i < specs_.Count(); ++i) delete specs_[i];
  specs_.Clear();
}

FieldSpec SpecFromHost(const HostFieldEntry& entry) { return SpecFrom(entry, 0); }

RecordPattern PatternFromHost(const HostRecordPattern* host) { return FromHost(host, 0); }

HostRecordPattern* PatternToHost(const RecordPattern& pattern) {
  auto* host = static_cast<HostRecordPattern*>(MemAlloc(sizeof(HostRecordPattern)));
  host->count = 0;
  host->entries = nullptr;
  try {
    FillHost(host, pattern);
  } catch (...) {
    DestroyHostPattern(host);
    throw;
  }
  return host;
}

void DestroyHostPattern(HostRecordPattern* p) {
  if (p == nullptr) return;
  for (std::int32_t i = 0; i < p->count && p->entries != nullptr; ++i) {
    HostFieldEntry& e = p->entries[i];
    MemFree(e.name);
    MemFree(e.text);
    if (e.type == 0 && e.extra.library != nullptr) DestroyHostPattern(e.extra.library);
  }
  MemFree(p->entries);
  MemFree(p);
}

}  // namespace ludrex
