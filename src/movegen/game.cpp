#include "movegen/game.h"

#include <cstring>

#include "movegen/game_store.h"

namespace ludrex {

Game* GameCreate(int) {
  Game* g = new Game;
  g->elements.reserve(256);
  g->pool.reserve(1024);
  return g;
}

void GameDestroy(Game* game) { delete game; }

void GameClear(Game* game) {
  if (game) game->Clear();
}

int GameRewind(Game* game) {
  if (!game) return 0;
  game->cursor = 0;
  return !game->elements.empty() && game->elements[0].kind == kElementSetup;
}

int GameNext(Game* game, ChessElement* element) {
  if (!game || !element || game->cursor >= game->elements.size()) return 0;
  const StoredElement& s = game->elements[game->cursor++];
  ChessElement e{};
  e.kind = s.kind;
  e.piece = s.piece;
  e.from = s.from;
  e.to = s.to;
  if (s.kind == kElementAnnotation) {
    e.count = s.count;
    e.bytes = game->pool.data() + s.offset;
  } else if (s.kind == kElementSetup) {
    e.board = reinterpret_cast<const std::int8_t*>(game->pool.data() + s.offset);
    e.state = s.state;
  }
  *element = e;
  return 1;
}

void GameAppend(Game* game, const ChessElement* element) {
  if (!game || !element) return;
  const ChessElement& e = *element;
  switch (e.kind) {
    case kElementAnnotation:
      game->AddAnnotation(e.bytes, e.bytes ? e.count : 0);
      break;
    case kElementSetup:
      game->AddSetup(e.board, e.state);
      break;
    default:
      game->elements.push_back({e.kind, e.piece, e.from, e.to, 0, 0, 0});
      break;
  }
}

void GameFinish(Game* game) {
  if (game) game->cursor = 0;
}

}  // namespace ludrex
