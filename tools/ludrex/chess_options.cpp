#include "chess_options.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "text.h"

namespace ludrex_tool {
namespace {

// "N" or "MIN-MAX" (also "MIN..MAX"); false when it is neither.
bool CountRange(const std::string& text, int* lo, int* hi) {
  std::string a = text, b = text;
  std::size_t dash = text.find("..");
  std::size_t skip = 2;
  if (dash == std::string::npos) {
    dash = text.find('-');
    skip = 1;
  }
  if (dash != std::string::npos) {
    a = text.substr(0, dash);
    b = text.substr(dash + skip);
  }
  auto number = [](const std::string& s, int* v) {
    if (s.empty() || s.size() > 3) return false;
    for (char c : s)
      if (c < '0' || c > '9') return false;
    *v = std::atoi(s.c_str());
    return true;
  };
  return number(a, lo) && number(b, hi) && *lo <= *hi;
}

}  // namespace

void AddChessOptions(CLI::App* cmd, ChessOptions& o) {
  cmd->add_option("--fen", o.fen, "the exact position of a FEN (side to move from the FEN)");
  cmd->add_option("--moves", o.moves,
                  "the exact position after these moves from the start, \"e4 c5 Nf3 d6\" "
                  "(reached in any move order)");
  cmd->add_option("--side", o.side, "side to move: white, black or any")
      ->check(CLI::IsMember({"white", "black", "any"}));
  cmd->add_option("--material", o.material,
                  "piece counts, \"Q=0 q=0\", \"R=1 r=1 B=0 b=0 N=0 n=0 Q=0 q=0\", ranges "
                  "\"P=2-4\" (upper case White)");
  cmd->add_option("--plies", o.plies, "game length in plies MIN..MAX (counted in whole moves)");
  cmd->add_flag("--commented", o.commented, "games with an annotation or a variation");
  cmd->add_option("--comment", o.comment, "an annotation containing this text (any case)");
  cmd->add_flag("--variations", o.variations, "positions and annotations inside variations count");
  cmd->add_option("--mirror", o.mirror, "also the position mirrored: lr, colours or both")
      ->check(CLI::IsMember({"lr", "colours", "both"}));
}

std::string FillChessCriterion(const ChessOptions& o, LudrexField* crit) {
  if (!o.fen.empty() && !o.moves.empty()) return "--fen and --moves exclude each other";
  int positionOn = 0;
  int side = 3;
  if (!o.fen.empty()) {
    if (ChessFieldCrit_SetExactFEN(crit, o.fen.c_str()) != 1) return "not a FEN: " + o.fen;
    positionOn = 1;
  }
  if (!o.moves.empty()) {
    if (ChessFieldCrit_SetExactMoves(crit, o.moves.c_str()) != 1)
      return "cannot play the moves: " + o.moves;
    positionOn = 1;
  }
  if (positionOn != 0) ChessFieldCrit_GetRestInfo(crit, nullptr, nullptr, nullptr, &side, nullptr);
  if (o.side == "white") side = 1;
  if (o.side == "black") side = 2;
  if (o.side == "any") side = 3;

  int regions = 0;
  if (!o.material.empty()) {
    // Region 0 is the whole board; the other regions are empty and always satisfied.
    uint32_t* areas = ChessFieldCrit_GetAdvancedPos(crit);
    for (int sq = 0; sq < 128; ++sq) areas[sq] = (sq & 0x88) == 0 ? 1u : 0u;
    for (int g = 0; g < 4; ++g) {
      int32_t* pairs = ChessFieldCrit_GetMaterial(crit, g);
      for (int k = 0; k < 14; ++k) {
        pairs[2 * k] = 64;
        pairs[2 * k + 1] = 0;
      }
    }
    int32_t* whole = ChessFieldCrit_GetMaterial(crit, 0);
    std::istringstream in(o.material);
    std::string item;
    const char* letters = "PNBRQK";
    while (in >> item) {
      int lo = 0, hi = 0;
      const char* at = item.size() >= 3 && item[1] == '=' ? std::strchr(letters, item[0] & ~0x20)
                                                          : nullptr;
      if (at == nullptr || item[0] == 0 || !CountRange(item.substr(2), &lo, &hi))
        return "not a material condition: " + item;
      int k = static_cast<int>(at - letters) + (item[0] >= 'a' ? 7 : 0);
      whole[2 * k] = hi;
      whole[2 * k + 1] = lo;
    }
    regions = 1;
  }
  ChessFieldCrit_SetRestInfo(crit, positionOn, regions, 0, 0, side, o.variations ? 1 : 0);

  if (!o.plies.empty()) {
    std::size_t dots = o.plies.find("..");
    std::string a = dots == std::string::npos ? o.plies : o.plies.substr(0, dots);
    std::string b = dots == std::string::npos ? o.plies : o.plies.substr(dots + 2);
    char* end = nullptr;
    long lo = a.empty() ? 0 : std::strtol(a.c_str(), &end, 10);
    if (!a.empty() && (*end != 0 || lo < 0)) return "not a ply range: " + o.plies;
    long hi = b.empty() ? 100000 : std::strtol(b.c_str(), &end, 10);
    if (!b.empty() && (*end != 0 || hi < lo)) return "not a ply range: " + o.plies;
    // Lengths are kept in moves: (plies + 1) / 2.
    ChessFieldCrit_SetLength(crit, 1);
    ChessFieldCrit_SetPair(crit, 0, static_cast<int>((hi + 1) / 2), static_cast<int>((lo + 1) / 2));
  }
  if (o.commented) ChessFieldCrit_SetAnyCom(crit, 1);
  if (!o.comment.empty()) {
    std::string text = Utf8ToCp1251(o.comment);
    ChessFieldCrit_UseTextComments(crit, 1);
    ChessFieldCrit_SetTextCommentsLength(crit, 1);
    ChessFieldCrit_SetTextCommentInfo(crit, 0, text.data(), static_cast<int>(text.size()));
    ChessFieldCrit_SetTextCommentsInfoOptions(crit, 0, 2, 0);
  }
  if (o.mirror == "lr") ChessFieldCrit_SetMirrors(crit, 1);
  if (o.mirror == "colours") ChessFieldCrit_SetMirrors(crit, 2);
  if (o.mirror == "both") ChessFieldCrit_SetMirrors(crit, 3);
  return "";
}

}  // namespace ludrex_tool
