// The game container: one game as a sequence of chess elements (moves, variation marks,
// annotations, set-up positions), its PGN move-text writer and its tolerant PGN move-text reader.
//
// Order of use: GameCreate once; to fill, GameClear, then GameAppend calls or one GameReadPgn,
// then GameFinish; to read, GameRewind, then GameNext until it returns 0.
//
// Conventions shared with the rest of the library:
//  - a square is one byte, rank * 16 + file (a1 = 0x00, h1 = 0x07, a8 = 0x70, h8 = 0x77);
//  - piece kinds: 0 none, 1 pawn, 2 knight, 3 bishop, 4 rook, 5 queen, 6 king (letters " PNBRQK");
//  - a board is 128 signed bytes indexed by square: +kind White, -kind Black, 0 empty; the bytes
//    whose index has bit 3 set lie off the board and are ignored;
//  - the state word of a set-up position is described in movegen/position.h (setup_state): bit 0
//    is the side to move (1 Black); bits 16-19 castling rights; bits 20-23 en passant; bits 1-15
//    the move counters.
//
// Every function accepts a null game and then does nothing (and returns 0). None of them
// allocates per move: storage grows geometrically and is kept across GameClear.
#pragma once

#include <cstdint>

namespace ludrex {

// Element kinds (ChessElement::kind).
constexpr std::uint8_t kElementMove = 1;
constexpr std::uint8_t kElementVariationStart = 2;
constexpr std::uint8_t kElementVariationEnd = 3;
constexpr std::uint8_t kElementAnnotation = 4;
constexpr std::uint8_t kElementSetup = 5;

// The first byte of an annotation tells what follows:
//   2  the text of a move symbol or NAG, as "$" and the number ("$14"); the symbols ! ? !! ?? !?
//      ?! are read as "$1" ... "$6"
//   3  the same for the codes 22 and 24 ("$22", "$24")
//   4  the text of a comment
//   9  alone: a mark with no text
// Annotations of any other form are kept and written back unchanged all the same.
constexpr std::uint8_t kAnnotationSymbol = 2;
constexpr std::uint8_t kAnnotationDosSymbol = 3;
constexpr std::uint8_t kAnnotationComment = 4;
constexpr std::uint8_t kAnnotationMark = 9;

// from = to = kNullSquare (and piece 0) is a null move.
constexpr std::uint8_t kNullSquare = 0xFF;

// One element, passed by address. 20 bytes on a 32-bit target (pointers widen on 64 bits).
//   kind 1 (move): piece = kind of the piece after the move (the new piece for a promotion),
//     from / to squares; castling is the king's move of two files (e1 -> g1).
//   kind 2, 3: start / end of a variation. A variation is an alternative to the move just
//     before it: it starts from the position before that move; after its end play goes on
//     from the position after that move. Several variations may follow one another.
//   kind 4: count bytes at bytes (see the annotation types above). An annotation before the
//     first move is a comment on the game's start.
//   kind 5: a set-up position: board (128 bytes) and state. When it is the first element the
//     game starts from it; later it replaces the current position.
// The pointers that GameNext hands out point into the game and stay valid while the game is
// unchanged (until the next GameClear, GameAppend or GameReadPgn, or GameDestroy).
struct ChessElement {
  std::uint8_t kind;
  std::uint8_t piece;
  std::uint8_t from;
  std::uint8_t to;
  std::uint32_t count;
  const std::uint8_t* bytes;
  const std::int8_t* board;
  std::uint32_t state;
};
static_assert(sizeof(void*) != 4 || sizeof(ChessElement) == 20, "the element is 20 bytes");

class Game;

// A new empty game (the argument is reserved and ignored).
Game* GameCreate(int reserved = 0);
// Releases the game and everything it handed out.
void GameDestroy(Game* game);
// Removes every element; the game becomes empty.
void GameClear(Game* game);
// Sets the reading cursor to the first element. Returns nonzero when the game begins with a
// set-up position (kind 5).
int GameRewind(Game* game);
// Fills *element with the element at the cursor and advances, returning nonzero; returns 0 at
// the end (and leaves *element untouched). Fields that do not belong to the element's kind are
// 0 / null.
int GameNext(Game* game, ChessElement* element);
// Appends a copy of *element and of the annotation bytes and board it points to; the caller
// keeps its buffers. Elements are stored as given (no chess legality is checked here); a null
// bytes pointer counts as no bytes, a null board as an empty board.
void GameAppend(Game* game, const ChessElement* element);
// Marks the end of a series of appends; the game is then complete for reading.
void GameFinish(Game* game);

// The PGN move text of the whole game in *text (owned by the game, NUL-terminated, valid until
// the next call on this game) and its length in *length. Lines end with CR LF and are shorter
// than 80 characters (only the [FEN] line of an overfull set-up board can be longer); the last
// line has no line end and leaves room for " 1/2-1/2" (else the text ends with CR LF). The text
// begins with a line end (it goes after the tag lines of a game, which it thus separates from
// the moves); a game starting from a set-up position begins instead with the lines
// [SetUp "1"] and [FEN "..."] and a line end. Moves are SAN with minimal disambiguation, '+' and
// '#', "=Q", "O-O" / "O-O-O", "--" for a null move; move numbers "12." and "12..." (Black's number
// after the start, a comment, a set-up or a variation mark); NAGs "$14" (a symbol $1..$6 right
// after a move as ! ? !! ?? !? ?!); comments "{...}", broken at blanks; variations "( ... )". No
// game termination marker is written.
//
// Every element comes back through GameReadPgn unchanged, with these exceptions: annotations
// that plain PGN cannot hold (a comment with '}' or a line end, any other type byte, ...) are
// written as a comment "{\#...}" whose text holds the exact bytes, with \\ \} \n \r and \xHH
// escapes; a set-up position that is not the first element as "{\@<FEN>}"; a move that is not
// legal where it stands, and every later move of its line, in long notation ("Ng1-f3"), which
// the reader then stops at; a variation end without a start is left out. The state word comes
// back normalised (reserved bits 0; castling rights without their king and rook, and an
// en-passant file no pawn can use, dropped).
void GameWritePgn(Game* game, char** text, int* length);

// Appends the elements of the PGN move text of length bytes (it never reads outside them).
// Accepted: SAN with or without 'x', '+', '#'; long algebraic (e2e4, e2-e4, Ng1-f3, e7e8q);
// O-O, 0-0, O-O-O, 0-0-0; promotions e8=Q, e8Q, e8(Q); null moves -- and Z0; move numbers
// "12." and "12..."; NAGs $n and ! ? !! ?? !? ?! (and +- -+ += =+ +/- -/+ = as $18 $19 $14 $15
// $16 $17 $10); comments {...} (a line end inside reads as one blank) and ; to the end of the
// line; lines starting with % (skipped); nested variations; tag lines before the first move,
// of which [FEN "..."] gives a set-up position and the rest are skipped; a result (1-0, 0-1,
// 1/2-1/2, *) ends the game, and so does a tag line after the moves. A comment that is not
// closed runs to the end of the text; ')' without '(' is skipped; other stray characters are
// skipped. The reader stops at the first move it cannot resolve (not legal, ambiguous, not a
// move) or an unreadable FEN, keeping everything read before it; variations still open when
// it stops or when the text ends are closed, so the elements always nest.
// Returns true when the text was read to its end (or its result), false when it stopped early.
bool GameReadPgn(Game* game, const char* bytes, int length);

// Appends the elements of a ChessBase ".cbh" game body: the game's record of the move file
// (".cbg": flags, 24-bit size, an optional set-up position, the translated move codes) and,
// when length goes beyond that record, the game's record of the annotation file (".cba"),
// whose texts and symbols become annotations. It never reads outside the length bytes. The
// moves read before a code it cannot follow (a piece that is not there, a code not in use, an
// encoding it does not know) are kept, with every variation closed.
// Returns true when the body was read to its end.
bool GameReadCbh(Game* game, const std::uint8_t* bytes, int length);

}  // namespace ludrex
