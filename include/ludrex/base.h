/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * Bases: game databases opened, created, erased and closed by name and type. A base name is a
 * path without extension (the type's extension completes it); an embedded base is named by its
 * container's name, a comma and its own name. Opening a name twice gives the same handle with a
 * higher count; each open is given back with Base_BaseDestroy. Record numbers run from 0 to
 * Base_GetBaseLength - 1. */
#ifndef LUDREX_BASE_H
#define LUDREX_BASE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LudrexBase LudrexBase;

/* Record numbers Base_Write accepts besides 0 .. length - 1: add at the end (in a base kept in
 * key order: find an equal record or insert a new one), and the same for records given in
 * ascending key order. */
#define AppendRecord 0x10000000
#define AppendSortedRecord 0x10000001

/* The host's block for Base_GetBaseInfo / Base_SetBaseInfo (784 bytes, NUL-terminated texts). */
typedef struct HostBaseInfo {
  int32_t flag;
  char fullName[260];
  char description[260];
  char secondFullName[260];
} HostBaseInfo;

/* Opens a base; null on failure (503 when the main file is missing, 901 for an unknown type,
 * 913 for an empty name). A read-only main file is served through a reference base. */
LUDREX_API LudrexBase* LUDREX_CDECL Base_BaseOpen(const char* name, int type);
/* Creates a base with the given pattern (the host keeps its block); the old files of that name
 * are erased first. Types 0 and 2 can be created. */
LUDREX_API LudrexBase* LUDREX_CDECL Base_BaseCreate(const char* name,
                                                    HostRecordPattern* pattern, int type);
LUDREX_API LudrexBase* LUDREX_CDECL Base_EmbeddedBaseOpen(LudrexBase* container,
                                                          const char* name);
LUDREX_API LudrexBase* LUDREX_CDECL Base_EmbeddedBaseCreate(LudrexBase* container,
                                                            const char* name,
                                                            HostRecordPattern* pattern);
/* Deletes the files of a base (and its tree files). */
LUDREX_API void LUDREX_CDECL Base_BaseErase(const char* name, int type);
/* Gives back one open; the last one closes the base and the bases embedded in it. */
LUDREX_API void LUDREX_CDECL Base_BaseDestroy(LudrexBase* base);
/* Record count (int32 at offset 0, -1 when unreadable) and description (NUL-terminated, from
 * offset 4, at most 259 characters) of a base, without opening it where the type allows. The
 * block must hold 264 bytes. */
LUDREX_API void LUDREX_CDECL Base_GetShortInfo(int type, const char* name, void* out);
LUDREX_API void LUDREX_CDECL Base_GetBaseInfo(LudrexBase* base, HostBaseInfo* info);
/* Sets the description and the flag. */
LUDREX_API void LUDREX_CDECL Base_SetBaseInfo(LudrexBase* base, HostBaseInfo* info);
/* Number of fields of the base's record pattern, and the pattern itself (free it with
 * CPP_DestroyRP). */
LUDREX_API int LUDREX_CDECL Base_GetRecordLength(LudrexBase* base);
LUDREX_API HostRecordPattern* LUDREX_CDECL Base_GetRecordPattern(LudrexBase* base);
/* Reads record n into a record made from the base's pattern (link it with Record_LinkToBase). */
LUDREX_API void LUDREX_CDECL Base_Read(LudrexBase* base, int n, LudrexRecord* record);
/* Writes record n (or AppendRecord / AppendSortedRecord); returns its position, -1 on failure. */
LUDREX_API int LUDREX_CDECL Base_Write(LudrexBase* base, int n, LudrexRecord* record);
/* Binary search on the first field over the records (or the members of subset, when given):
 * the first position not below record; *found = 1 when that position holds an equal value. */
LUDREX_API int LUDREX_CDECL Base_Find(LudrexBase* base, LudrexRecord* record,
                                      LudrexSubset* subset, int* found);
LUDREX_API int LUDREX_CDECL Base_IsDeleted(LudrexBase* base, int n);
/* Inverts the deletion mark of record n. */
LUDREX_API void LUDREX_CDECL Base_ToggleDelete(LudrexBase* base, int n);
/* The base's own set of deleted records (do not destroy it), or null. */
LUDREX_API LudrexSubset* LUDREX_CDECL Base_GetDeletedSubset(LudrexBase* base);
/* Writes pending changes to disk. */
LUDREX_API void LUDREX_CDECL Base_Update(LudrexBase* base);
/* The record number at a position of the base's key order (the position itself when the base
 * keeps none). */
LUDREX_API int LUDREX_CDECL Base_UnsortedFromSorted(LudrexBase* base, int position);
/* Copies the records of subset (all records when null; deleted ones skipped) from source to the
 * end of destination, in the order of order[] (member indexes) when given; library records
 * follow the records that use them (copyLibraries bit 0: copy whole libraries first). Shows
 * progress when showProgress is nonzero; a progress step that returns nonzero stops the copy.
 * Returns the number of records written, -1 on failure. */
LUDREX_API int LUDREX_CDECL Base_AppendAnother(LudrexBase* source, LudrexBase* destination,
                                               LudrexSubset* subset, int showProgress,
                                               int copyLibraries, const int* order);
LUDREX_API int LUDREX_CDECL Base_GetOEMCoding(LudrexBase* base);
LUDREX_API void LUDREX_CDECL Base_SetOEMCoding(LudrexBase* base, int value);
LUDREX_API int LUDREX_CDECL Base_GetCopyEventToSite(LudrexBase* base);
LUDREX_API void LUDREX_CDECL Base_SetCopyEventToSite(LudrexBase* base, int value);
/* Keeps in memory what reading the fields of the base's pattern needs (pattern may be null for
 * the whole pattern), and releases it. */
LUDREX_API void LUDREX_CDECL Base_EnableFastAccess(LudrexBase* base, HostRecordPattern* pattern);
LUDREX_API void LUDREX_CDECL Base_DisableFastAccess(LudrexBase* base);
/* Puts the members of subset into the order of the key made of pattern's fields (each field's
 * flag 4 sorts it from high to low; equal keys stay in record order) and writes their record
 * numbers to out, which has room for Subset_CurLength. Returns 1, or 0 when a progress step
 * asked to stop (out then holds what was written) or the host refused to go on for lack of
 * disk space. */
LUDREX_API int LUDREX_CDECL Base_SortSubset(LudrexBase* base, int* out, LudrexSubset* subset,
                                            HostRecordPattern* pattern);
LUDREX_API int LUDREX_CDECL Base_GetBaseLength(LudrexBase* base);
LUDREX_API int LUDREX_CDECL Base_GetBaseType(LudrexBase* base);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
