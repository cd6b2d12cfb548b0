/* A 32-bit Windows host written in C, as the library's hosts are: it loads ludrex.dll with
 * LoadLibraryA, finds every export of the module definition file by name (the decorated C++
 * spellings included), installs its callbacks and runs a short session through them. The host
 * blocks are checked against their 32-bit layout, both as this compiler lays them out and as the
 * library fills them.
 *
 * Usage: test_win32host <ludrex.def> <scratch directory>. Exit code 0 when every check passed. */
#include <windows.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "ludrex.h"

/* ---- The 32-bit layout of the host blocks ---------------------------------------------------- */

_Static_assert(sizeof(void*) == 4, "this host is a 32-bit program");
_Static_assert(sizeof(HostFieldEntry) == 20, "field entry");
_Static_assert(offsetof(HostFieldEntry, type) == 0, "field entry");
_Static_assert(offsetof(HostFieldEntry, name) == 4, "field entry");
_Static_assert(offsetof(HostFieldEntry, param) == 8, "field entry");
_Static_assert(offsetof(HostFieldEntry, text) == 12, "field entry");
_Static_assert(offsetof(HostFieldEntry, extra) == 16, "field entry");
_Static_assert(sizeof(HostRecordPattern) == 8, "record pattern");
_Static_assert(offsetof(HostRecordPattern, count) == 0, "record pattern");
_Static_assert(offsetof(HostRecordPattern, entries) == 4, "record pattern");
_Static_assert(sizeof(HostBaseInfo) == 784, "base info");
_Static_assert(offsetof(HostBaseInfo, flag) == 0, "base info");
_Static_assert(offsetof(HostBaseInfo, fullName) == 4, "base info");
_Static_assert(offsetof(HostBaseInfo, description) == 264, "base info");
_Static_assert(offsetof(HostBaseInfo, secondFullName) == 524, "base info");

/* ---- Checks ----------------------------------------------------------------------------------- */

static int g_failures = 0;

#define CHECK(cond)                                                         \
  do {                                                                      \
    if (!(cond)) {                                                          \
      printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);       \
      ++g_failures;                                                         \
    }                                                                       \
  } while (0)

/* ---- The exports -------------------------------------------------------------------------------- */

static HMODULE g_dll;

/* The address of an export, or null (reported) when the DLL lacks it. */
static void (*Find(const char* name))(void) {
  FARPROC p = GetProcAddress(g_dll, name);
  if (p == NULL) {
    printf("missing export: %s\n", name);
    ++g_failures;
  }
  return (void (*)(void))p;
}

/* Every name of the EXPORTS list of the module definition file resolves; an alias
 * ("decorated = name") resolves to the address of the name it stands for. Returns the number of
 * names checked. */
static int CheckEveryExport(const char* defPath) {
  FILE* f = fopen(defPath, "r");
  if (f == NULL) {
    printf("cannot open %s\n", defPath);
    ++g_failures;
    return 0;
  }
  char line[512];
  int inExports = 0, count = 0;
  while (fgets(line, sizeof line, f) != NULL) {
    char name[256] = "", target[256] = "";
    char* comment = strchr(line, ';');
    if (comment != NULL) *comment = '\0';
    if (sscanf(line, " %255s = %255s", name, target) < 1) continue;
    if (strcmp(name, "EXPORTS") == 0) {
      inExports = 1;
      continue;
    }
    if (!inExports) continue;
    void (*p)(void) = Find(name);
    if (target[0] != '\0' && p != NULL && Find(target) != p) {
      printf("export %s is not the same function as %s\n", name, target);
      ++g_failures;
    }
    ++count;
  }
  fclose(f);
  return count;
}

/* The functions the session calls, typed as the header declares them. */
typedef void (__cdecl* VoidFn)(void);
typedef int (__cdecl* IntFn)(void);
typedef int (__cdecl* SetPathFn)(const char*);
typedef int (__cdecl* DestroyRPFn)(HostRecordPattern*);
typedef intptr_t (__cdecl* SetErrorFn)(ErrorFunction);
typedef intptr_t (__cdecl* SetMessagesFn)(ProgressStartFunction, void*, ProgressStepFunction,
                                          ProgressFinishFunction, ProgressStepExFunction);
