#include "search/matcher/Refine.h"

#include "search/matcher/FastRefine.h"
#include "search/matcher/ReferenceRefine.h"

namespace lk {

std::unique_ptr<Refine> MakeRefine(MatcherKind kind) {
  switch (kind) {
    case MatcherKind::Reference:
      return std::make_unique<ReferenceRefine>();
    case MatcherKind::Production:
      break;
  }
  return std::make_unique<FastRefine>();
}

}  // namespace lk
