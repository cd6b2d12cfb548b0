// LibRefField: library binding and loading, keys, encodings and its criteria tests.
#include "frame/error.h"
#include "record/field_classes.h"
#include "record/field_util.h"
#include "record/library_access.h"

namespace ludrex {

String LibraryNameFieldFor(std::int32_t meaning);  // field_string.cpp

namespace {

constexpr std::uint32_t kNoRecord = 0xFFFFFF;

LibraryAccess& Access() {
  LibraryAccess* a = GetLibraryAccess();
  if (a == nullptr) Raise(805);
  return *a;
}

const RecordSetView* SetOf(Field* criterion) {
  if (criterion == nullptr) return nullptr;
  return static_cast<const RecordSetView*>(criterion->GetBody());
}

}  // namespace

const RecordPattern& LibRefField::LibraryPatternOf(const FieldSpec& spec) {
  static const RecordPattern kNone;
  return spec.library != nullptr ? *spec.library : kNone;
}

LibRefField::LibRefField(const FieldSpec& spec)
    : Field(spec), libName_(String::Copy("", 0)), record_(LibraryPatternOf(spec)) {}

LibRefField::~LibRefField() {
  try {
    CloseLibrary();
  } catch (...) {
    // A failure to give the library back has been reported; the field goes anyway.
  }
}

void LibRefField::CloseLibrary() {
  if (library_ == nullptr) return;
  Base* lib = library_;
  library_ = nullptr;
  if (LibraryAccess* a = GetLibraryAccess()) a->Close(lib);
}

void LibRefField::Bind(std::int32_t type, const String& name) {
  if (type == libType_ && name == libName_) return;
  libType_ = type;
  libName_ = String::Copy(name.Text(), name.Length());
  CloseLibrary();
}

Base* LibRefField::OpenLibrary() {
  if (library_ == nullptr) library_ = Access().Open(libType_, libName_);
  return library_;
}

void LibRefField::SetInt(std::int32_t value) {
  recordNo_ = value;
  if (IndexOnly()) return;
  if (value < 0) {
    SetEmpty();
    return;
  }
  Base* lib = OpenLibrary();
  LibraryAccess& a = Access();
  if (value < a.RecordCount(lib)) {
    a.Read(lib, value, record_);
  } else {
    SetEmpty();
  }
}

void LibRefField::SetEmpty() {
  if (!IndexOnly()) record_.Clear();
  recordNo_ = -1;
}

int LibRefField::IsEmpty() const {
  if (IndexOnly()) return recordNo_ == -1;
  return record_.IsEmpty();
}

void LibRefField::Assign(const Field& other) {
  if (other.TypeCode() == kStringType) {
    SetEmpty();
    if (IndexOnly()) return;
    String name = LibraryNameFieldFor(Meaning());
    Field* target = record_.FindField(name);
    if (target == nullptr || target->TypeCode() != kStringType) Refuse();
    target->SetText(static_cast<const StringField&>(other).Text());
    return;
  }
  if (other.TypeCode() != kLibRefType) Refuse();
  const auto& o = static_cast<const LibRefField&>(other);
  if (IndexOnly()) {
    recordNo_ = o.recordNo_;
    return;
  }
  Bind(o.libType_, o.libName_);
  SetInt(o.recordNo_);
}

ByteBlock LibRefField::GetKey() const {
  ByteBlock key;
  if (IndexOnly()) {
    SetLittleEndian(key, static_cast<std::uint32_t>(recordNo_), 4);
  } else {
    key = record_.GetKey();
  }
  ApplyDescending(key.Data(), key.Count());
  return key;
}

std::int32_t LibRefField::PutKey(std::uint8_t* out, std::int32_t room) const {
  std::int32_t n;
  if (keyTable_ != nullptr || IndexOnly()) {
    if (room < 4) return -4;
    if (keyTable_ != nullptr) {
      std::uint32_t v = recordNo_ >= 0 && recordNo_ < keyTableCount_
                            ? static_cast<std::uint32_t>(keyTable_[recordNo_])
                            : 0xFFFFFFFFu;
      out[0] = static_cast<std::uint8_t>(v >> 24);
      out[1] = static_cast<std::uint8_t>(v >> 16);
      out[2] = static_cast<std::uint8_t>(v >> 8);
      out[3] = static_cast<std::uint8_t>(v);
    } else {
      auto v = static_cast<std::uint32_t>(recordNo_);
      for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    n = 4;
  } else {
    n = record_.PutKey(out, room);
    if (n < 0) return n;
  }
  ApplyDescending(out, n);
  return n;
}

int LibRefField::CompareTo(const Field& other) const {
  CheckSameType(other);
  const auto& o = static_cast<const LibRefField&>(other);
  // An index-only field holds no library record: it compares by record number.
  if (IndexOnly() || o.IndexOnly()) return detail::Sign(recordNo_, o.recordNo_);
  return record_.CompareTo(o.record_);
}

String LibRefField::ToText() const { Refuse(); }

void LibRefField::Pack(std::int32_t baseType, const String& param, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType != kNativeBase) Raise(805);
  if (!IndexOnly()) {
    Bind(kNativeBase, param);
    if (record_.IsEmpty()) {
      recordNo_ = -1;
    } else {
      Base* lib = OpenLibrary();
      LibraryAccess& a = Access();
      recordNo_ = a.AppendFind(lib, record_);
    }
  }
  std::uint32_t v = recordNo_ >= 0 && recordNo_ <= static_cast<std::int32_t>(kNoRecord)
                        ? static_cast<std::uint32_t>(recordNo_)
                        : kNoRecord;
  return SetLittleEndian(out, v, 3);
}

void LibRefField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                         const String& param) {
  CheckBaseType(baseType);
  length = detail::Usable(bytes, length);
  std::uint32_t v = ReadUnsignedLE(bytes, length);
  std::int32_t n;
  switch (baseType) {
    case kNativeBase:
      n = v == kNoRecord ? -1 : static_cast<std::int32_t>(v);
      break;
    case kDosBase:
      n = static_cast<std::int32_t>(v) - 1;
      break;
    case kCbhBase:
      n = static_cast<std::int32_t>(v);
      break;
    default:
      Raise(805);
  }
  if (!IndexOnly()) Bind(baseType, param);
  SetInt(n);
}

