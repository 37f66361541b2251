#include "testing/reference/MatcherKind.h"

#include "testing/reference/ReferenceRefine.h"

namespace lk {

std::unique_ptr<Refine> MakeRefine(MatcherKind kind) {
  switch (kind) {
    case MatcherKind::Reference:
      return std::make_unique<ReferenceRefine>();
    case MatcherKind::Production:
      break;
  }
  return MakeRefine();
}

}  // namespace lk
