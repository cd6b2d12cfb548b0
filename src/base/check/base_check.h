// The check of a native base's files and the repair that copies the records that passed into
// another base.
#pragma once

#include <cstdint>

#include "storage/string.h"

namespace ludrex {

class Base;
class Subset;

struct CheckOptions {
  bool showProgress = true;
  bool checkLibraries = true;
};

// Checks the native base name (a path without extension) by reading its files directly, without
// opening it as a base. Every finding goes as one line (CR LF, then the message text) to the log
// logName, or, when it is null, to "Test.log" in the program's directory. subset, when given,
// loses the base's record numbers and then receives the records that passed. Returns 1 when the
// structure is sound and every record passed, else 0. A progress step that asks to stop ends the
// record check ("Проверка прервана"). A file that cannot be read is reported through Error and
// ends the check as a critical finding.
int CheckNativeBase(const String& name, const char* logName, Subset* subset,
                    const CheckOptions& options);

// Flags of the repair: leave out the games whose moves field is empty (bit 0, with bit 1 clear).
constexpr std::int32_t kRepairSkipEmpty = 1;
constexpr std::int32_t kRepairSkipMask = 3;

// Copies the records of source (the members of subset in ascending order, else all) to the end
// of destination, with their library records; returns the number of source records walked. A
// record that cannot be read has been reported through Error and is left out.
std::int32_t RepairBase(Base* source, Base* destination, Subset* subset, std::int32_t flags);

// The same from a base opened by name and type, without a subset; the source is closed again.
// Any failure shows the notice 2101 and gives -1.
std::int32_t RepairBaseByName(const String& name, std::int32_t type, Base* destination,
                              std::int32_t flags);

}  // namespace ludrex
