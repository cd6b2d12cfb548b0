// The per-base opening tree: two files beside the base holding a trie of the main lines of all
// its games.
//
// Data file (base path without extension + ".td" + type digit): 64 bytes of the text
// "Tallowmerecraft 4.0 database.", 64 bytes of "\nKorvanex Tree format. Version 1.1" (both padded
// with zeros), the longest key of the build (u32: main line plus the result byte), then the trie
// stream from offset 132: the depth-first serialization of the trie in key order. A node is one
// whole move code, preceded by a branch header (0xE7, then two plain u32: the offset where the
// next sibling's code begins and the number of games under the node) when it has a later
// sibling; 0xED ends a game's line; 0xE8 ends the subtree of a node with a branch header, and its
// next sibling's code follows. Every stream byte but the two fields of a branch header is stored
// scrambled: byte b at file offset p as T[(b + p) mod 256], T the tree byte table.
//
// Index file (".ti" + digit): one u32 per game in the order of the game end marks: the result
// code in bits 24-31, the record number in bits 0-23.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ludrex {

class Array;
class Base;

namespace tree {

constexpr std::uint32_t kTreeHeaderSize = 132;
constexpr std::uint8_t kBranchMark = 0xE7;
constexpr std::uint8_t kNextSiblingMark = 0xE8;
constexpr std::uint8_t kGameEndMark = 0xED;
constexpr std::int32_t kMaxTreeGames = 16777215;
extern const char kTreeFormatText[];  // the text at offset 64

// The tree byte table T (a permutation of 0-255) and its inverse.
const std::uint8_t* TreeByteTable();
const std::uint8_t* TreeByteInverse();
// Builds both (idempotent; start-up calls it once).
void BuildTreeByteTables();

// The name of a tree file of base: kind 'd' (data) or 'i' (index); alternate: from the base's
// alternate path.
std::string TreeFileName(Base& base, char kind, bool alternate);

// The key of a game for the tree: its main line's move codes and its result byte; a game that
// starts from a set-up position has the result byte alone. nativeBytes are the game score's
// native bytes.
std::vector<std::uint8_t> TreeKey(const std::uint8_t* nativeBytes, std::int32_t length,
                                  std::uint8_t result);

// The shared tree operations of the base interface.
int CheckTree(Base& base);
void BuildTree(Base& base);
void DeleteTree(Base& base);
Array* OpenTreeData(Base& base);
Array* OpenTreeIndex(Base& base);

// Installs the operations above as every base's defaults.
void InstallTreeOperations();

}  // namespace tree
}  // namespace ludrex
