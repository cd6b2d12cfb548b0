// The opening-tree operations that every base type shares. They live in the tree layer, above
// the bases; the tree layer installs them here at start-up, and the base interface's default
// slots call them (without them a base has no tree: check gives 0, the rest refuse with 907).
#pragma once

#include <cstdint>

namespace ludrex {

class Array;
class Base;

struct TreeOperations {
  int (*check)(Base& base);
  void (*build)(Base& base);
  void (*remove)(Base& base);
  Array* (*openData)(Base& base);
  Array* (*openIndex)(Base& base);
};

void SetTreeOperations(const TreeOperations* operations);
const TreeOperations* GetTreeOperations();

}  // namespace ludrex
