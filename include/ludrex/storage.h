/* Part of the public interface; include "ludrex.h", never this file alone.
 *
 * Volumes: one disk file holding many member files in a tree of directories. Directories are
 * named by ids: 0 is the top level, Volume_ChangeDir gives a subdirectory's id. Entry kinds:
 * LUDREX_VOLUME_DIR (1) and LUDREX_VOLUME_FILE (2); a kind must have exactly one of them.
 * Names are NUL-terminated Windows-1251 texts of at most 227 characters, compared byte for byte.
 * Close every member (Volume_CloseFile) before its volume. */
#ifndef LUDREX_STORAGE_H
#define LUDREX_STORAGE_H

#ifdef __cplusplus
extern "C" {
#endif

#define LUDREX_VOLUME_DIR 1
#define LUDREX_VOLUME_FILE 2

typedef struct LudrexVolume LudrexVolume;         /* an open volume */
typedef struct LudrexVolumeFind LudrexVolumeFind; /* a directory listing in progress */
typedef struct LudrexVolumeFile LudrexVolumeFile; /* an open member */

/* Creates (or truncates) a volume file; null on failure. */
LUDREX_API LudrexVolume* LUDREX_CDECL Volume_Create(const char* name);
/* Opens an existing volume (read-only when writing is refused); null on failure (539: not a
 * volume of this format). */
LUDREX_API LudrexVolume* LUDREX_CDECL Volume_Open(const char* name);
/* Writes what is pending and closes; null is ignored. */
LUDREX_API void LUDREX_CDECL Volume_Close(LudrexVolume* volume);
/* Writes everything pending and flushes the file to disk. */
LUDREX_API void LUDREX_CDECL Volume_Update(LudrexVolume* volume);
/* Creates a file or directory entry in dir, or re-creates an existing one (moved to the end of
 * the directory order; a file starts empty but keeps its space). Returns the entry's index, -1
 * on failure (541 negative dir, 545 bad kind, 540 empty name). */
LUDREX_API int LUDREX_CDECL Volume_CreateEntry(LudrexVolume* volume, const char* name, int kind,
                                               int dir);
/* The first entry of dir whose flags contain all bits of mask; null when none. */
LUDREX_API LudrexVolumeFind* LUDREX_CDECL Volume_FindFirst(LudrexVolume* volume, int mask, int dir);
/* The next such entry in directory order; at the end frees find and returns null. */
LUDREX_API LudrexVolumeFind* LUDREX_CDECL Volume_FindNext(LudrexVolume* volume,
                                                          LudrexVolumeFind* find);
/* Frees a find that was not run to the end (null is ignored). */
LUDREX_API void LUDREX_CDECL Volume_FindClose(LudrexVolume* volume, LudrexVolumeFind* find);
/* The current entry's name in the library's export text buffer (valid until the next call of
 * a text-returning export). */
LUDREX_API const char* LUDREX_CDECL Volume_GetFileName(LudrexVolumeFind* find);
/* The low 16 bits of its flags (the kind), its user flags (bits 16-31 of the flags), and its
 * size in bytes (0 for a directory). */
LUDREX_API int LUDREX_CDECL Volume_GetFileFlags(LudrexVolumeFind* find);
LUDREX_API int LUDREX_CDECL Volume_GetFlags(LudrexVolumeFind* find);
LUDREX_API int LUDREX_CDECL Volume_GetFileSize(LudrexVolumeFind* find);
/* The id of subdirectory name of dir; 0 when there is none. */
LUDREX_API int LUDREX_CDECL Volume_ChangeDir(LudrexVolume* volume, const char* name, int dir);
/* Deletes every entry of dir matching mask and name (every one when name is empty), directories
 * with their contents. */
LUDREX_API void LUDREX_CDECL Volume_DeleteFile(LudrexVolume* volume, const char* name, int mask,
                                               int dir);
/* Renames and/or moves one entry; nothing happens when it does not exist. */
LUDREX_API void LUDREX_CDECL Volume_MoveRename(LudrexVolume* volume, const char* oldName, int kind,
                                               int oldDir, const char* newName, int newDir);
/* Moves entry name to just before refName, or to the end when refName is empty or absent. */
LUDREX_API void LUDREX_CDECL Volume_ChangeDirEntryPos(LudrexVolume* volume, const char* refName,
                                                      int refKind, const char* name, int kind,
                                                      int dir);
/* Sets the user flags of every matching entry, keeping the low 16 bits. */
LUDREX_API void LUDREX_CDECL Volume_SetFlags(LudrexVolume* volume, int userFlags, const char* name,
                                             int kind, int dir);
/* Opens a member (null when it does not exist: 503). */
LUDREX_API LudrexVolumeFile* LUDREX_CDECL Volume_OpenFile(LudrexVolume* volume, const char* name,
                                                          int dir);
/* Creates (or re-creates) a member holding size zero bytes and opens it; null on failure. */
LUDREX_API LudrexVolumeFile* LUDREX_CDECL Volume_CreateFile(LudrexVolume* volume, const char* name,
                                                            int size, int dir);
/* Closes a member, writing its tables and entry; null is ignored. */
LUDREX_API void LUDREX_CDECL Volume_CloseFile(LudrexVolumeFile* file);
/* Reads the first n bytes of the member (517 when it is shorter). */
LUDREX_API void LUDREX_CDECL Volume_BlockReadFile(LudrexVolumeFile* file, void* buffer,
                                                  unsigned short n);
/* Writes the first n bytes of the member, growing it when needed. */
LUDREX_API void LUDREX_CDECL Volume_BlockWriteFile(LudrexVolumeFile* file, const void* buffer,
                                                   unsigned short n);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
