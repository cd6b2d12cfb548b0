/* ludrex: a chess game database engine. The one public header of the library.
 *
 * Every text that crosses this interface is single-byte Windows-1251. Handles are the addresses
 * of library objects; destroy them through the matching Destroy/Close/Delete function. Results
 * declared intptr_t are 32-bit on the 32-bit Windows target and pointer-sized elsewhere.
 *
 * Failures are reported by number through Error: with an error function installed a fatal error
 * reaches that function and the call returns its failure result (null, -1 or 0); without one a
 * message box is shown and the process ends with exit code 3.
 *
 * This header compiles as C and as C++. */
#ifndef LUDREX_H
#define LUDREX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define LUDREX_API /* the module definition file fixes the export table */
#define LUDREX_CDECL __cdecl
#else
#define LUDREX_API __attribute__((visibility("default")))
#define LUDREX_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Host callbacks (all plain C calling convention) ----------------------------------------- */

/* Receives the composed text of a fatal error ("Error # <code>\n<message>[\n<extra>]"). */
typedef void(LUDREX_CDECL* ErrorFunction)(const char* text);
/* Progress: start(title, 1), step(current, total), finish(), stepEx(current, second, third).
 * A nonzero result of step or stepEx asks the running operation to stop. */
typedef void(LUDREX_CDECL* ProgressStartFunction)(const char* title, int one);
typedef int(LUDREX_CDECL* ProgressStepFunction)(int current, int total);
typedef void(LUDREX_CDECL* ProgressFinishFunction)(void);
typedef int(LUDREX_CDECL* ProgressStepExFunction)(int current, int second, int third);
/* Message dialog: kind 4 with flag 1 is a notice; kind 20 with flag 0 a question where a result
 * of LUDREX_DIALOG_ABORT abandons the operation and anything else goes on. */
typedef int(LUDREX_CDECL* MessageDlgFunction)(const char* text, int flag, int kind);
/* Tree progress: (-1, 0) when a tree operation begins, then (current, total). */
typedef int(LUDREX_CDECL* TreeMessageFunction)(int current, int total);

#define LUDREX_DIALOG_NOTICE 4
#define LUDREX_DIALOG_QUESTION 20
#define LUDREX_DIALOG_ABORT 3

/* ---- Host blocks ---------------------------------------------------------------------------- */

/* One field of a record pattern (20 bytes on the 32-bit target). */
typedef struct HostFieldEntry {
  int32_t type;            /* field type code; 0 is the library-reference type */
  char* name;              /* NUL-terminated, its own heap block */
  int32_t param;           /* the field's flags (LUDREX_FLAG_...) */
  char* text;              /* the field's Param text, NUL-terminated, own heap block */
  union {
    struct HostRecordPattern* library; /* type 0: the pattern of the referenced library, or null */
    intptr_t value;                    /* other types: a 32-bit value kept as given */
  } extra;
} HostFieldEntry;

/* A record pattern as the host sees it. Every block (header, entry array, texts, nested
 * patterns) comes from the library's allocator and is freed by CPP_DestroyRP. */
typedef struct HostRecordPattern {
  int32_t count;            /* number of entries */
  HostFieldEntry* entries;  /* count entries */
} HostRecordPattern;

/* ---- Start-up, errors and callbacks --------------------------------------------------------- */

/* Builds the library-wide state; once per load (later calls do nothing). */
LUDREX_API void LUDREX_CDECL CPP_Startup(void);
/* Closes the bases still open (reporting each with error 916) and releases the state. */
LUDREX_API int LUDREX_CDECL CPP_Done(void);
/* Sets the host program's directory (at most 260 characters); call after CPP_Startup. */
LUDREX_API int LUDREX_CDECL CPP_SetProgramPath(const char* path);
/* Frees a record pattern returned by the library, nested library patterns included. */
LUDREX_API int LUDREX_CDECL CPP_DestroyRP(HostRecordPattern* pattern);

/* Install a callback (null uninstalls); each returns the function it was given. */
LUDREX_API intptr_t LUDREX_CDECL SetErrorFunction(ErrorFunction fn);
LUDREX_API intptr_t LUDREX_CDECL SetMessageFunctions(ProgressStartFunction start, void* spare,
                                                     ProgressStepFunction step,
                                                     ProgressFinishFunction finish,
                                                     ProgressStepExFunction stepEx);
