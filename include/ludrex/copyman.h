/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * The duplicate finder: repeated games among the members of one subset of a base, or across two
 * subsets of two bases. Each candidate is reduced to a key made of the pattern's header fields
 * and a stretch of its main-line moves; games with equal keys form a group. Candidates are
 * numbered by element number: member i of the first subset is i, member j of the second subset
 * is Subset_CurLength(first) + j; Subset_BaseNum of the right subset gives the record number. */
#ifndef LUDREX_COPYMAN_H
#define LUDREX_COPYMAN_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LudrexCopyMan LudrexCopyMan;

/* The host's parameter block (19 bytes, no padding, little-endian). */
#pragma pack(push, 1)
typedef struct CopyManParams {
  int32_t minPlies;     /* a game takes part only with more main-line plies than this */
  int32_t firstPly;     /* plies up to and including this number stay out of the key */
  int32_t lastPly;      /* plies after this number stay out of the key */
  uint8_t prefix;       /* nonzero: a key joins the group of the key before it when that key is a
                           prefix of it (a truncated copy joins its full game) */
  uint8_t annotations;  /* nonzero: variation marks and annotation bytes enter the key */
  int32_t fromEnd;      /* nonzero: the last ply taken is the main-line length minus this */
  uint8_t preferred;    /* 0 or 1: the base preferred by criterion 3 of CopyMan_SelectBest */
} CopyManParams;
#pragma pack(pop)

/* The criteria of CopyMan_SelectBest, named in its array of four signed bytes. */
#define LUDREX_BEST_PLIES 0       /* 16 bits: main-line ply count */
#define LUDREX_BEST_ANNOTATIONS 1 /* 32 bits: 2^24 per variation plus the annotation bytes */
#define LUDREX_BEST_HEADER 2      /* 15 bits: how complete the header is */
#define LUDREX_BEST_PREFERRED 3   /* 1 bit: the game comes from the preferred base */

/* Finds the duplicates among the subset's members; pattern names the fields to compare (a field
 * of meaning ~22 brings in the moves). Null when the host refused to go on for lack of space,
 * stopped it, or an error was reported. Close the result with CopyMan_Close. */
LUDREX_API LudrexCopyMan* LUDREX_CDECL Base_CopyMan(LudrexBase* base, LudrexSubset* subset,
                                                   HostRecordPattern* pattern,
                                                   const CopyManParams* params);
/* The same over the members of two subsets of two bases (library references compare by the
 * library record's key). */
LUDREX_API LudrexCopyMan* LUDREX_CDECL Base_CopyMan2(LudrexBase* base1, LudrexSubset* subset1,
                                                    LudrexBase* base2, LudrexSubset* subset2,
                                                    HostRecordPattern* pattern,
                                                    const CopyManParams* params);
/* Number of groups (each of two or more games); -1 without a result. */
LUDREX_API int LUDREX_CDECL CopyMan_Groups(LudrexCopyMan* copies);
/* Size of group g; -1 for g outside 0 .. groups - 1. */
LUDREX_API int LUDREX_CDECL CopyMan_ElementsInGroup(LudrexCopyMan* copies, int g);
/* Element number of element e of group g (groups list their elements in key order); -1 out of
 * range. */
LUDREX_API int LUDREX_CDECL CopyMan_GetElement(LudrexCopyMan* copies, int g, int e);
/* Writes into out[g] (room for CopyMan_Groups values) the index within group g of its best game.
 * criteria: four signed bytes naming LUDREX_BEST_ criteria; the first takes the lowest bits of
 * the score, each further one the bits above; a negative byte is skipped. The highest score
 * wins, the earliest of equal scores. 0 when there are no groups or the host stopped it (out is
 * then filled for the groups done), else 1. */
LUDREX_API int LUDREX_CDECL CopyMan_SelectBest(LudrexCopyMan* copies, int* out,
                                               const signed char* criteria);
/* Kept for hosts that call it: always 0. */
LUDREX_API int LUDREX_CDECL CopyMan_GetBestElement(LudrexCopyMan* copies, int g);
/* Destroys the result and removes its work files; null is ignored. */
LUDREX_API void LUDREX_CDECL CopyMan_Close(LudrexCopyMan* copies);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus)
static_assert(sizeof(CopyManParams) == 19, "CopyManParams is 19 bytes");
static_assert(offsetof(CopyManParams, minPlies) == 0, "layout");
static_assert(offsetof(CopyManParams, firstPly) == 4, "layout");
static_assert(offsetof(CopyManParams, lastPly) == 8, "layout");
static_assert(offsetof(CopyManParams, prefix) == 12, "layout");
static_assert(offsetof(CopyManParams, annotations) == 13, "layout");
static_assert(offsetof(CopyManParams, fromEnd) == 14, "layout");
static_assert(offsetof(CopyManParams, preferred) == 18, "layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(CopyManParams) == 19, "CopyManParams is 19 bytes");
_Static_assert(offsetof(CopyManParams, fromEnd) == 14, "layout");
_Static_assert(offsetof(CopyManParams, preferred) == 18, "layout");
#endif

#endif /* LUDREX_COPYMAN_H */