typedef intptr_t (__cdecl* SetDialogFn)(MessageDlgFunction);
typedef intptr_t (__cdecl* SetTreeFn)(TreeMessageFunction);
typedef void (__cdecl* ErrorFn)(unsigned short, char*, int);
typedef int (__cdecl* Compare3Fn)(void*, void*, long);
typedef int (__cdecl* Compare4Fn)(void*, long, void*, long);
typedef void (__cdecl* FillFn)(void*, long, unsigned char);
typedef LudrexBase* (__cdecl* CreateFn)(const char*, HostRecordPattern*, int);
typedef LudrexBase* (__cdecl* OpenFn)(const char*, int);
typedef void (__cdecl* BaseFn)(LudrexBase*);
typedef void (__cdecl* EraseFn)(const char*, int);
typedef int (__cdecl* BaseIntFn)(LudrexBase*);
typedef void (__cdecl* InfoFn)(LudrexBase*, HostBaseInfo*);
typedef HostRecordPattern* (__cdecl* PatternFn)(LudrexBase*);
typedef void (__cdecl* ReadFn)(LudrexBase*, int, LudrexRecord*);
typedef int (__cdecl* WriteFn)(LudrexBase*, int, LudrexRecord*);
typedef int (__cdecl* AppendFn)(LudrexBase*, LudrexBase*, LudrexSubset*, int, int, const int*);
typedef void (__cdecl* ShortInfoFn)(int, const char*, void*);
typedef LudrexRecord* (__cdecl* RecordCreateFn)(const HostRecordPattern*);
typedef void (__cdecl* RecordDestroyFn)(LudrexRecord*);
typedef LudrexField* (__cdecl* GetFieldFn)(LudrexRecord*, int);
typedef char* (__cdecl* GetPgnFn)(LudrexRecord*);
typedef void (__cdecl* DeletePgnFn)(char*);
typedef void (__cdecl* FromPgnFn)(LudrexRecord*, const char*, int);
typedef int (__cdecl* NotationFn)(LudrexBase*, int, char*, int);
typedef const char* (__cdecl* GetStrFn)(LudrexField*);
typedef int32_t (__cdecl* GetIntFn)(LudrexField*);
typedef int (__cdecl* EqualFn)(LudrexField*, LudrexField*);

/* ---- The host's callbacks ----------------------------------------------------------------------- */

static char g_lastError[1024];
static int g_errorCount, g_starts, g_steps, g_finishes, g_dialogs;

static void __cdecl HostError(const char* text) {
  ++g_errorCount;
  snprintf(g_lastError, sizeof g_lastError, "%s", text);
}
static void __cdecl HostStart(const char* title, int one) {
  (void)title;
  (void)one;
  ++g_starts;
}
static int __cdecl HostStep(int current, int total) {
  (void)current;
  (void)total;
  ++g_steps;
  return 0;
}
static void __cdecl HostFinish(void) { ++g_finishes; }
static int __cdecl HostStepEx(int current, int second, int third) {
  (void)current;
  (void)second;
  (void)third;
  ++g_steps;
  return 0;
}
static int __cdecl HostDialog(const char* text, int flag, int kind) {
  (void)text;
  (void)flag;
  (void)kind;
  ++g_dialogs;
  return 0;
}
static int __cdecl HostTree(int current, int total) {
  (void)current;
  (void)total;
  return 0;
}

/* True when the last error the host received begins with "Error # <code>". */
static int LastErrorIs(int code) {
  char head[32];
  snprintf(head, sizeof head, "Error # %d", code);
  return strncmp(g_lastError, head, strlen(head)) == 0;
}

/* ---- The session --------------------------------------------------------------------------------- */

static HostFieldEntry Entry(int32_t type, const char* name, const char* text) {
  HostFieldEntry e;
  memset(&e, 0, sizeof e);
  e.type = type;
  e.name = (char*)name;
  e.text = (char*)text;
  return e;
}

static const char kGame[] =
    "[Event \"Win32 host\"]\r\n[White \"Smith\"]\r\n[WhiteElo \"2100\"]\r\n[Result \"1-0\"]\r\n"
    "\r\n1. e4 e5 2. Nf3 {develops} Nc6 3. Bb5 a6 1-0\r\n";

