#include "pattern.h"

#include <cstdlib>
#include <cstring>

namespace ludrex_tool {
namespace {

// Field meanings carried in names as "~m".
enum Meaning {
  kWhite = 1, kBlack = 2, kName = 3, kWhiteElo = 9, kBlackElo = 10, kPlace = 11, kCity = 12,
  kResult = 14, kDate = 15, kEvent = 16, kRound = 17, kEco = 18, kRemark = 19, kAnnotator = 20,
  kSource = 21, kMoves = 22,
};
constexpr int kKeyFlag = 2;

char* Dup(const char* s) {
  char* t = static_cast<char*>(std::malloc(std::strlen(s) + 1));
  std::strcpy(t, s);
  return t;
}

char* MeaningName(int meaning) {
  char buf[8];
  buf[0] = '~';
  int n = 1;
  if (meaning >= 10) buf[n++] = static_cast<char>('0' + meaning / 10);
  buf[n++] = static_cast<char>('0' + meaning % 10);
  buf[n] = 0;
  return Dup(buf);
}

struct Spec {
  int type;
  int meaning;
  int flags;
  const char* text;  // Param text, or the library's name for a library reference
  int libraryMeaning;  // the name field of the library
};

HostRecordPattern* Build(const Spec* specs, int n, bool libraries) {
  auto* p = static_cast<HostRecordPattern*>(std::malloc(sizeof(HostRecordPattern)));
  p->count = n;
  p->entries = static_cast<HostFieldEntry*>(std::calloc(static_cast<std::size_t>(n), sizeof(HostFieldEntry)));
  for (int i = 0; i < n; ++i) {
    HostFieldEntry& e = p->entries[i];
    const Spec& s = specs[i];
    bool lib = libraries && s.libraryMeaning != 0;
    e.type = lib ? LUDREX_FIELD_LIBREF : s.type;
    e.name = MeaningName(s.meaning);
    e.param = s.flags;
    e.text = Dup(lib ? s.text : (s.libraryMeaning != 0 ? "" : s.text));
    if (lib) {
      Spec name = {LUDREX_FIELD_STRING, s.libraryMeaning, kKeyFlag, "", 0};
      e.extra.library = Build(&name, 1, false);
    } else {
      e.extra.value = 0;
    }
  }
  return p;
}

// In the order of PGN's tag roster, so that exported games list their tags as usual.
const Spec kSpecs[] = {
    {LUDREX_FIELD_STRING, kEvent, 0, "Events", kEvent},
    {LUDREX_FIELD_STRING, kPlace, 0, "Places", kCity},
    {LUDREX_FIELD_DATE, kDate, 0, "F", 0},
    {LUDREX_FIELD_ROUND, kRound, 0, "", 0},
    {LUDREX_FIELD_STRING, kWhite, 0, "Players", kName},
    {LUDREX_FIELD_STRING, kBlack, 0, "Players", kName},
    {LUDREX_FIELD_RESULT, kResult, 0, "", 0},
    {LUDREX_FIELD_INT, kWhiteElo, 0, "2U", 0},
    {LUDREX_FIELD_INT, kBlackElo, 0, "2U", 0},
    {LUDREX_FIELD_ECO, kEco, 0, "", 0},
    {LUDREX_FIELD_STRING, kAnnotator, 0, "Annotators", kName},
    {LUDREX_FIELD_STRING, kRemark, 0, "", 0},
    {LUDREX_FIELD_STRING, kSource, 0, "", 0},
    {LUDREX_FIELD_CHESS, kMoves, 0, "", 0},
};
constexpr int kCount = static_cast<int>(sizeof kSpecs / sizeof kSpecs[0]);

}  // namespace

HostRecordPattern* DefaultPattern() { return Build(kSpecs, kCount, true); }

HostRecordPattern* PgnPattern() { return Build(kSpecs, kCount, false); }

void FreePattern(HostRecordPattern* p) {
  if (p == nullptr) return;
  for (int i = 0; i < p->count; ++i) {
    std::free(p->entries[i].name);
    std::free(p->entries[i].text);
    if (p->entries[i].type == LUDREX_FIELD_LIBREF) FreePattern(p->entries[i].extra.library);
  }
  std::free(p->entries);
  std::free(p);
}

}  // namespace ludrex_tool
