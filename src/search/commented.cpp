// The commented-games search every base shares: a game-score criterion whose only condition is
// that the game carries an annotation, run through the ordinary search.
#include "search/commented.h"

#include "base/base.h"
#include "frame/error.h"
#include "record/pattern.h"
#include "record/record.h"
#include "search/chess_crit.h"
#include "search/search.h"
#include "search/subset.h"

namespace ludrex {

std::int32_t SearchCommented(Base& base, Subset& subset) {
  const RecordPattern& pattern = base.GetRecordPattern();
  for (std::int32_t k = 0; k < pattern.Count(); ++k) {
    if (pattern[k].type != kChessType) continue;
    FieldSpec spec = pattern[k];
    spec.type |= kCriterionBit;
    spec.flags = 0;
    RecordPattern one;
    one.Append(spec);
    Record criteria(one);
    static_cast<ChessFieldCrit&>(criteria[0]).Settings().commentFlag = 1;
    return SearchBase(base, subset, &criteria, nullptr);
  }
  // A base without game scores has no commented games.
  subset.ExcludeRange(0, subset.MaxLength());
  return 0;
}

}  // namespace ludrex
