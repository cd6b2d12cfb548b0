// Maintenance of the libraries of a native base: renumbering one library by a map (merging
// entries), removing empty library records and compressing the libraries to the records the
// games use. Each builds the new libraries in a fresh native base at a temporary name and
// rewrites the base's own records to the new numbers only after every library copy succeeded.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/string.h"

namespace ludrex {

class Base;

// Renumbers library (an embedded base of base) by map (one entry per library record: negative
// or the record's own number keeps it, another number merges it into that record; a chain of
// merges ends at its first kept record). Returns the new base's name, or an empty text when the
// library is not base's or the copy failed or was stopped (base unchanged, the new base erased).
// A map entry outside the library, or a ring of merges, raises 903 before anything changes.
String MultiChange(Base* base, Base* library, const std::int32_t* map);

// Removes from every library of base the records whose fields are all empty (references to them
// become -1). Returns the new base's name as MultiChange does.
String KillEmptyLibRecs(Base* base);

// Compresses every library of base to the records its games refer to, in the order of first use.
// Native bases take the bulk path (the games read twice, only their library fields, and written
// only where a number changes); other bases the record-by-record pass.
String LibraryCompress(Base* base);
// The record-by-record pass alone (for every base type).
String LibraryCompressByRecords(Base* base);

}  // namespace ludrex
