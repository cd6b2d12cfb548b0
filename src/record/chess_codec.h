// The byte encodings of a game score: the native encoding (base type 0, both ways), the DOS
// encoding (base type 1, decoding only) and the operations that trees and bases run directly
// on native bytes.
//
// Native encoding, in short: one code per move, naming a piece-list slot (role) of the side to
// move and a displacement from the code table; 0xCF/0xD0 castling, 0xD1 promotion (code, then
// the slot and the new kind), 0xD2 en passant, 0xD3 null move, 0xD4-0xE5 long move (a role and
// a displacement byte), 0xE6 set-up position (36 slots, 32-bit state), 0xE7/0xE8 variation
// start/end, 0xE9-0xEC annotations; 0xED and above end the game.
//
// Variations: a variation is the alternative to the move just before it (the game container's
// convention). At 0xE7 both sides therefore save their state and go back to the position before
// that last move; at 0xE8 they return to the saved state, so several variations of one move can
// follow one another.
//
// Decoding never reads outside the bytes it is given. A code cut short by the end of the bytes
// stops decoding: the elements before it are kept and error 812 is raised.
#pragma once

#include <cstdint>

#include "movegen/game.h"
#include "record/field.h"
#include "storage/string.h"

namespace ludrex {

// Builds the code tables (idempotent; CPP_Startup calls it once, every codec also ensures it).
void BuildGameScoreTables();

// Appends the native encoding of the whole game to out (out is cleared first). Raises 807 (a
// set-up position with too many pieces of one kind), 808 (variation end without a start), 811
// (a promotion by a displacement that no code holds), 812 (unknown element kind) and 813
// (variations still open at the end).
void EncodeNativeGame(Game* game, ByteBlock& out);

// Appends the elements of native bytes to the game (the caller clears it before and finishes it
// after). Stops at the end of the bytes or at a byte of 0xED or more. Raises 808 for a
// variation end without a start and 812 for a code cut short, after appending what was read.
void DecodeNativeGame(const std::uint8_t* bytes, std::int32_t length, Game* game);

// The comment reader of the DOS base: when a DOS game's comment reference is not 0, the DOS
// decoder hands every move to it instead of appending the move itself (move != null), and calls
// it once more after the last move (move == null). It appends the move and any comments that go
// with it. param is the field's Param in that base.
using DosCommentReader = void (*)(std::uint32_t reference, const String& param, Game* game,
                                  const ChessElement* move);
void SetDosCommentReader(DosCommentReader reader);
DosCommentReader GetDosCommentReader();

// Appends the elements of a DOS game body (4-byte comment reference, then the move codes). Stops
// at the end of the bytes or at 0xFF; never reads outside the bytes.
void DecodeDosGame(const std::uint8_t* bytes, std::int32_t length, Game* game, const String& param);

// The length of the native code at bytes[0] as the byte-stepping operations count it (a
// promotion 0xD1 counts 2: its third byte then reads as a 1-byte code); 0 for a byte of 0xED or
// more, or a code that runs past n.
std::int32_t NativeCodeLength(const std::uint8_t* bytes, std::int32_t n);

// The number of leading bytes, at most n, that two native encodings share as whole codes (a
// promotion counting 3 bytes here); a difference inside a code gives that code's offset. Both
// a and b must hold n bytes.
std::int32_t NativeCommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::int32_t n);

// From position (just after a 0xE7), the position just after the matching 0xE8 (nested
// variations counted); n when the bytes end first.
std::int32_t NativeSkipVariation(const std::uint8_t* bytes, std::int32_t n, std::int32_t position);

// Rewrites the bytes in place keeping only the move codes and set-up positions of the main line
// (variations and annotations removed; a code cut short and everything from a byte of 0xED on
// dropped). Returns the new length.
std::int32_t NativeMainLine(std::uint8_t* bytes, std::int32_t n);

// The code table of the native encoding: for each table code (0..206) its piece-list role and
// its displacement for White (side 0) and Black (side 1); the start piece list of 36 slots.
struct NativeCodeTable {
  const std::uint8_t* role;      // [207]
  const std::uint8_t* delta[2];  // [207] each
  const std::uint16_t* startList;  // [36]
};
NativeCodeTable GetNativeCodeTable();

// The packed text of the DOS base (4-bit values, low half first) as a 1251 text.
String DecodeDosPackedText(const std::uint8_t* bytes, std::int32_t length);

// The three-letter DOS country code of number 0..29 ("AUT" ... "YUG"); null otherwise.
const char* DosCountryCode(std::int32_t number);

}  // namespace ludrex
