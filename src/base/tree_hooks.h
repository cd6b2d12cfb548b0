// The opening-tree operations that every base type shares. They live in the tree layer, above
// the bases; the tree layer installs them here at start-up, and the base interface's default
// slots call them (without them a base has no tree: check gives 0, the rest refuse with 907).
#pragma once

#include <cstdint>

namespace ludrex {

class Array;
class Base;
class Field;
class Subset;

struct TreeOperations {
  int (*check)(Base& base);
  void (*build)(Base& base);
  void (*remove)(Base& base);
  Array* (*openData)(Base& base);
  Array* (*openIndex)(Base& base);
  // Slot 19: the statistics object of a position (through the tree, else by the scan).
  void* (*positionStats)(Base& base, Subset* in, Subset* out, const void* position,
                         std::int32_t value);
  // Slot 20: the games under a place where the criterion holds, intersected with in.
  void (*searchLine)(Base& base, Subset* in, Subset* result, Field* criterion);
};

void SetTreeOperations(const TreeOperations* operations);
const TreeOperations* GetTreeOperations();

}  // namespace ludrex
