// Base_Search: filters a subset of a base in place to the games that satisfy two criteria
// records, A and B (B an alternative to A; conditions given only in A apply to both).
#pragma once

#include <cstdint>

namespace ludrex {

class Base;
class Field;
class Record;
class Subset;

// Narrows subset (positions in the base's key order for a sorted base, else record numbers) to
// the games found; b may be null. A position criterion that the base's opening tree answers is
// taken out of a (destroyed) and the subset intersected with the tree's answer first. Returns
// the number of games found. nativeTests false makes every field decode through its hook even
// where a test compiled for native bytes would do (the tests compare both ways).
std::int32_t SearchBase(Base& base, Subset& subset, Record* a, Record* b, bool nativeTests = true);

// The position shortcut: given the base and a position criterion of A, narrows subset to the
// games holding the position and returns true when the base's tree can answer that criterion;
// returns false (subset untouched) otherwise. Installed by the tree layer; none until then.
using PositionShortcut = bool (*)(Base& base, Field& criterion, Subset& subset);
void SetPositionShortcut(PositionShortcut shortcut);

}  // namespace ludrex
