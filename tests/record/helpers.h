// Shared helpers of the field and record tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "record/field.h"
#include "record/field_classes.h"
#include "record/pattern.h"
#include "record/record.h"

namespace ludrex::testing {

// Runs stmt, which must raise error code.
#define EXPECT_RAISES(code, stmt)                                  \
  do {                                                             \
    ::ludrex::testing::Capture().errors.clear();                   \
    EXPECT_THROW(stmt, ::ludrex::Failure);                         \
    EXPECT_EQ(::ludrex::testing::LastErrorCode(), unsigned(code)); \
  } while (0)

inline FieldSpec Spec(std::int32_t type, const char* name = "f", const char* param = "",
                      std::uint32_t flags = 0, const RecordPattern* library = nullptr) {
  return FieldSpec(type, String(name), flags, String(param), library);
}

// A library pattern of one name field, for library fields made by Make.
inline const RecordPattern& NameLibrary() {
  static const RecordPattern* p = [] {
    auto* r = new RecordPattern;
    r->Append(Spec(1, "~3"));
    return r;
  }();
  return *p;
}

inline std::unique_ptr<Field> Make(std::int32_t type, const char* param = "",
                                   std::uint32_t flags = 0, const char* name = "f") {
  const RecordPattern* library = type == 0 ? &NameLibrary() : nullptr;
  return std::unique_ptr<Field>(CreateField(Spec(type, name, param, flags, library)));
}

template <class T>
T& As(const std::unique_ptr<Field>& f) {
  return dynamic_cast<T&>(*f);
}

inline std::vector<std::uint8_t> Bytes(const ByteBlock& b) {
  return std::vector<std::uint8_t>(b.Data(), b.Data() + b.Count());
}

inline std::string Str(const ByteBlock& b) {
  return std::string(reinterpret_cast<const char*>(b.Data()), static_cast<std::size_t>(b.Count()));
}

inline std::string Str(const String& s) { return std::string(s.Text(), s.Length()); }

// Unpacks a text as bytes.
inline void UnpackText(Field& f, std::int32_t baseType, const std::string& text,
                       const char* param = "") {
  f.Unpack(baseType, reinterpret_cast<const std::uint8_t*>(text.data()),
           static_cast<std::int32_t>(text.size()), String(param));
}

inline void UnpackBytes(Field& f, std::int32_t baseType, std::vector<std::uint8_t> bytes,
                        const char* param = "") {
  f.Unpack(baseType, bytes.data(), static_cast<std::int32_t>(bytes.size()), String(param));
}

}  // namespace ludrex::testing
