// Fuzz input: one options byte, one block-size byte, then the expression up to the first 0xFE
// byte, then the content. Compiles the expression (which must never crash) and aborts when the
// production matcher and the reference matcher disagree.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "search/expression/ExpressionCompiler.h"
#include "search/matcher/FastRefine.h"
#include "testing/reference/ReferenceRefine.h"
#include "tests/search/matcher/MatcherTestSupport.h"

namespace {

void Configure(lk::Refine& refine, std::uint8_t options, const std::string& expression) {
  refine.SetMatchCase((options & 1) != 0);
  refine.SetWholeWordsOnly((options & 2) != 0);
  static const std::int32_t kNear[] = {50, 0, 1, 3, 10, 100, -1, 2};
  refine.SetNearestLength(kNear[(options >> 2) & 7]);
  if ((options & 0x20) != 0) refine.SetAnySingleCharacter('.');
  if ((options & 0x40) != 0) refine.SetAnySequenceCharacter('?');
  refine.SetTemplate(expression);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t options = data[0];
  const std::size_t blockSize = std::size_t{1} + data[1] * std::size_t{7};
  const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::size_t split = rest.find('\xFE');
  const std::string expression = rest.substr(0, std::min<std::size_t>(split, 300));
  const std::string content = split == std::string::npos ? std::string() : rest.substr(split + 1);

  static_cast<void>(lk::CompileExpression(expression, (options & 1) != 0));
  // The reference backtracks without bounds over many '*' and pairs every NEAR position: keep
  // its cases small.
  if (content.size() > 4096 || std::count(expression.begin(), expression.end(), '*') > 3) {
    return 0;
  }

  lk::ReferenceRefine reference;
  lk::FastRefine fast;
  fast.SetBlockSize(blockSize);
  Configure(reference, options, expression);
  Configure(fast, options, expression);
  lk::testing::MemoryFile referenceFile(content);
  lk::testing::MemoryFile fastFile(content);
  const bool expected = reference.MatchStream(referenceFile);
  const bool actual = fast.MatchStream(fastFile);
  if (expected != actual) {
    std::fprintf(stderr, "reference %d production %d\n", expected ? 1 : 0, actual ? 1 : 0);
    std::abort();
  }
  return 0;
}
