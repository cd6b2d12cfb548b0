// The game-score criterion's accessors and ChessField_Find for the host.
#include <cstring>

#include "exports/guard.h"
#include "frame/error.h"
#include "movegen/game.h"
#include "movegen/position.h"
#include "record/chess_codec.h"
#include "record/native_replay.h"
#include "ludrex.h"
#include "base/base.h"
#include "record/field_chess.h"
#include "search/chess_crit.h"
#include "search/subset.h"

using namespace ludrex;

namespace {

Field& FieldOf(LudrexField* handle) {
  if (handle == nullptr) Raise(7);
  return *reinterpret_cast<Field*>(handle);
}

ChessFieldCrit& Crit(LudrexField* handle) {
  auto* c = dynamic_cast<ChessFieldCrit*>(&FieldOf(handle));
  if (c == nullptr) Raise(803);
  return *c;
}

// The settings, to change (the criterion prepares itself again before its next match).
PositionSettings& Set(LudrexField* handle) { return Crit(handle).Settings(); }
const PositionSettings& Get(LudrexField* handle) {
  return static_cast<const ChessFieldCrit&>(Crit(handle)).Settings();
}

void CheckCount(int n) {
  if (n < 0) Raise(14);
}
template <class V>
std::size_t Index(const V& v, int i) {
  if (i < 0 || static_cast<std::size_t>(i) >= v.size()) Raise(12);
  return static_cast<std::size_t>(i);
}

}  // namespace

extern "C" LUDREX_API void ChessFieldCrit_SetRestInfo(LudrexField* crit, int positionOn,
                                                      int regionsA, int regionFlag, int regionsB,
                                                      int sideMask, int includeVariations) {
  GuardVoid([&] {
    ChessFieldCrit& c = Crit(crit);
    PositionSettings& s = c.Settings();
    s.positionOn = positionOn != 0 ? 1 : 0;
    s.regionsOn = regionsA != 0 || regionsB != 0 ? 1 : 0;
    s.regionFlag = regionFlag;
    s.sideMask = sideMask;
    s.includeVariations = includeVariations;
    c.Prepare();
  });
}

extern "C" LUDREX_API void ChessFieldCrit_GetRestInfo(LudrexField* crit, int* positionOn,
                                                      int* regionsOn, int* regionFlag,
                                                      int* sideMask, int* includeVariations) {
  GuardVoid([&] {
    const PositionSettings& s = Get(crit);
    if (positionOn) *positionOn = s.positionOn;
    if (regionsOn) *regionsOn = s.regionsOn;
    if (regionFlag) *regionFlag = s.regionFlag;
    if (sideMask) *sideMask = s.sideMask;
    if (includeVariations) *includeVariations = s.includeVariations;
  });
}

extern "C" LUDREX_API uint32_t* ChessFieldCrit_GetNormalPos(LudrexField* crit) {
  return Guard<uint32_t*>(nullptr, [&] { return Set(crit).squareMasks; });
}
extern "C" LUDREX_API uint32_t* ChessFieldCrit_GetAdvancedPos(LudrexField* crit) {
  return Guard<uint32_t*>(nullptr, [&] { return Set(crit).regionMasks; });
}
extern "C" LUDREX_API int32_t* ChessFieldCrit_GetMaterial(LudrexField* crit, int g) {
  return Guard<int32_t*>(nullptr, [&] {
    if (g < 0 || g > 3) Raise(12);
    return &Set(crit).material[g][0][0];
  });
}

extern "C" LUDREX_API int ChessFieldCrit_GetLength(LudrexField* crit) {
  return Guard<int>(0, [&] { return static_cast<int>(Get(crit).lengths.size()); });
}
extern "C" LUDREX_API void ChessFieldCrit_SetLength(LudrexField* crit, int n) {
  GuardVoid([&] {
    CheckCount(n);
    Set(crit).lengths.resize(static_cast<std::size_t>(n), {0, 0});
  });
}
extern "C" LUDREX_API void ChessFieldCrit_GetPair(LudrexField* crit, int i, int* upper,
                                                  int* lower) {
  GuardVoid([&] {
    const auto& v = Get(crit).lengths;
    const auto& p = v[Index(v, i)];
    if (upper) *upper = p.second;
    if (lower) *lower = p.first;
  });
}
extern "C" LUDREX_API void ChessFieldCrit_SetPair(LudrexField* crit, int i, int upper,
                                                  int lower) {
  GuardVoid([&] {
    auto& v = Set(crit).lengths;
    v[Index(v, i)] = {lower, upper};
  });
}

