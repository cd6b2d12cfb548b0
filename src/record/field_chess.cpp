#include "record/field_chess.h"

#include <cstring>

#include "frame/error.h"

namespace ludrex {

void ChessField::Assign(const Field& other) {
  if (other.TypeCode() != TypeCode()) Refuse();
  const auto& o = static_cast<const ChessField&>(other);
  if (&o == this) return;
  raw_.Clear();
  raw_.Append(o.raw_.Data(), o.raw_.Count());
}

ByteBlock ChessField::GetKey() const {
  ByteBlock key;
  key.SetCount(static_cast<std::int64_t>(raw_.Count()) + 1);
  if (raw_.Count() > 0)
    std::memcpy(key.Data(), raw_.Data(), static_cast<std::size_t>(raw_.Count()));
  key.Data()[raw_.Count()] = 0;
  ApplyDescending(key.Data(), key.Count());
  return key;
}

std::int32_t ChessField::PutKey(std::uint8_t* out, std::int32_t room) const {
  std::int32_t need = raw_.Count() + (RawMode() ? 0 : 1);
  if (room < need) return -need;
  if (raw_.Count() > 0) std::memcpy(out, raw_.Data(), static_cast<std::size_t>(raw_.Count()));
  if (!RawMode()) out[raw_.Count()] = 0;
  ApplyDescending(out, need);
  return need;
}

int ChessField::CompareTo(const Field& other) const {
  CheckSameType(other);
  const auto& o = static_cast<const ChessField&>(other);
  return CompareBytes(raw_.Data(), raw_.Count(), o.raw_.Data(), o.raw_.Count()) == 0 ? 0 : -1;
}

String ChessField::ToText() const { Refuse(); }

void ChessField::Pack(std::int32_t baseType, const String&, ByteBlock& out) {
  CheckBaseType(baseType);
  if (baseType != kNativeBase) Raise(805);
  return SetBytes(out, raw_.Data(), raw_.Count());
}

void ChessField::Unpack(std::int32_t baseType, const std::uint8_t* bytes, std::int32_t length,
                        const String&) {
  CheckBaseType(baseType);
  raw_.Clear();
  if (baseType != kNativeBase) Raise(805);
  if (bytes != nullptr && length > 0) raw_.Append(bytes, length);
}

}  // namespace ludrex
