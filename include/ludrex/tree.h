/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * The per-base opening tree: two files beside the base (".td" and ".ti" followed by the digit of
 * the base type) holding a trie of the main lines of all games, and the position statistics
 * answered through it. Errors: 907 the base cannot carry a tree, 923 a game longer than the
 * build's buffer, 924 more than 16,777,215 games, 1020 damaged tree files, 12 an item number
 * out of range. */
#ifndef LUDREX_TREE_H
#define LUDREX_TREE_H

#ifdef __cplusplus
extern "C" {
#endif

/* A move list of the move generator: the line from the start position to the position asked
 * for (closed by the move 0, 255, 255 when the games go on below it). */
typedef struct LudrexMoveList LudrexMoveList;
typedef struct LudrexPosStat LudrexPosStat;

/* One line of statistics: the line, then the numbers of games by result code 0-3. */
typedef struct PosStatItem {
  LudrexMoveList* line;
  uint32_t counters[4];
} PosStatItem;

/* Builds both tree files (three passes with progress; a stop leaves no tree files). Returns the
 * base, null on failure. */
LUDREX_API LudrexBase* LUDREX_CDECL Base_BuildTree(LudrexBase* base);
/* 1 when both files exist with the right format text, 0 when one is missing, -1 when the text
 * differs. */
LUDREX_API int LUDREX_CDECL Base_CheckTree(LudrexBase* base);
/* Deletes both files (a missing file is no error). Returns the base, null on failure. */
LUDREX_API LudrexBase* LUDREX_CDECL Base_DeleteTree(LudrexBase* base);
/* The statistics of the games of in (null: all) that reach the position: board, 128 signed bytes
 * by 0x88 square (a1 = 0, h8 = 0x77; +kind White, -kind Black, 1 pawn .. 6 king), value 1 White
 * to move, 2 Black, 0 or 3 either. out (may be null) gets the games found. Answered through the
 * tree, else by replaying every game of in. Null on failure; free with PosStat_Delete. */
LUDREX_API LudrexPosStat* LUDREX_CDECL Base_GetPositionStats(LudrexBase* base, LudrexSubset* in,
                                                             LudrexSubset* out,
                                                             const int8_t* board, int32_t value);
LUDREX_API int LUDREX_CDECL PosStat_GetPrevCount(LudrexPosStat* stats);
/* Item i (0 .. count - 1; otherwise error 12 and null). Valid until PosStat_Delete. */
LUDREX_API PosStatItem* LUDREX_CDECL PosStat_GetPrevItem(LudrexPosStat* stats, int i);
LUDREX_API void LUDREX_CDECL PosStat_Delete(LudrexPosStat* stats);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) && defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PosStatItem) == 20, "statistics item is 20 bytes");
static_assert(offsetof(PosStatItem, counters) == 4, "layout");
#elif defined(__cplusplus)
static_assert(sizeof(PosStatItem) == sizeof(void*) + 16, "a pointer, then four counters");
static_assert(offsetof(PosStatItem, counters) == sizeof(void*), "layout");
#endif

#endif
