#pragma once
// The reference matcher: MatchStream reads the whole file into a content buffer with a guard
// space on each side, compiles Template anew and runs the executer over it, exactly as the
// algorithms are defined (a sparse file with its long holes cut short, which keeps the verdict). It
// is slow and holds the whole file; the tests and the benchmark use it as the oracle for the
// production matcher.

#include "search/expression/SearchExpression.h"
#include "search/matcher/Refine.h"

namespace lk {

class ReferenceRefine final : public Refine {
 public:
  [[nodiscard]] bool Compile(std::string_view text) override;
  [[nodiscard]] bool MatchStream(ReadableFile& file) override;
  [[nodiscard]] std::unique_ptr<Refine> NewOfSameKind() const override;

  // The compiled form left by the last Compile.
  [[nodiscard]] const SearchExpression& Compiled() const noexcept { return compiled_; }
  // Whether a content buffer (guard spaces included) satisfies Template.
  [[nodiscard]] bool MatchContent(std::string_view content);

 private:
  SearchExpression compiled_;
};

}  // namespace lk