extern "C" LUDREX_API int ChessFieldCrit_GetNVariations(LudrexField* crit) {
  return Guard<int>(0, [&] { return Get(crit).minVariations; });
}
extern "C" LUDREX_API void ChessFieldCrit_SetNVariations(LudrexField* crit, int n) {
  GuardVoid([&] { Set(crit).minVariations = n; });
}
extern "C" LUDREX_API int ChessFieldCrit_GetStartPos(LudrexField* crit) {
  return Guard<int>(0, [&] { return Get(crit).setupStart; });
}
extern "C" LUDREX_API void ChessFieldCrit_SetStartPos(LudrexField* crit, int on) {
  GuardVoid([&] { Set(crit).setupStart = on != 0 ? 1 : 0; });
}
extern "C" LUDREX_API int ChessFieldCrit_GetAnyCom(LudrexField* crit) {
  return Guard<int>(0, [&] { return Get(crit).anyComment; });
}
extern "C" LUDREX_API void ChessFieldCrit_SetAnyCom(LudrexField* crit, int on) {
  GuardVoid([&] { Set(crit).anyComment = on != 0 ? 1 : 0; });
}

extern "C" LUDREX_API void ChessFieldCrit_UseTextComments(LudrexField* crit, int on) {
  GuardVoid([&] { Set(crit).textCommentsOn = on != 0 ? 1 : 0; });
}
extern "C" LUDREX_API void ChessFieldCrit_SetTextCommentsLength(LudrexField* crit, int n) {
  GuardVoid([&] {
    CheckCount(n);
    auto& v = Set(crit).textComments;
    v.assign(static_cast<std::size_t>(n), TextCommentEntry());
  });
}
extern "C" LUDREX_API int ChessFieldCrit_GetTextCommentsLength(LudrexField* crit) {
  return Guard<int>(0, [&] { return static_cast<int>(Get(crit).textComments.size()); });
}

namespace {
void SetEntryText(LudrexField* crit, int i, const char* text, int length, bool info) {
  if (length < 0) Raise(14);
  if (text == nullptr && length > 0) Raise(7);
  auto& v = Set(crit).textComments;
  TextCommentEntry& e = v[Index(v, i)];
  std::string t(text != nullptr ? text : "", static_cast<std::size_t>(length));
  if (info) {
    e.info = std::move(t);
    e.hasInfo = true;
  } else {
    e.prefix = std::move(t);
    e.hasPrefix = true;
  }
}
}  // namespace

extern "C" LUDREX_API void ChessFieldCrit_SetTextCommentPrefix(LudrexField* crit, int i,
                                                               const char* text, int length) {
  GuardVoid([&] { SetEntryText(crit, i, text, length, false); });
}
extern "C" LUDREX_API void ChessFieldCrit_SetTextCommentInfo(LudrexField* crit, int i,
                                                             const char* text, int length) {
  GuardVoid([&] { SetEntryText(crit, i, text, length, true); });
}
extern "C" LUDREX_API void ChessFieldCrit_SetTextCommentsInfoOptions(LudrexField* crit, int i,
                                                                     int searchType,
                                                                     int caseSensitive) {
  GuardVoid([&] {
    auto& v = Set(crit).textComments;
    TextCommentEntry& e = v[Index(v, i)];
    e.searchType = static_cast<std::uint8_t>(searchType);
    e.caseSensitive = caseSensitive;
  });
}
extern "C" LUDREX_API int ChessFieldCrit_GetTextCommentPrefix(LudrexField* crit, int i) {
  return Guard<int>(0, [&] {
    const auto& v = Get(crit).textComments;
    return v[Index(v, i)].hasPrefix ? 0 : 1;
  });
}
extern "C" LUDREX_API int ChessFieldCrit_GetTextCommentInfo(LudrexField* crit, int i) {
  return Guard<int>(0, [&] {
    const auto& v = Get(crit).textComments;
    return v[Index(v, i)].hasInfo ? 0 : 1;
  });
}
extern "C" LUDREX_API int ChessFieldCrit_GetTextCommentsInfoSearchType(LudrexField* crit, int i) {
  return Guard<int>(0, [&] {
    const auto& v = Get(crit).textComments;
    return static_cast<int>(v[Index(v, i)].searchType);
  });
}
extern "C" LUDREX_API int ChessFieldCrit_GetTextCommentsInfoCaseSensitive(LudrexField* crit,
                                                                          int i) {
  return Guard<int>(0, [&] {
    const auto& v = Get(crit).textComments;
    return v[Index(v, i)].caseSensitive;
  });
}
extern "C" LUDREX_API void ChessFieldCrit_ClearTextComments(LudrexField* crit) {
  GuardVoid([&] { Set(crit).textComments.clear(); });
}

