// The keyed position store of the tree index: keys are position keys (qv_key.h), values runs of
// 32-bit entries in which every entry but the last has bit 31 clear and the last has it set.
//
// A store is a pair of files beside a base: a directory file (".fh"/".uh" + type digit) and an
// entries file (".fe"/".ue" + type digit). Form A is the ".fe"/".fh" pair (every position of a
// two-pass build), form B the ".ue"/".uh" pair (transposed positions only); the files of both
// forms are laid out alike:
//
//   entries file:   "LXQVENT1", u64 key count, then the entries sorted by the key's 64-bit hash
//                   and then by the key bytes; an entry is u8 key length, the key, u32 entry
//                   count, the entries (u32 each).
//   directory file: "LXQVDIR1", u32 format 1, u32 bucket bits b, u64 key count, u64 length of the
//                   entries file, then 2^b + 1 u64 offsets into the entries file: bucket k (the
//                   keys whose hash has k as its top b bits) runs from offset k to offset k + 1.
//
// All numbers little-endian. A fetch reads two offsets and one bucket (a few hundred bytes) and
// never scans; a full scan (QvNext) reads the entries file front to back.
//
// Building streams in bounded memory: the builder keeps keys and values in a buffer no larger
// than the store budget; a full buffer is sorted and written as a run to a temporary file, and
// closing the builder merges the runs into the final pair. The value of a key found in several
// runs is the concatenation of its values in the order they were added, so a value keeps the
// order of its references whatever the runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ludrex::qv {

class QvStore;

// Opens the store of form A (".fe"/".fh") or B (".ue"/".uh") at name (the base's path without
// extension) for reading. cacheBytes bounds the read buffer kept between fetches; mode is 1;
// settings holds the base type code (0-6) in its low byte, the digit of the file extensions.
// Null when the pair is missing, unreadable or not a store.
QvStore* QvOpenA(const char* name, std::uint32_t cacheBytes, int mode, std::uint32_t settings);
QvStore* QvOpenB(const char* name, std::uint32_t cacheBytes, int mode, std::uint32_t settings);

// Opens a store of form A or B for filling; storeBudget bounds the builder's memory in bytes
// (at least 64 KiB is used). The files are written on close. Null when the files cannot be
// made.
QvStore* QvOpenBuildA(const char* name, std::uint32_t storeBudget, int typeCode);
QvStore* QvOpenBuildB(const char* name, std::uint32_t storeBudget, int typeCode);

// Closes a store; for a builder, merges what was added into the final pair. False when writing
// failed (the partly written pair is then removed). Null is ignored (true).
bool QvCloseA(QvStore* store);
bool QvCloseB(QvStore* store);

// Build handles: makes key current. 1 when the key was absent (its value is now empty), 0 when
// present. A key that the builder has already written to a run counts as absent: the values of
// one key from several runs are concatenated when the store closes, which gives the same final
// value as a fetch, append and set would have.
int QvInsertKey(QvStore* store, const std::uint8_t* key, std::size_t length);

// The value of key and its length in bytes, or null when the key is absent. The bytes stay valid
// until the next call on the store. On a build handle only keys still in the builder's buffer
// are found.
const std::uint8_t* QvFetch(QvStore* store, const std::uint8_t* key, std::size_t length,
                            std::uint32_t* byteLength);

// Build handles: replaces the value of the current key with byteLength bytes (a multiple of 4).
// False without a current key or on a read handle.
bool QvSetValue(QvStore* store, const void* data, std::uint32_t byteLength);

// Build handles: appends reference (its low 31 bits) to the value of key, the key made current.
// Equal to the insert, fetch, append and set sequence, in constant time.
bool QvAddReference(QvStore* store, const std::uint8_t* key, std::size_t length,
                    std::uint32_t reference);

// Number of keys (on a build handle: of keys added so far, counting a key once per run).
std::uint32_t QvCount(QvStore* store);

// Full scan of a read handle: the value of the next key in store order and its length, null at
// the end (or when the file is damaged). The bytes stay valid until the next call.
const std::uint8_t* QvNext(QvStore* store, std::uint32_t* byteLength = nullptr);

// True when the last read met a damaged file (a fetch or scan then reported absence or the end).
bool QvDamaged(QvStore* store);

}  // namespace ludrex::qv
