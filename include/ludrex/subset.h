/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * Subsets: sets of record numbers of one base (search results, deleted or marked games), kept
 * as a bit mask in memory, in a file of their own or in a volume, with an optional comment.
 * Record numbers r run from 0 to MaxLength - 1; member indexes i from 0 to CurLength - 1; a
 * range count of -1 means up to MaxLength. Errors: 701 record number out of range, 702 member
 * index out of range, 703 storage shorter than the mask, 704 range count out of range, 705
 * operands of different sizes. */
#ifndef LUDREX_SUBSET_H
#define LUDREX_SUBSET_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LudrexSubset LudrexSubset;

/* Construction; each returns null on failure. A file is opened read/write and exclusively. */
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_CreateTmp(int maxLength);
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_CreateTmpCopy(LudrexSubset* subset);
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_CreateInAFile(int maxLength, const char* name);
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_CreateCopyInAFile(LudrexSubset* subset,
                                                                const char* name);
/* Opens a stored set; leading bytes beyond the mask are its comment. */
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_OpenInAFile(int maxLength, const char* name);
/* Opens a set of the older layout (its MaxLength is stored in the file). */
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_OpenForOldBase(const char* name);
/* The same in a member of an open volume (dir: the directory id, 0 for the top level). Close
 * the set before its volume. */
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_CreateInAVolume(int maxLength, const char* name,
                                                              int dir, LudrexVolume* volume);
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_CreateCopyInAVolume(LudrexSubset* subset,
                                                                  const char* name, int dir,
                                                                  LudrexVolume* volume);
LUDREX_API LudrexSubset* LUDREX_CDECL Subset_OpenInAVolume(int maxLength, const char* name,
                                                            int dir, LudrexVolume* volume);
/* Flushes and closes the storage and frees the set; null is ignored. */
LUDREX_API void LUDREX_CDECL Subset_Destroy(LudrexSubset* subset);
LUDREX_API void LUDREX_CDECL Subset_Update(LudrexSubset* subset);

LUDREX_API int LUDREX_CDECL Subset_MaxLength(LudrexSubset* subset);
LUDREX_API int LUDREX_CDECL Subset_CurLength(LudrexSubset* subset);
/* 1 when record r is a member. */
LUDREX_API int LUDREX_CDECL Subset_Item(LudrexSubset* subset, int r);
LUDREX_API void LUDREX_CDECL Subset_Include(LudrexSubset* subset, int r);
LUDREX_API void LUDREX_CDECL Subset_IncludeRange(LudrexSubset* subset, int r, int n);
LUDREX_API void LUDREX_CDECL Subset_Exclude(LudrexSubset* subset, int r);
LUDREX_API void LUDREX_CDECL Subset_ExcludeRange(LudrexSubset* subset, int r, int n);
LUDREX_API void LUDREX_CDECL Subset_Toggle(LudrexSubset* subset, int r);
LUDREX_API void LUDREX_CDECL Subset_ToggleRange(LudrexSubset* subset, int r, int n);
/* The record number of member i (ascending order); -1 on error. */
LUDREX_API int LUDREX_CDECL Subset_BaseNum(LudrexSubset* subset, int i);
/* MaxLength += n; the new records are not members. */
LUDREX_API void LUDREX_CDECL Subset_Expand(LudrexSubset* subset, int n);
/* s := s AND t, s OR t, s AND NOT t. */
LUDREX_API void LUDREX_CDECL Subset_Intersect(LudrexSubset* s, LudrexSubset* t);
LUDREX_API void LUDREX_CDECL Subset_Join(LudrexSubset* s, LudrexSubset* t);
LUDREX_API void LUDREX_CDECL Subset_Subtract(LudrexSubset* s, LudrexSubset* t);
/* dst takes src's members and size; dst keeps its comment. */
LUDREX_API void LUDREX_CDECL Subset_CopySubset(LudrexSubset* dst, LudrexSubset* src);
LUDREX_API int LUDREX_CDECL Subset_GetCommentLength(LudrexSubset* subset);
/* Copies the comment and a NUL; the buffer must hold GetCommentLength + 1 bytes. */
LUDREX_API void LUDREX_CDECL Subset_GetComment(LudrexSubset* subset, char* buffer);
LUDREX_API void LUDREX_CDECL Subset_SetComment(LudrexSubset* subset, const char* text);
/* Sequential scan: the first member >= r (or member i), then the next ones; -1 at the end.
 * SeqNextExclude removes the current member first; SeqStop commits the removals. */
LUDREX_API int LUDREX_CDECL Subset_SeqAccessInitBase(LudrexSubset* subset, int r);
LUDREX_API int LUDREX_CDECL Subset_SeqAccessInitSet(LudrexSubset* subset, int i);
LUDREX_API int LUDREX_CDECL Subset_SeqNext(LudrexSubset* subset);
LUDREX_API int LUDREX_CDECL Subset_SeqNextExclude(LudrexSubset* subset);
LUDREX_API void LUDREX_CDECL Subset_SeqStop(LudrexSubset* subset);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
