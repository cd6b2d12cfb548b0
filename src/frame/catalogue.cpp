#include "frame/catalogue.h"

#include "frame/error.h"

namespace ludrex {
namespace {

struct BaseTypeEntry {
  std::uint32_t longNameCode;
  const char* shortName;
  const char* extension;
  int flags;
};

// Bits 1-3 of the flags mark the types that can be created (0 and 2); bit 4 types 0, 1 and 5;
// bits 5 and 6 type 0 alone. The library hands them to the host and never reads them.
constexpr BaseTypeEntry kTypes[kNumBaseTypes] = {
    {934, "QX Win", ".kvx", 127},       {935, "QX DOS", ".bfi", 17}, {936, "PGN", ".pgn", 15},
    {937, "CB .cbf", ".cbf", 1},        {938, "CD ref", ".ror", 1},  {944, "CB .cbh", ".cbh", 17},
    {2110, "Compressed .zip", ".zip", 1},
};

const BaseTypeEntry* Lookup(int type) {
  if (type >= kNumBaseTypes) {
    ReportFatal(901);
    return nullptr;
  }
  return type < 0 ? nullptr : &kTypes[type];
}

}  // namespace

const char* BaseTypeLongName(int type) {
  const BaseTypeEntry* e = Lookup(type);
  return e != nullptr ? MessageTextPtr(e->longNameCode) : "";
}

const char* BaseTypeShortName(int type) {
  const BaseTypeEntry* e = Lookup(type);
  return e != nullptr ? e->shortName : "";
}

const char* BaseTypeExtension(int type) {
  const BaseTypeEntry* e = Lookup(type);
  return e != nullptr ? e->extension : "";
}

int BaseTypeFlags(int type) {
  const BaseTypeEntry* e = Lookup(type);
  return e != nullptr ? e->flags : 1;
}

}  // namespace ludrex
