/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * Maintenance of native bases: their libraries (the shared names that library-reference fields
 * point to) renumbered, cleaned and compressed into a new base, and the check and repair of a
 * damaged base. */
#ifndef LUDREX_MAINTENANCE_H
#define LUDREX_MAINTENANCE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Renumbers one library of base (library: that library opened with Base_EmbeddedBaseOpen). map
 * has one entry per library record: -1 or the record's own number keeps it, another number k
 * merges it into record k. A new native base at a temporary name receives the renumbered
 * library and copies of the other libraries; base's games are then rewritten in place to the
 * new numbers. Returns the new base's name (a shared buffer; the host replaces base's ".emb"
 * with it or erases it), or an empty text when nothing was changed (library not found, a copy
 * that failed or was stopped). */
LUDREX_API char* LUDREX_CDECL Base_MultiChange(LudrexBase* base, LudrexBase* library,
                                               const int* map);
/* A new base (its name returned as above) whose libraries hold only the records base's games
 * refer to, in the order of first use; base's games are rewritten to those numbers. Empty text
 * on failure. */
LUDREX_API char* LUDREX_CDECL Base_LibraryCompress(LudrexBase* base);
/* Removes from every library of base the records whose fields are all empty: the cleaned
 * libraries go to a new base whose name is returned as above (a host that ignores the result
 * loses nothing but the cleaning), and base's games are rewritten to the new numbers (references
 * to an empty record become -1). */
LUDREX_API char* LUDREX_CDECL Base_KillEmptyLibRecs(LudrexBase* base);

/* Checks the native base name (no extension) by reading its files: one line per finding (CR LF,
 * then a Windows-1251 text) appended to the log file logName, or to "Test.log" in the program
 * path when logName is null. subset (may be null; MaxLength at least the record count) receives
 * the records that passed. Shows progress; a step that returns nonzero stops the check.
 * Returns 1 for a sound base, 0 when the structure or a record is damaged. */
LUDREX_API int LUDREX_CDECL Base_BaseKVXTest(const char* name, const char* logName,
                                             LudrexSubset* subset);
/* Appends the records of source (the members of subset, or all) to destination, with their
 * library records; flags bit 0 (bit 1 clear) leaves out games without moves. A record that cannot
 * be read is reported and left out. Returns the number of source records walked, -1 on failure.
 * spare is not used. */
LUDREX_API int LUDREX_CDECL Base_Repair(LudrexBase* source, LudrexBase* destination,
                                        LudrexSubset* subset, int flags, int spare);
/* The same from the base name of type (opened and closed here), without a subset; a failure
 * shows the notice 2101 through the message dialog and returns -1. */
LUDREX_API int LUDREX_CDECL Base_Repair2(const char* name, int type, LudrexBase* destination,
                                         int flags, int spare);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
