// The record pattern `ludrex import` gives a new native base, and its counterpart for reading PGN.
#pragma once

#include "ludrex.h"

namespace ludrex_tool {

// The native base: White and Black as library references into "Players", Event into "Events",
// Site into "Places", Annotator into "Annotators"; Date (full), Round, Result, ECO, WhiteElo,
// BlackElo, Remark, Source and the moves. Free with FreePattern.
HostRecordPattern* DefaultPattern();
// The same fields with plain texts in place of the library references: how a PGN file is read
// so that every tag of the default pattern is kept.
HostRecordPattern* PgnPattern();
void FreePattern(HostRecordPattern* pattern);

}  // namespace ludrex_tool