/* The record pattern as the library gives it, read byte by byte at the 32-bit offsets: the
 * fields the host asked for, in the base's own order. where[k] becomes the position of the
 * host's field k in the base's record (-1 when missing). */
static void CheckPatternBytes(const HostRecordPattern* p, const HostFieldEntry* expected,
                              int count, int* where) {
  const unsigned char* raw = (const unsigned char*)p;
  int32_t n;
  memcpy(&n, raw + 0, 4);
  CHECK(n == count);
  const unsigned char* entries;
  memcpy(&entries, raw + 4, 4);
  for (int k = 0; k < count; ++k) where[k] = -1;
  for (int i = 0; i < count && i < n; ++i) {
    const unsigned char* e = entries + 20 * i;
    int32_t type;
    const char* name;
    const char* text;
    memcpy(&type, e + 0, 4);
    memcpy(&name, e + 4, 4);
    memcpy(&text, e + 12, 4);
    CHECK(name != NULL && text != NULL);
    if (name == NULL || text == NULL) continue;
    int k = 0;
    while (k < count && strcmp(expected[k].name, name) != 0) ++k;
    CHECK(k < count);
    if (k == count) continue;
    CHECK(type == expected[k].type);
    CHECK(strcmp(text, expected[k].text) == 0);
    where[k] = i;
  }
  for (int k = 0; k < count; ++k) CHECK(where[k] >= 0);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    printf("usage: test_win32host <ludrex.def> <scratch directory>\n");
    return 2;
  }
  setvbuf(stdout, NULL, _IONBF, 0);
  char dir[MAX_PATH];
  if (GetFullPathNameA(argv[2], sizeof dir, dir, NULL) == 0) {
    printf("bad scratch directory %s\n", argv[2]);
    return 2;
  }
  CreateDirectoryA(dir, NULL);
  g_dll = LoadLibraryA("ludrex.dll");
  if (g_dll == NULL) {
    printf("LoadLibraryA(\"ludrex.dll\") failed: %lu\n", (unsigned long)GetLastError());
    return 1;
  }
  const int exports = CheckEveryExport(argv[1]);
  CHECK(exports > 100);
  if (g_failures != 0) return 1;

  /* Start-up and the callbacks. */
  ((VoidFn)Find("CPP_Startup"))();
  CHECK(((SetErrorFn)Find("SetErrorFunction"))(HostError) == (intptr_t)HostError);
  CHECK(((SetMessagesFn)Find("SetMessageFunctions"))(HostStart, NULL, HostStep, HostFinish,
                                                      HostStepEx) == (intptr_t)HostStepEx);
  CHECK(((SetDialogFn)Find("SetMessageDlg"))(HostDialog) == (intptr_t)HostDialog);
  CHECK(((SetTreeFn)Find("SetTreeMessageFunctionPtr"))(HostTree) == (intptr_t)HostTree);
  CHECK(((SetPathFn)Find("CPP_SetProgramPath"))(dir) == 0);

  /* The C++ exports under the names a Windows C++ compiler gives them. */
  ErrorFn error = (ErrorFn)Find("?Error@@YAXGPADH@Z");
  Compare3Fn compare3 = (Compare3Fn)Find("?Compare@@YAHPAX0J@Z");
  Compare4Fn compare4 = (Compare4Fn)Find("?Compare@@YAHPAXJ0J@Z");
  char abc[] = "abc", abd[] = "abd", ab[] = "ab";
  CHECK(compare3(abc, abd, 3) == -1);
  CHECK(compare3(abd, abc, 3) == 1);
  CHECK(compare3(abc, abd, 2) == 0);
  CHECK(compare4(ab, 2, abc, 3) == -1);
  CHECK(compare4(abd, 3, abc, 3) == 1);
  char filled[6] = "-----";
  ((FillFn)Find("Fill"))(filled + 1, 3, 'x');
  CHECK(strcmp(filled, "-xxx-") == 0);

  /* An error reported through the host's error function. */
  char extra[] = "from the host";
  error(903, extra, 1);
  CHECK(g_errorCount == 1);
  CHECK(LastErrorIs(903));
  CHECK(strstr(g_lastError, "\nfrom the host") != NULL);

  /* A native base: created, one game written from PGN text, its block and pattern checked. */
  HostFieldEntry entries[5];
  entries[0] = Entry(LUDREX_FIELD_STRING, "~16", "");
  entries[1] = Entry(LUDREX_FIELD_STRING, "~1", "");
  entries[2] = Entry(LUDREX_FIELD_INT, "~9", "2u");
  entries[3] = Entry(LUDREX_FIELD_RESULT, "~14", "");
  entries[4] = Entry(LUDREX_FIELD_CHESS, "~22", "");
  HostRecordPattern pattern = {5, entries};
  char native[MAX_PATH], pgn[MAX_PATH];
  snprintf(native, sizeof native, "%s\\ludrex_win32host", dir);
  snprintf(pgn, sizeof pgn, "%s\\ludrex_win32host_pgn", dir);
  EraseFn erase = (EraseFn)Find("Base_BaseErase");
  erase(native, 0);
  erase(pgn, 2);

  CreateFn create = (CreateFn)Find("Base_BaseCreate");
  OpenFn open = (OpenFn)Find("Base_BaseOpen");
  BaseFn destroy = (BaseFn)Find("Base_BaseDestroy");
  BaseIntFn length = (BaseIntFn)Find("Base_GetBaseLength");
  ReadFn read = (ReadFn)Find("Base_Read");
  WriteFn write = (WriteFn)Find("Base_Write");
  RecordCreateFn newRecord = (RecordCreateFn)Find("Record_CreateRecord");
  RecordDestroyFn freeRecord = (RecordDestroyFn)Find("Record_Destroy");
  GetFieldFn field = (GetFieldFn)Find("Record_GetField");
  GetPgnFn getPgn = (GetPgnFn)Find("Record_GetPGNBuffer");
  DeletePgnFn deletePgn = (DeletePgnFn)Find("Record_DeletePGNBuffer");
  FromPgnFn fromPgn = (FromPgnFn)Find("Record_CreateFromPGNBuffer");
  GetStrFn getStr = (GetStrFn)Find("StringField_GetStrPtr");
  GetIntFn getInt = (GetIntFn)Find("IntField_GetValue");
  EqualFn equal = (EqualFn)Find("ChessField_EqualTo");

  LudrexBase* base = create(native, &pattern, 0);
  CHECK(base != NULL);
  if (base == NULL) {
    printf("Base_BaseCreate failed: %s\n", g_lastError);
    return 1;
  }
  /* The base's pattern, at the 32-bit offsets; records are made from it, as hosts do. */
  PatternFn getPattern = (PatternFn)Find("Base_GetRecordPattern");
  DestroyRPFn destroyPattern = (DestroyRPFn)Find("CPP_DestroyRP");
  HostRecordPattern* own = getPattern(base);
  CHECK(own != NULL);
  if (own == NULL) return 1;
  int where[5];
  CheckPatternBytes(own, entries, 5, where);
  for (int k = 0; k < 5; ++k) {
    if (where[k] < 0) return 1;
  }
  LudrexRecord* game = newRecord(own);
  LudrexRecord* again = newRecord(own);
  CHECK(destroyPattern(own) == 0);
  fromPgn(game, kGame, (int)strlen(kGame));
  CHECK(strcmp(getStr(field(game, where[1])), "Smith") == 0);
  CHECK(getInt(field(game, where[2])) == 2100);
  CHECK(write(base, AppendRecord, game) == 0);
  CHECK(write(base, AppendRecord, game) == 1);
  CHECK(length(base) == 2);

  /* The base information block: filled at the 32-bit offsets, nothing written past its end. */
  struct {
    HostBaseInfo info;
    unsigned char guard[16];
  } block;
  memset(&block, 0x5a, sizeof block);
  block.info.flag = 1;
  strcpy(block.info.description, "Written by a 32-bit host");
  ((InfoFn)Find("Base_SetBaseInfo"))(base, &block.info);
  memset(&block, 0x5a, sizeof block);
  ((InfoFn)Find("Base_GetBaseInfo"))(base, &block.info);
  const unsigned char* raw = (const unsigned char*)&block;
  int32_t flag;
  memcpy(&flag, raw, 4);
  CHECK(flag == 1);
  CHECK(strcmp((const char*)raw + 4, native) == 0);
  CHECK(strcmp((const char*)raw + 264, "Written by a 32-bit host") == 0);
  for (int i = 0; i < 16; ++i) CHECK(block.guard[i] == 0x5a);

  /* Read back and written out as PGN text again. */
  read(base, 1, again);
  char* text = getPgn(again);
  CHECK(text != NULL);
  if (text != NULL) {
    CHECK(strstr(text, "[White \"Smith\"]\r\n") != NULL);
    CHECK(strstr(text, "1. e4 e5 2. Nf3 {develops} 2... Nc6 3. Bb5 a6 1-0") != NULL);
    deletePgn(text);
  }
  CHECK(strcmp(getStr(field(again, where[1])), "Smith") == 0);
  CHECK(equal(field(game, where[4]), field(again, where[4])) == 1);
  char moves[256];
  const int n = ((NotationFn)Find("NW_ReadNotationPGN"))(base, 0, moves, sizeof moves);
  CHECK(n > 0 && n < (int)sizeof moves);
  if (n > 0 && n < (int)sizeof moves) {
    moves[n] = '\0';
    if (strstr(moves, "Nf3") == NULL || strstr(moves, "Bb5") == NULL) {
      printf("move text: %s\n", moves);
      ++g_failures;
    }
  }

  /* An error the library finds goes to the host's function; the call returns. */
  const int errorsBefore = g_errorCount;
  read(base, 2, again);
  CHECK(g_errorCount == errorsBefore + 1);
  CHECK(LastErrorIs(903));

  /* A PGN base: the native base's games copied into it with progress shown, then reopened. */
  LudrexBase* pgnBase = create(pgn, &pattern, 2);
  CHECK(pgnBase != NULL);
  if (pgnBase != NULL) {
    CHECK(((AppendFn)Find("Base_AppendAnother"))(base, pgnBase, NULL, 1, 0, NULL) == 2);
    CHECK(g_starts >= 1);
    CHECK(g_finishes == g_starts);
    destroy(pgnBase);
    pgnBase = open(pgn, 2);
    CHECK(pgnBase != NULL);
  }
  if (pgnBase != NULL) {
    CHECK(length(pgnBase) == 2);
    HostRecordPattern* pgnPattern = getPattern(pgnBase);
    LudrexRecord* fromFile = newRecord(pgnPattern);
    read(pgnBase, 1, fromFile);
    text = getPgn(fromFile);
    CHECK(text != NULL && strstr(text, "3. Bb5 a6 1-0") != NULL);
    if (text != NULL) deletePgn(text);
    freeRecord(fromFile);
    destroyPattern(pgnPattern);
    destroy(pgnBase);
  }
  destroy(base);

  unsigned char shortInfo[264 + 8];
  memset(shortInfo, 0x5a, sizeof shortInfo);
  ((ShortInfoFn)Find("Base_GetShortInfo"))(0, native, shortInfo);
  int32_t count;
  memcpy(&count, shortInfo, 4);
  CHECK(count == 2);
  CHECK(strcmp((const char*)shortInfo + 4, "Written by a 32-bit host") == 0);
  for (int i = 264; i < (int)sizeof shortInfo; ++i) CHECK(shortInfo[i] == 0x5a);

  freeRecord(game);
  freeRecord(again);
  erase(native, 0);
  erase(pgn, 2);

  /* Shut-down: no base left open, so nothing to report. */
  const int errorsAtEnd = g_errorCount;
  CHECK(((IntFn)Find("CPP_Done"))() == 0);
  CHECK(g_errorCount == errorsAtEnd);
  CHECK(g_dialogs == 0);
  ((SetErrorFn)Find("SetErrorFunction"))(NULL);
  FreeLibrary(g_dll);

  printf("win32host: %d exports found, %d check(s) failed\n", exports, g_failures);
  return g_failures == 0 ? 0 : 1;
}
