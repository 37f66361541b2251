#pragma once
// The file searcher: enumerates the entries of directories that fit a list of file-name masks,
// optionally accepts only files whose content satisfies a search expression, and hands every
// accepted file to its owner through OnFound and the found list.
//
// Runs synchronously on the caller's thread by default (ThreadedSearch is a published property
// kept for completeness; the program switches it off). Events are raised on the searching thread.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "search/matcher/Refine.h"
#include "system/FileSystem.h"

namespace lk {

enum class SPResult : std::uint8_t {
  srsDir,
  srsFilename,
  srsAttr,
  srsSize,
  srsCreateDate,
  srsLastAccessDate,
  srsLastModifiedDate
};
enum class SPFileAttribute : std::uint8_t { fmReadOnly, fmArchive, fmAnyfile, fmSystem, fmHidden };
enum class SPCheckDate : std::uint8_t {
  scdCreateAfter,
  scdCreateBefore,
  scdAccessedAfter,
  scdAccessedBefore,
  scdModifiedAfter,
  scdModifiedBefore
};

// A small set over one of the enumerations above, one bit per member (member 0 is bit 0).
template <typename E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> members) {
    for (E m : members) Add(m);
  }
  constexpr void Add(E m) { bits_ |= Bit(m); }
  constexpr void Remove(E m) { bits_ &= static_cast<std::uint32_t>(~Bit(m)); }
  [[nodiscard]] constexpr bool Has(E m) const { return (bits_ & Bit(m)) != 0; }
  [[nodiscard]] constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(EnumSet, EnumSet) = default;

 private:
  static constexpr std::uint32_t Bit(E m) { return 1u << static_cast<unsigned>(m); }
  std::uint32_t bits_ = 0;
};

using SPResults = EnumSet<SPResult>;
using SPFileAttributes = EnumSet<SPFileAttribute>;
using SPCheckDates = EnumSet<SPCheckDate>;

// One found entry. Dates are FILETIME ticks in local time (0: not filled).
struct SPFileRecord {
  std::string Dir;       // with a trailing backslash
  std::string Filename;  // the bare name
  SPFileAttributes Attr;
  std::string AttrLetters;  // "rasvdh" order, each present only if set
  std::int64_t Size = 0;
  std::int64_t CreateDate = 0;
  std::int64_t LastAccessDate = 0;
  std::int64_t LastModifiedDate = 0;
};

// One entry that a search could not examine: a directory that could not be opened or read
// (Filename empty), or an entry of Dir that vanished, has a name no Windows path can hold, is not
// a regular file, is a link that is not followed, or could not be opened or read. Error is the
// file layer's Windows error code; DescribeFileError gives it as a text.
struct SPSkippedEntry {
  std::string Dir;       // with a trailing backslash
  std::string Filename;  // the exact name as enumerated; empty when Dir itself is meant
  std::uint32_t Error = 0;
};

// Texts in insertion order; Add and IndexOf take the list's own lock. Look-ups ignore ASCII case
// and give the first of equal texts. An index from the case-folded text to its first position
// keeps a look-up constant in time however many texts the list holds, so a search that finds
// many files does not slow down with every file it adds. Reading the count or the texts and
// emptying the list take no lock: read the list after the search that fills it has ended.
class ThreadStringList {
 public:
  void Add(std::string text);
  [[nodiscard]] int IndexOf(std::string_view text) const;  // -1 when absent
  void Clear();
  [[nodiscard]] int Count() const;
  [[nodiscard]] const std::string& operator[](int index) const;
  [[nodiscard]] const std::vector<std::string>& Items() const { return items_; }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> items_;
  std::unordered_map<std::string, int> firstIndex_;  // case-folded text -> first position
};

// Matching options with a change notification to the owner.
class SearchOptions {
 public:
  void SetNearestLength(std::int32_t value);
  void SetMatchCase(bool value);
  void SetWholeWordsOnly(bool value);
  [[nodiscard]] std::int32_t NearestLength() const { return nearestLength_; }
  [[nodiscard]] bool MatchCase() const { return matchCase_; }
  [[nodiscard]] bool WholeWordsOnly() const { return wholeWordsOnly_; }
  void SetOnChange(std::function<void()> handler) { onChange_ = std::move(handler); }

