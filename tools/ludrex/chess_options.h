// The position options of ludrex search (--fen, --moves, --side, --material, --plies,
// --commented, --comment, --variations, --mirror): registered on a sub-command and turned into
// a game-score criterion.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "ludrex.h"

namespace ludrex_tool {

struct ChessOptions {
  std::string fen, moves, side, material, plies, comment, mirror;
  bool commented = false, variations = false;
  bool Used() const {
    return !fen.empty() || !moves.empty() || !side.empty() || !material.empty() ||
           !plies.empty() || !comment.empty() || !mirror.empty() || commented;
  }
};

void AddChessOptions(CLI::App* cmd, ChessOptions& o);

// Fills a game-score criterion from the options; an empty text when done, else what is wrong.
std::string FillChessCriterion(const ChessOptions& o, LudrexField* crit);

}  // namespace ludrex_tool
