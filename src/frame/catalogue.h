// The catalogue of base types: a fixed list of seven, named by index everywhere. The index
// selects the extension that completes a base name, the class that opens the base, and the names
// and flags shown to the user. A type is never recognised from a file's contents.
#pragma once

#include <cstdint>

namespace ludrex {

constexpr int kNumBaseTypes = 7;

enum CatalogueType : int {
  kTypeNative = 0,
  kTypeDos = 1,
  kTypePgn = 2,
  kTypeCbf = 3,
  kTypeReference = 4,
  kTypeCbh = 5,
  kTypeZip = 6,
};

// Each raises 901 for an index of 7 or more; when the host's error function returns, and for a
// negative index, the names are empty and the flags 1.
const char* BaseTypeLongName(int type);   // from the message table, looked up at each call
const char* BaseTypeShortName(int type);  // "QX Win", "PGN", ...
const char* BaseTypeExtension(int type);  // ".kvx", lower case with its dot
int BaseTypeFlags(int type);

}  // namespace ludrex
