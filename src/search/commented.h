// Narrows a subset of a base to the games whose game score carries an annotation.
#pragma once

#include <cstdint>

namespace ludrex {

class Base;
class Subset;

// Returns the number of games kept.
std::int32_t SearchCommented(Base& base, Subset& subset);

}  // namespace ludrex