extern "C" LUDREX_API void ChessFieldCrit_SetEventList(LudrexField* crit, const void* list,
                                                       int flag) {
  GuardVoid([&] {
    ChessFieldCrit& c = Crit(crit);
    PositionSettings& s = c.Settings();
    if (list == nullptr) {
      s.eventListOn = 0;
      s.eventList.clear();
      s.eventList.shrink_to_fit();
    } else {
      std::uint32_t size = 0;
      std::memcpy(&size, list, 4);
      // A block shorter than its own length field is refused.
      if (size < 4) Raise(14);
      const auto* p = static_cast<const std::uint8_t*>(list);
      s.eventList.assign(p, p + size);
      s.eventListOn = 1;
      s.eventFlag = flag;
    }
    c.Prepare();
  });
}
extern "C" LUDREX_API const void* ChessFieldCrit_GetEventList(LudrexField* crit) {
  return Guard<const void*>(nullptr, [&]() -> const void* {
    const PositionSettings& s = Get(crit);
    return s.eventListOn != 0 ? s.eventList.data() : nullptr;
  });
}

extern "C" LUDREX_API void ChessFieldCrit_SetMatDiff(LudrexField* crit, const int32_t* values,
                                                     int persistence, uint32_t countRange) {
  GuardVoid([&] {
    PositionSettings& s = Set(crit);
    if (values == nullptr) {
      s.matDiffOn = 0;
      return;
    }
    s.matDiffOn = 1;
    for (int i = 0; i < 6; ++i) {
      s.matMin[i] = values[i];
      s.matMax[i] = values[6 + i];
    }
    s.persistence = persistence;
    s.countRange = countRange;
  });
}
extern "C" LUDREX_API void ChessFieldCrit_SetMirrors(LudrexField* crit, int value) {
  GuardVoid([&] {
    PositionSettings& s = Set(crit);
    s.mirrorOn = value != 0 ? 1 : 0;
    s.mirrorValue = value;
  });
}
extern "C" LUDREX_API void ChessFieldCrit_Bishops(LudrexField* crit, int on, int kind) {
  GuardVoid([&] {
    PositionSettings& s = Set(crit);
    s.bishopsOn = on != 0 ? 1 : 0;
    if (on != 0) s.bishopsKind = kind != 0 ? 1 : 0;
  });
}
extern "C" LUDREX_API void ChessFieldCrit_Copy(LudrexField* dst, LudrexField* src) {
  GuardVoid([&] { Crit(dst).Assign(Crit(src)); });
}

extern "C" LUDREX_API int ChessField_Find(LudrexField* field, LudrexField* crit, int* ply) {
  return Guard<int>(0, [&] {
    auto* chess = dynamic_cast<ChessField*>(&FieldOf(field));
    if (chess == nullptr) Raise(803);
    ChessFieldCrit& c = Crit(crit);
    const std::int32_t saved = c.Settings().includeVariations;
    // The main line first; inside variations only when the criterion asks for them.
    c.Settings().includeVariations = 0;
    int r = chess->Matches(&c);
    if (r == 0 && saved != 0) {
      c.Settings().includeVariations = 1;
      r = chess->Matches(&c);
    }
    c.Settings().includeVariations = saved;
    if (r != 0 && ply != nullptr) *ply = chess->matchPly_;
    return r;
  });
}

namespace {
// Every square's mask becomes the code of what stands there; the side to move (0 White) is the
// only one admitted; the position is on and the criterion prepared.
void SetExact(LudrexField* crit, const std::int8_t* board, int side) {
  ChessFieldCrit& c = Crit(crit);
  PositionSettings& s = c.Settings();
  for (int sq = 0; sq < 128; ++sq) s.squareMasks[sq] = (sq & 0x88) != 0 ? 0 : SquareCode(board[sq]);
  s.positionOn = 1;
  s.sideMask = side == 0 ? 1 : 2;
  c.Prepare();
}
}  // namespace

extern "C" LUDREX_API int ChessFieldCrit_SetExactFEN(LudrexField* crit, const char* fen) {
  return Guard<int>(0, [&] {
    Crit(crit);
    if (fen == nullptr) Raise(7);
    chess::Position pos;
    if (!pos.SetFen(fen, std::strlen(fen))) return 0;
    std::int8_t board[128];
    pos.GetBoard(board);
    SetExact(crit, board, pos.SideToMove() == chess::kWhite ? 0 : 1);
    return 1;
  });
}

extern "C" LUDREX_API int ChessFieldCrit_SetExactMoves(LudrexField* crit, const char* moves) {
  return Guard<int>(0, [&] {
    Crit(crit);
    if (moves == nullptr) Raise(7);
    Game* game = GameCreate();
    bool whole = GameReadPgn(game, moves, static_cast<int>(std::strlen(moves)));
    GameFinish(game);
    ByteBlock bytes;
    EncodeNativeGame(game, bytes);
    GameDestroy(game);
    if (!whole) return 0;
    std::int32_t n = NativeMainLine(bytes.Data(), bytes.Count());
    NativeReplay replay;
    for (std::int32_t at = 0; at < n;) {
      int used = replay.Play(bytes.Data() + at, n - at);
      if (used <= 0) return 0;
      at += used;
    }
    SetExact(crit, replay.Board(), replay.Side());
    return 1;
  });
}
