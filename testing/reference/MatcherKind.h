#pragma once
// Either matcher by name, for the tests and the benchmark that run the same cases on both: the
// reference matcher (ReferenceRefine, the oracle) and the production matcher (MakeRefine()).

#include <memory>

#include "search/matcher/Refine.h"

namespace lk {

enum class MatcherKind { Production, Reference };

[[nodiscard]] std::unique_ptr<Refine> MakeRefine(MatcherKind kind);

}  // namespace lk
