#include "search/matcher/Refine.h"

#include "search/matcher/FastRefine.h"

namespace lk {

std::unique_ptr<Refine> MakeRefine() { return std::make_unique<FastRefine>(); }

}  // namespace lk
