#pragma once
// The matcher component: holds a search expression (Template) and the matching options, compiles
// expressions and decides whether one file's content satisfies the Template.
//
// Two implementations agree on every result: the reference matcher, which follows the defined
// algorithms literally (slow, the oracle of the tests and the benchmark), and the production
// matcher that the file searcher uses (fast, bounded memory, 64-bit positions).

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "system/FileSystem.h"

namespace lk {

// What MatchStream raises when the file cannot be read (or is too large to be held).
class FileReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Refine {
 public:
  Refine() = default;
  Refine(const Refine&) = delete;
  Refine& operator=(const Refine&) = delete;
  virtual ~Refine() = default;

  // Plain fields: setting them has no side effect and compiles nothing.
  void SetMatchCase(bool on) { matchCase_ = on; }
  void SetWholeWordsOnly(bool on) { wholeWordsOnly_ = on; }
  void SetNearestLength(std::int32_t length) { nearestLength_ = length; }
  void SetAnySingleCharacter(char c) { anySingleCharacter_ = c; }
  void SetAnySequenceCharacter(char c) { anySequenceCharacter_ = c; }
  [[nodiscard]] bool MatchCase() const { return matchCase_; }
  [[nodiscard]] bool WholeWordsOnly() const { return wholeWordsOnly_; }
  [[nodiscard]] std::int32_t NearestLength() const { return nearestLength_; }
  [[nodiscard]] char AnySingleCharacter() const { return anySingleCharacter_; }
  [[nodiscard]] char AnySequenceCharacter() const { return anySequenceCharacter_; }

  [[nodiscard]] const std::string& Template() const { return template_; }
  void SetTemplate(std::string_view text) { template_ = text; }

  // Compiles text (upper-cased first unless MatchCase) and keeps the compiled form; true when
  // the text is a valid expression. Does not change Template.
  [[nodiscard]] virtual bool Compile(std::string_view text) = 0;
  // Whether the content of the open file satisfies Template. A failure to read the file raises
  // an exception derived from std::exception; an evaluation error gives false.
  [[nodiscard]] virtual bool MatchStream(ReadableFile& file) = 0;
  // A new matcher of the same implementation, with the same options and Template, for another
  // thread (each matcher has state of its own, so one is never shared). Null when this kind
  // cannot be duplicated; a search then tests its files on one thread.
  [[nodiscard]] virtual std::unique_ptr<Refine> NewOfSameKind() const { return nullptr; }

 protected:
  // Copies the options and Template onto a new matcher of the same kind.
  void CopySettingsTo(Refine& other) const {
    other.template_ = template_;
    other.matchCase_ = matchCase_;
    other.wholeWordsOnly_ = wholeWordsOnly_;
    other.nearestLength_ = nearestLength_;
    other.anySingleCharacter_ = anySingleCharacter_;
    other.anySequenceCharacter_ = anySequenceCharacter_;
  }

 private:
  std::string template_;
  bool matchCase_ = false;
  bool wholeWordsOnly_ = false;
  std::int32_t nearestLength_ = 50;
  char anySingleCharacter_ = '?';
  char anySequenceCharacter_ = '*';
};

// The production matcher. The reference matcher, the oracle the tests and the benchmark compare it
// with, is test support (testing/reference) and no shipped program links it.
[[nodiscard]] std::unique_ptr<Refine> MakeRefine();

}  // namespace lk
