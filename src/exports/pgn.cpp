// PGN exports: one game as PGN text and back, the move text of a base's game, and opening a PGN
// file with the host's pattern.
#include <cstring>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/pgn/pgn_base.h"
#include "exports/guard.h"
#include "frame/error.h"
#include "ludrex.h"
#include "record/field.h"
#include "record/pattern.h"
#include "record/pgn_text.h"
#include "record/record.h"
#include "storage/memory.h"

using namespace ludrex;

namespace {

Record& RecordOf(LudrexRecord* handle) {
  if (handle == nullptr) Raise(7);
  return *reinterpret_cast<Record*>(handle);
}

}  // namespace

extern "C" LUDREX_API char* Record_GetPGNBuffer(LudrexRecord* record) {
  return Guard<char*>(nullptr, [&] {
    std::string text;
    WritePgnGame(RecordOf(record), false, text);
    if (text.size() >= 0x7FFFFFFF) Raise(1);
    char* block = static_cast<char*>(MemAlloc(static_cast<std::int32_t>(text.size() + 1)));
    std::memcpy(block, text.data(), text.size());
    block[text.size()] = 0;
    return block;
  });
}

extern "C" LUDREX_API void Record_DeletePGNBuffer(char* text) {
  GuardVoid([&] { MemFree(text); });
}

extern "C" LUDREX_API void Record_CreateFromPGNBuffer(LudrexRecord* record, const char* text,
                                                      int length) {
  GuardVoid([&] {
    Record& r = RecordOf(record);
    if (text == nullptr || length < 0) length = 0;
    // The first game runs from the first game start to the second (or the end).
    PgnScanner scanner;
    std::vector<std::int64_t> starts;
    scanner.Feed(text, static_cast<std::size_t>(length), 0, starts);
    if (starts.empty()) Raise(903);
    const std::int64_t begin = starts[0];
    const std::int64_t end = starts.size() > 1 ? starts[1] : length;
    PgnGameText game;
    ParsePgnGame(text + begin, static_cast<std::size_t>(end - begin), game);
    FillRecordFromPgn(game, false, r);
  });
}

extern "C" LUDREX_API int NW_ReadNotationPGN(LudrexBase* base, int recordNumber, char* buffer,
                                             int size) {
  return Guard(0, [&]() -> int {
    if (base == nullptr) Raise(7);
    Base* b = reinterpret_cast<Base*>(base);
    const RecordPattern& pattern = b->GetRecordPattern();
    std::int32_t moves = -1;
    for (std::int32_t i = 0; i < pattern.Count(); ++i)
      if (UnpackFieldMeaning(pattern[i].name) == 22 && pattern[i].name.Length() > 0) moves = i;
    if (moves < 0) return 0;
    RecordPattern one;
    one.Append(pattern[moves]);
    Record r(one);
    b->Read(recordNumber, r);
    ByteBlock text = r[0].Pack(kPgnBase, r[0].Spec().param);
    if (text.Count() > size) return -text.Count();
    if (text.Count() > 0) std::memcpy(buffer, text.Data(), static_cast<std::size_t>(text.Count()));
    return text.Count();
  });
}

extern "C" LUDREX_API LudrexBase* Base_PgnOpenWithPattern(const char* name,
                                                          HostRecordPattern* pattern) {
  return Guard<LudrexBase*>(nullptr, [&] {
    RecordPattern p = PatternFromHost(pattern);
    return reinterpret_cast<LudrexBase*>(OpenPgnBaseWithPattern(String(name), p));
  });
}

extern "C" LUDREX_API int Base_PgnGetIncompleteCount(LudrexBase* base) {
  return Guard(-1, [&] {
    if (base == nullptr) Raise(7);
    auto* pgn = dynamic_cast<PgnBase*>(reinterpret_cast<Base*>(base));
    return pgn != nullptr ? pgn->IncompleteGames() : -1;
  });
}
