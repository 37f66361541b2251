#pragma once
// A stand-in matcher for the searcher tests: an expression is valid unless it contains '!', and
// a file matches when its content holds the Template as plain text (ASCII case folded unless
// MatchCase). Counts its calls so tests can see what the searcher asked for.

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/matcher/Refine.h"

namespace lk::test {

class FakeRefine : public Refine {
 public:
  struct Calls {
    int compiles = 0;
    int matches = 0;
    std::vector<std::string> compiledTexts;
  };

  explicit FakeRefine(Calls& calls) : calls_(calls) {}

  bool Compile(std::string_view text) override {
    ++calls_.compiles;
    calls_.compiledTexts.emplace_back(text);
    return text.find('!') == std::string_view::npos;
  }

  bool MatchStream(ReadableFile& file) override {
    ++calls_.matches;
    const std::int64_t size = file.Size();
    std::string content(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)), '\0');
    const ReadResult read = file.ReadAt(0, content.data(), content.size());
    if (!read.Ok()) throw std::runtime_error("read failed");
    content.resize(read.bytes);
    std::string pattern = Template();
    if (pattern.empty()) return false;
    if (!MatchCase()) {
      for (std::string* s : {&content, &pattern}) {
        for (char& c : *s) {
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
      }
    }
    return content.find(pattern) != std::string::npos;
  }

 private:
  Calls& calls_;
};

}  // namespace lk::test