LUDREX_API intptr_t LUDREX_CDECL SetMessageDlg(MessageDlgFunction fn);
LUDREX_API intptr_t LUDREX_CDECL SetTreeMessageFunctionPtr(TreeMessageFunction fn);

/* ---- Base-type catalogue -------------------------------------------------------------------- */

/* Seven base types, by index: 0 native ".kvx", 1 DOS ".bfi", 2 PGN ".pgn", 3 ".cbf",
 * 4 reference ".ror", 5 ".cbh", 6 ".zip" (listed, not supported). Text results live in a shared
 * buffer that the next text-returning call overwrites. An index of 7 or more raises error 901. */
LUDREX_API int LUDREX_CDECL CPP_NBaseTypes(void);
LUDREX_API char* LUDREX_CDECL CPP_BaseTypeNameStr(int type);
LUDREX_API char* LUDREX_CDECL CPP_BaseShortTypeNameStr(int type);
LUDREX_API char* LUDREX_CDECL CPP_BaseExtStr(int type);
LUDREX_API int LUDREX_CDECL CPP_BaseTypeFlags(int type);
/* A fresh temporary base name (a full path without extension whose ".kvx" file does not exist)
 * for a scratch base of type 0; null on failure. */
LUDREX_API char* LUDREX_CDECL CPP_BaseTempName(void);

/* ---- Byte utilities ------------------------------------------------------------------------- */

/* Sets n bytes at p to value. */
LUDREX_API void LUDREX_CDECL Fill(void* p, long n, unsigned char value);
/* Moves the block of length bytes at base+offset by shift bytes (toward higher addresses when
 * shift > 0); the bytes it passes over take the room it leaves. */
LUDREX_API void LUDREX_CDECL Swap(void* base, long offset, long length, long shift);

#ifdef __cplusplus
} /* extern "C" */

/* C++ exports under their decorated names. */

/* Reports a numbered error: composes "Error # <code>\n<message>" (plus "\n<extra>" when extra is
 * not null, at most 499 characters); a fatal error goes to the installed error function and
 * returns, or, without one, shows the message box and ends the process with exit code 3. A
 * non-fatal error always shows the message box and returns. */
LUDREX_API void Error(unsigned short code, char* extra, int fatal);
/* Unsigned byte comparison of n bytes: -1, 0 or 1; n < 1 gives 0. */
LUDREX_API int Compare(void* a, void* b, long n);
/* Compares min(na, nb) bytes, then the lengths: a proper prefix sorts first. */
LUDREX_API int Compare(void* a, long na, void* b, long nb);
#endif

/* The other export families, one header each. */
#include "ludrex/storage.h" /* volumes */
#include "ludrex/record.h"
#include "ludrex/subset.h"  /* sets of record numbers */
#include "ludrex/base.h"    /* bases: open, create, read, write */  /* fields, records, the field-type catalogue */
#include "ludrex/copyman.h" /* the duplicate finder */
#include "ludrex/maintenance.h" /* libraries, check and repair */
#include "ludrex/search.h"  /* search criteria and Base_Search */
#include "ludrex/commented.h" /* games with comments */
#include "ludrex/tree.h"    /* per-base opening trees, position statistics */
#include "ludrex/chesscrit.h" /* the game-score criterion */

#if defined(__cplusplus) && defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(HostFieldEntry) == 20, "field entry is 20 bytes");
static_assert(offsetof(HostFieldEntry, type) == 0, "layout");
static_assert(offsetof(HostFieldEntry, name) == 4, "layout");
static_assert(offsetof(HostFieldEntry, param) == 8, "layout");
static_assert(offsetof(HostFieldEntry, text) == 12, "layout");
static_assert(offsetof(HostFieldEntry, extra) == 16, "layout");
static_assert(sizeof(HostRecordPattern) == 8, "pattern header is 8 bytes");
static_assert(offsetof(HostRecordPattern, entries) == 4, "layout");
#elif !defined(__cplusplus) && defined(_WIN32) && !defined(_WIN64)
_Static_assert(sizeof(HostFieldEntry) == 20, "field entry is 20 bytes");
_Static_assert(sizeof(HostRecordPattern) == 8, "pattern header is 8 bytes");
#endif

#endif /* LUDREX_H */