 private:
  void Changed() {
    if (onChange_) onChange_();
  }
  std::int32_t nearestLength_ = 50;
  bool matchCase_ = false;
  bool wholeWordsOnly_ = false;
  std::function<void()> onChange_;
};

class SearchFileGrep {
 public:
  using FileChangeEvent = std::function<void(SearchFileGrep& sender, const std::string& name)>;
  using FoundEvent = std::function<void(SearchFileGrep& sender, const SPFileRecord& file)>;
  using NotifyEvent = std::function<void(SearchFileGrep& sender)>;
  using SkippedEvent = std::function<void(SearchFileGrep& sender, const SPSkippedEntry& entry)>;
  // Shows the "Invalid search expression" message box when no OnTemplateInvalid handler is set.
  using MessageBox = std::function<void(const std::string& caption, const std::string& text)>;

  // With the production matcher.
  explicit SearchFileGrep(FileSystem& files);
  // With a matcher of the caller's choice (tests, tools).
  SearchFileGrep(FileSystem& files, std::unique_ptr<Refine> matcher);
  ~SearchFileGrep();  // stops a running search first
  SearchFileGrep(const SearchFileGrep&) = delete;
  SearchFileGrep& operator=(const SearchFileGrep&) = delete;

  // Properties
  std::string Dirs;
  std::string FileMasks;
  bool RecurseSubDirs = true;
  bool InternalFoundList = true;
  SPResults ResultValues{SPResult::srsDir, SPResult::srsFilename};
  SPFileAttributes Attributes{SPFileAttribute::fmAnyfile};
  std::int64_t MinSize = 0;
  std::int64_t MaxSize = 0;
  SPCheckDates CheckDates;
  std::int64_t CreatedAfter = 0, CreatedBefore = 0, AccessedAfter = 0, AccessedBefore = 0,
               ModifiedAfter = 0, ModifiedBefore = 0;  // local FILETIME ticks
  bool ThreadedSearch = true;
  // How many threads test content at once (1: the searching thread itself). With more, files are
  // opened and read ahead on threads of their own, each with its own matcher, while the searching
  // thread still enumerates and raises every event itself, in the order and with the outcomes of
  // one thread; at most this many files are open at once. The file system must then let its
  // directories open files, and those files be read, from several threads at once. A matcher that
  // cannot be duplicated (Refine::NewOfSameKind) tests on the searching thread alone.
  int Workers = 1;
  char AnySingleCharacter = '?';
  char AnySequenceCharacter = '*';
  [[nodiscard]] SearchOptions& Options() { return options_; }

  [[nodiscard]] const std::string& SearchString() const;
  // Compiles text; keeps it only when valid, else OnTemplateInvalid or the message box.
  void SetSearchString(std::string_view text);

  // Events
  FileChangeEvent OnDirChange, OnFileChange, OnErrorOpenFile;
  FoundEvent OnFound;
  // Raised for every entry the search passes over without examining it, so that nothing is left
  // out silently; the search goes on with the next entry.
  SkippedEvent OnSkipped;
  NotifyEvent OnTemplateInvalid, OnFinished, OnCancel, OnEnd;
  MessageBox ShowMessageBox;
  // Lets pending window messages run once per directory (synchronous searches only).
  std::function<void()> PumpMessages;

  void RunSearch();
  void StopSearch();
  [[nodiscard]] bool StopRequested() const;
  // Discards a stop request made while no search runs.
  void ClearStopRequest();
  [[nodiscard]] bool IsSearching() const;
  // The failure that ended the last threaded search: a handler's exception, which nobody on the
  // worker's thread could receive. Null while a search runs and when it ended by itself.
  [[nodiscard]] std::exception_ptr WorkerFailure() const;

  [[nodiscard]] ThreadStringList& FoundList() { return foundList_; }
  // The entries the last search passed over (each OnSkipped counts one).
  [[nodiscard]] int SkippedCount() const;
  // The files whose content the last search tested (content passes only), and their sizes.
  [[nodiscard]] std::int64_t ExaminedFiles() const;
  [[nodiscard]] std::int64_t ExaminedBytes() const;
  [[nodiscard]] Refine& Matcher() { return *matcher_; }

 private:
  friend class SearchFileGrepPass;
  struct Impl;
  FileSystem& files_;
  std::unique_ptr<Refine> matcher_;
  SearchOptions options_;
  ThreadStringList foundList_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lk
