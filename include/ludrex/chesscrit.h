/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * The game-score criterion (type LUDREX_FIELD_CHESS + LUDREX_CRITERION_BIT): a position that must
 * occur in the game (128 square masks in 0x88 numbering; a square matches when the code of what
 * stands there has a bit in its mask: empty 0x8000, White pawn..king 0x2000..0x0100, Black
 * pawn..king 0x0020..0x0001), material counted over four regions, the side to move, game
 * conditions (length ranges in moves, minimum variations, set-up start, annotations),
 * annotation texts, an event list, a material difference, mirrors and a bishops condition.
 * Accessors on another class of field are refused with error 803; an entry or pair index out of
 * range raises 12, a negative count 14. */
#ifndef LUDREX_CHESSCRIT_H
#define LUDREX_CHESSCRIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Square-mask position on/off, regions on when regionsA or regionsB is not 0, the region flag
 * (region 3 may stand in for region 2), side mask (1 White, 2 Black, 3 either to move) and
 * include-variations; prepares the criterion. */
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetRestInfo(LudrexField* crit, int positionOn,
                                                        int regionsA, int regionFlag,
                                                        int regionsB, int sideMask,
                                                        int includeVariations);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_GetRestInfo(LudrexField* crit, int* positionOn,
                                                        int* regionsOn, int* regionFlag,
                                                        int* sideMask, int* includeVariations);
/* The 128 square masks, the 128 region masks (bit g: region g) and region g's 14 (maximum,
 * minimum) pairs: 0-5 White pawns..kings, 6 all White, 7-12 Black pawns..kings, 13 all Black.
 * Write them, then call ChessFieldCrit_SetRestInfo. */
LUDREX_API uint32_t* LUDREX_CDECL ChessFieldCrit_GetNormalPos(LudrexField* crit);
LUDREX_API uint32_t* LUDREX_CDECL ChessFieldCrit_GetAdvancedPos(LudrexField* crit);
LUDREX_API int32_t* LUDREX_CDECL ChessFieldCrit_GetMaterial(LudrexField* crit, int g);
/* Length ranges in moves ((plies + 1) / 2), as the integer criteria's pairs. */
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetLength(LudrexField* crit);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetLength(LudrexField* crit, int n);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_GetPair(LudrexField* crit, int i, int* upper,
                                                    int* lower);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetPair(LudrexField* crit, int i, int upper,
                                                    int lower);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetNVariations(LudrexField* crit);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetNVariations(LudrexField* crit, int n);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetStartPos(LudrexField* crit);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetStartPos(LudrexField* crit, int on);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetAnyCom(LudrexField* crit);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetAnyCom(LudrexField* crit, int on);
/* Annotation texts: an annotation matches an entry when it begins with the prefix and the rest
 * equals (type 0), begins with (1, the default) or contains (2) the info text, letter case
 * ignored unless caseSensitive. GetTextCommentPrefix/Info: 1 when the entry has no such text. */
LUDREX_API void LUDREX_CDECL ChessFieldCrit_UseTextComments(LudrexField* crit, int on);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetTextCommentsLength(LudrexField* crit, int n);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetTextCommentsLength(LudrexField* crit);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetTextCommentPrefix(LudrexField* crit, int i,
                                                                 const char* text, int length);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetTextCommentInfo(LudrexField* crit, int i,
                                                               const char* text, int length);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetTextCommentsInfoOptions(LudrexField* crit, int i,
                                                                       int searchType,
                                                                       int caseSensitive);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetTextCommentPrefix(LudrexField* crit, int i);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetTextCommentInfo(LudrexField* crit, int i);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetTextCommentsInfoSearchType(LudrexField* crit,
                                                                         int i);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_GetTextCommentsInfoCaseSensitive(LudrexField* crit,
                                                                            int i);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_ClearTextComments(LudrexField* crit);
/* The event list: a block of 32-bit values whose first is its byte length (null: off); flag 1
 * counts events only from the first position where the position test holds. */
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetEventList(LudrexField* crit, const void* list,
                                                         int flag);
LUDREX_API const void* LUDREX_CDECL ChessFieldCrit_GetEventList(LudrexField* crit);
/* Material difference (values null: off): values[0..5] the minima and values[6..11] the maxima
 * of White minus Black pawns, knights, bishops, rooks, queens and weighted material (minimum
 * 0x80000000: not tested); persistence in half-moves; countRange low 16 bits the least pieces,
 * high 16 the most (0: exactly the least). */
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetMatDiff(LudrexField* crit, const int32_t* values,
                                                       int persistence, uint32_t countRange);
/* Mirrors: bit 0 left-right, bit 1 colours (0: off). Bishops: kind 1 same-coloured, 0
 * opposite-coloured (on 0: off). */
LUDREX_API void LUDREX_CDECL ChessFieldCrit_SetMirrors(LudrexField* crit, int value);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_Bishops(LudrexField* crit, int on, int kind);
LUDREX_API void LUDREX_CDECL ChessFieldCrit_Copy(LudrexField* dst, LudrexField* src);
/* Matches the game of a game-score field: main line first, then (when the criterion includes
 * variations) inside variations; on a match *ply receives the match position number. */
LUDREX_API int LUDREX_CDECL ChessField_Find(LudrexField* field, LudrexField* crit, int* ply);
/* Extensions: the exact position of a FEN, or the position after a main line of moves from the
 * start (PGN move text: "e4 c5 Nf3 d6"): every square's mask the code of what stands there, the
 * side to move the position's; position on. 1 when read, 0 (criterion unchanged) when not. */
LUDREX_API int LUDREX_CDECL ChessFieldCrit_SetExactFEN(LudrexField* crit, const char* fen);
LUDREX_API int LUDREX_CDECL ChessFieldCrit_SetExactMoves(LudrexField* crit, const char* moves);

#ifdef __cplusplus
}
#endif

#endif