int LibRefField::TestNumber(const RecordSetView* set, std::int32_t n, bool everyRule) const {
  if (set == nullptr) return 1;
  if (n >= 0) return set->Contains(n) ? 1 : 0;
  if (everyRule) return set->HoldsAll() ? 1 : 0;
  return 0;
}

int LibRefField::Matches(const Field* criterion) const {
  if (criterion == nullptr) return 1;
  const RecordSetView* set = SetOf(const_cast<Field*>(criterion));
  if (set == nullptr) Raise(805);
  return TestNumber(set, recordNo_, true);
}

void LibRefField::SetCriterion(Field* criterion) {
  Field::SetCriterion(criterion);
  setA_ = SetOf(criterion);
  setB_ = nullptr;
}

void LibRefField::SetCriterionA(Field* criterion) {
  Field::SetCriterionA(criterion);
  setA_ = SetOf(criterion);
}

void LibRefField::SetCriterionB(Field* criterion) {
  Field::SetCriterionB(criterion);
  setB_ = SetOf(criterion);
}

// Decodes only the record number and tests it against the criteria's sets; neither loads the
// library record nor changes the field.
int LibRefField::UnpackAndTest(std::int32_t baseType, const std::uint8_t* bytes,
                               std::int32_t length, const String&) {
  CheckBaseType(baseType);
  length = detail::Usable(bytes, length);
  std::int32_t n;
  bool everyRule = false;
  switch (baseType) {
    case kNativeBase: {
      std::uint32_t v = ReadUnsignedLE(bytes, length < 3 ? length : 3);
      n = v == kNoRecord ? -1 : static_cast<std::int32_t>(v);
      break;
    }
    case kDosBase:
      n = static_cast<std::int32_t>(ReadUnsignedLE(bytes, length)) - 1;
      everyRule = true;
      break;
    case kCbhBase: {
      std::uint32_t v = ReadUnsignedLE(bytes, length);
      n = v == kNoRecord ? -1 : static_cast<std::int32_t>(v);
      break;
    }
    default:
      Raise(805);
  }
  if (n < 0) n = -1;
  resultA_ = TestNumber(critA_ != nullptr ? setA_ : nullptr, n, everyRule);
  resultB_ = TestNumber(critB_ != nullptr ? setB_ : nullptr, n, everyRule);
  return resultB_;
}

int LibRefField::UnpackNativeAndTest(const std::uint8_t* bytes, std::int32_t length) {
  String empty(static_cast<const char*>(nullptr));
  return UnpackAndTest(kNativeBase, bytes, length, empty);
}

}  // namespace ludrex
