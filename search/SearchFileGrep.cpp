#include "search/SearchFileGrep.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <exception>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "base/TextCase.h"
#include "base/WindowsPath.h"
#include "search/ContentTesters.h"

namespace lk {

namespace {

// Blanks and control characters, as the list parts are trimmed of them.
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Splits a ";"-separated list, trims every part and drops empty ones; with dropRepeats also
// the parts that repeat an earlier one without regard to case. Keeps the order.
std::vector<std::string> SplitList(std::string_view text, bool dropRepeats) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find(';', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view part = text.substr(begin, end - begin);
    while (!part.empty() && IsTrimmed(part.front())) part.remove_prefix(1);
    while (!part.empty() && IsTrimmed(part.back())) part.remove_suffix(1);
    bool keep = !part.empty();
    if (keep && dropRepeats) {
      for (const std::string& earlier : parts) {
        if (EqualsIgnoringAsciiCase(earlier, part)) {
          keep = false;
          break;
        }
      }
    }
    if (keep) parts.emplace_back(part);
    begin = end + 1;
  }
  return parts;
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

std::string AttributeLetters(std::uint32_t attributes) {
  static constexpr std::array<std::pair<std::uint32_t, char>, 6> kLetters{{
      {file_attribute::kReadOnly, 'r'},
      {file_attribute::kArchive, 'a'},
      {file_attribute::kSystem, 's'},
      {file_attribute::kVolumeLabel, 'v'},
      {file_attribute::kDirectory, 'd'},
      {file_attribute::kHidden, 'h'},
  }};
  std::string letters;
  for (const auto& [bit, letter] : kLetters) {
    if ((attributes & bit) != 0) letters.push_back(letter);
  }
  return letters;
}

}  // namespace

// ---- ThreadStringList ----

void ThreadStringList::Add(std::string text) {
  std::string folded = FoldedAscii(text);
  std::lock_guard<std::mutex> guard(lock_);
  const int position = static_cast<int>(items_.size());
  items_.push_back(std::move(text));
  try {
    // An equal text listed earlier keeps its position: look-ups give the first.
    firstIndex_.try_emplace(std::move(folded), position);
  } catch (...) {
    items_.pop_back();
    throw;
  }
}

int ThreadStringList::IndexOf(std::string_view text) const {
  const std::string folded = FoldedAscii(text);
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = firstIndex_.find(folded);
  return found == firstIndex_.end() ? -1 : found->second;
}

void ThreadStringList::Clear() {
  items_.clear();
  firstIndex_.clear();
}

int ThreadStringList::Count() const { return static_cast<int>(items_.size()); }

const std::string& ThreadStringList::operator[](int index) const {
  return items_.at(static_cast<std::size_t>(index));
}

// ---- SearchOptions ----

void SearchOptions::SetNearestLength(std::int32_t value) {
  if (nearestLength_ == value) return;
  nearestLength_ = value;
  Changed();
}

void SearchOptions::SetMatchCase(bool value) {
  if (matchCase_ == value) return;
  matchCase_ = value;
  Changed();
}

void SearchOptions::SetWholeWordsOnly(bool value) {
  if (wholeWordsOnly_ == value) return;
  wholeWordsOnly_ = value;
  Changed();
}

// ---- SearchFileGrep ----

struct SearchFileGrep::Impl {
  std::atomic<bool> stopRequested{false};
  // Set by StopSearch while a worker thread exists: the worker's "asked to terminate".
  std::atomic<bool> terminateRequested{false};
  std::atomic<bool> workerExists{false};
  std::atomic<bool> searching{false};
  std::atomic<int> skipped{0};
  std::atomic<std::int64_t> examinedFiles{0};
  std::atomic<std::int64_t> examinedBytes{0};
  std::thread worker;
  // Set by the worker before searching turns false, read by the owner after.
  std::exception_ptr workerFailure;

  void JoinWorker() {
    if (!worker.joinable()) return;
    if (worker.get_id() == std::this_thread::get_id()) {
      // Called from one of the worker's own handlers after the search ended.
      worker.detach();
    } else {
      worker.join();
    }
  }
};

// One search: the settings taken at its start and the directory walk.
class SearchFileGrepPass {
 public:
  SearchFileGrepPass(SearchFileGrep& owner, bool withWorker)
      : owner_(owner), impl_(*owner.impl_), withWorker_(withWorker) {
    dirs_ = SplitList(owner.Dirs, false);
    masks_ = SplitList(owner.FileMasks.empty() ? std::string_view("*.*") : owner.FileMasks, true);
    if (masks_.empty()) masks_.emplace_back("*.*");
    onErrorOpenFile_ = owner.OnErrorOpenFile;
    // Compile upper-cases the text itself when MatchCase is off.
    expression_ = owner.SearchString();
    recurse_ = owner.RecurseSubDirs;
    minSize_ = owner.MinSize;
    maxSize_ = owner.MaxSize;
    const SPFileAttributes& attributes = owner.Attributes;
    anyFile_ = attributes.Has(SPFileAttribute::fmAnyfile);
    if (!anyFile_) {
      if (attributes.Has(SPFileAttribute::fmReadOnly)) required_ |= file_attribute::kReadOnly;
      if (attributes.Has(SPFileAttribute::fmArchive)) required_ |= file_attribute::kArchive;
      if (attributes.Has(SPFileAttribute::fmSystem)) required_ |= file_attribute::kSystem;
      if (attributes.Has(SPFileAttribute::fmHidden)) required_ |= file_attribute::kHidden;
    }
    const std::array<std::pair<SPCheckDate, std::int64_t>, 6> bounds{{
        {SPCheckDate::scdCreateAfter, owner.CreatedAfter},
        {SPCheckDate::scdCreateBefore, owner.CreatedBefore},
        {SPCheckDate::scdAccessedAfter, owner.AccessedAfter},
        {SPCheckDate::scdAccessedBefore, owner.AccessedBefore},
        {SPCheckDate::scdModifiedAfter, owner.ModifiedAfter},
        {SPCheckDate::scdModifiedBefore, owner.ModifiedBefore},
    }};
    for (std::size_t i = 0; i < bounds.size(); ++i) {
      dateBounds_[i] = owner.CheckDates.Has(bounds[i].first) ? bounds[i].second : 0;
    }
    if (owner.Workers > 1 && !expression_.empty()) StartTesters(owner.Workers);
  }

  void Run() {
    FileSystem& files = owner_.files_;
    for (const std::string& dir : dirs_) {
      // Without a worker thread every directory is entered even after a stop request; the
      // stop test then ends each of its enumerations before the first entry.
      if (!StopTest() || !withWorker_) {
        rootLength_ = AppendBackslash(dir).size();
        ScanDirectory(dir, [&](std::uint32_t* error) { return files.OpenDirectory(dir, error); });
      }
    }
    impl_.workerExists = false;
    impl_.terminateRequested = false;
    const bool cancelled = impl_.stopRequested;
    if (cancelled) {
      if (owner_.OnCancel) owner_.OnCancel(owner_);
    } else {
      if (owner_.OnFinished) owner_.OnFinished(owner_);
    }
    impl_.stopRequested = false;
    if (owner_.OnEnd) owner_.OnEnd(owner_);
    impl_.searching = false;
  }

 private:
  bool StopTest() const {
    return (impl_.workerExists && impl_.terminateRequested) || impl_.stopRequested;
  }

  // Without fmAnyfile the enumeration yields hidden and system entries only when asked for,
  // and no directories at all.
  bool IsEnumerated(const DirectoryEntry& entry) const {
    if (anyFile_) return true;
    if ((entry.attributes & file_attribute::kHidden) != 0 &&
        (required_ & file_attribute::kHidden) == 0) {
      return false;
    }
    if ((entry.attributes & file_attribute::kSystem) != 0 &&
        (required_ & file_attribute::kSystem) == 0) {
      return false;
    }
    return !entry.IsDirectory();
  }

  bool IsDropped(const DirectoryEntry& entry) const {
    if (entry.size < minSize_) return true;
    if (maxSize_ != 0 && entry.size > maxSize_) return true;
    if (IsDotEntry(entry.name)) return true;
    if (!anyFile_ && (entry.attributes & required_) != required_) return true;
    const std::array<std::int64_t, 3> times{entry.creationTime, entry.lastAccessTime,
                                            entry.lastWriteTime};
    for (std::size_t i = 0; i < times.size(); ++i) {
      const std::int64_t after = dateBounds_[2 * i];
      const std::int64_t before = dateBounds_[2 * i + 1];
      if (after <= 0 && before <= 0) continue;
      const std::int64_t local = owner_.files_.ToLocalFileTime(times[i]);
      if (after > 0 && local < after) return true;
      if (before > 0 && local > before) return true;
    }
    return entry.IsDirectory() && !expression_.empty();
  }

  void ReportOpenError(const std::string& path) {
    if (onErrorOpenFile_) onErrorOpenFile_(owner_, path);
  }

  void Skip(const std::string& dir, const std::string& name, std::uint32_t error) {
    ++impl_.skipped;
    if (owner_.OnSkipped) owner_.OnSkipped(owner_, SPSkippedEntry{dir, name, error});
  }

  static constexpr int kMostWorkers = 64;

  void StartTesters(int workers) {
    std::vector<std::unique_ptr<Refine>> matchers;
    for (int i = 0; i < std::min(workers, kMostWorkers); ++i) {
      std::unique_ptr<Refine> matcher = owner_.matcher_->NewOfSameKind();
      if (!matcher) return;
      matchers.push_back(std::move(matcher));
    }
    try {
      testers_ = std::make_unique<ContentTesters>(std::move(matchers), expression_);
    } catch (const std::system_error&) {
      // No thread to be had: the searching thread tests alone, as it would with one worker.
      testers_.reset();
    }
  }

  // What a content test gave, told as one thread tells it: an open failure or a read failure is
  // an entry passed over, and only a file read to its verdict counts as examined.
  bool ContentMatches(const ContentOutcome& outcome, const std::string& dir,
                      const std::string& name) {
    if (!outcome.compiled) return false;
    const std::string path = dir + name;
    if (!outcome.opened) {
      ReportOpenError(path);
      Skip(dir, name, outcome.openError != 0 ? outcome.openError : file_error::kReadFault);
      return false;
    }
    if (outcome.failed) {
      ReportOpenError(path);
      Skip(dir, name, file_error::kReadFault);
      return false;
    }
    ++impl_.examinedFiles;
    if (outcome.size > 0) impl_.examinedBytes += outcome.size;
    return outcome.matches;
  }

  // One enumerated entry waiting to be reported; tested: handed to the testers.
  struct Pending {
    DirectoryEntry entry;
    bool dropped = false;
    bool tested = false;
  };

  // Lets the testers drop what this directory still has with them, however the walk leaves it.
  class AbandonOnExit {
   public:
    explicit AbandonOnExit(ContentTesters* testers) : testers_(testers) {}
    AbandonOnExit(const AbandonOnExit&) = delete;
    AbandonOnExit& operator=(const AbandonOnExit&) = delete;
    ~AbandonOnExit() {
      if (testers_ != nullptr) testers_->AbandonAll();
    }

   private:
    ContentTesters* testers_;
  };

  // Reports the entries of one enumeration in their order. With testers, the files ahead of the
  // reported one are already being tested; the entry is still opened through its directory by
  // its exact name, never by a path built from it. True when a stop request ended it.
  bool ExamineEntries(Directory& directory, const std::string& dir, DirectoryEnumeration& entries,
                      std::set<std::string>& reported) {
    ContentTesters* const testers = testers_.get();
    const AbandonOnExit abandon(testers);
    const std::size_t window = testers != nullptr ? testers->Window() : 1;
    std::deque<Pending> pending;
    bool more = true;
    for (;;) {
      while (more && pending.size() < window) {
        Pending next;
        if (!entries.Next(next.entry)) {
          more = false;
          break;
        }
        if (!IsEnumerated(next.entry)) continue;
        if (next.entry.error == 0) next.dropped = IsDropped(next.entry);
        if (testers != nullptr && next.entry.error == 0 && !next.dropped) {
          testers->Submit(directory, next.entry.name);
          next.tested = true;
        }
        pending.push_back(std::move(next));
      }
      if (pending.empty()) return false;
      if (StopTest()) return true;
      const Pending current = std::move(pending.front());
      pending.pop_front();
      const DirectoryEntry& entry = current.entry;
      if (owner_.OnFileChange) owner_.OnFileChange(owner_, entry.name);
      if (entry.error != 0) {
        // A directory is never content: in a content pass it would be dropped anyway.
        if (!entry.IsDirectory() || expression_.empty()) {
          Skip(dir, entry.name, entry.error);
          reported.insert(entry.name);
        }
        continue;
      }
      if (current.dropped) continue;
      if (!expression_.empty()) {
        const ContentOutcome outcome =
            current.tested ? testers->TakeNext()
                           : TestContent(*owner_.matcher_, expression_, directory, entry.name);
        if (!ContentMatches(outcome, dir, entry.name)) continue;
      }
      Accept(dir, entry);
    }
  }

  void Accept(const std::string& dir, const DirectoryEntry& entry) {
    SPFileRecord& record = record_;
    record = SPFileRecord{};
    const SPResults& wanted = owner_.ResultValues;
    if (wanted.Has(SPResult::srsDir)) record.Dir = dir;
    if (wanted.Has(SPResult::srsFilename)) record.Filename = entry.name;
    if (wanted.Has(SPResult::srsAttr)) {
      if ((entry.attributes & file_attribute::kReadOnly) != 0) {
        record.Attr.Add(SPFileAttribute::fmReadOnly);
      }
      if ((entry.attributes & file_attribute::kArchive) != 0) {
        record.Attr.Add(SPFileAttribute::fmArchive);
      }
      if ((entry.attributes & file_attribute::kSystem) != 0) {
        record.Attr.Add(SPFileAttribute::fmSystem);
      }
      if ((entry.attributes & file_attribute::kHidden) != 0) {
        record.Attr.Add(SPFileAttribute::fmHidden);
      }
      record.AttrLetters = AttributeLetters(entry.attributes);
    }
    if (wanted.Has(SPResult::srsSize)) record.Size = entry.size;
    FileSystem& files = owner_.files_;
    if (wanted.Has(SPResult::srsCreateDate)) {
      record.CreateDate = files.ToLocalFileTime(entry.creationTime);
    }
    if (wanted.Has(SPResult::srsLastAccessDate)) {
      record.LastAccessDate = files.ToLocalFileTime(entry.lastAccessTime);
    }
    if (wanted.Has(SPResult::srsLastModifiedDate)) {
      record.LastModifiedDate = files.ToLocalFileTime(entry.lastWriteTime);
    }

    if (owner_.InternalFoundList) {
      // The list is filled even without an OnFound handler, so a caller can use it alone.
      // A directory named twice (in any case) lists its files once, but two entries whose names
      // differ only in case are two files on a case-sensitive host: the part of the path that
      // the caller named is compared without regard to case, the enumerated rest exactly.
      std::string path = dir + entry.name;
      std::string key = path;
      std::transform(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(rootLength_),
                     key.begin(), FoldAscii);
      if (!foundKeys_.insert(std::move(key)).second) return;
      owner_.foundList_.Add(std::move(path));
    }
    if (owner_.OnFound) owner_.OnFound(owner_, record);
  }

  using DirectoryOpener = std::function<std::unique_ptr<Directory>(std::uint32_t* error)>;

  // Scans one directory, opened by open (by its path for a directory of Dirs, through its
  // parent for a subdirectory, so a walk never re-parses an enumerated name).
  void ScanDirectory(const std::string& directory, const DirectoryOpener& open) {
    const std::string dir = AppendBackslash(directory);
    if (withWorker_) {
      std::this_thread::yield();
    } else if (owner_.PumpMessages) {
      owner_.PumpMessages();
    }
    if (owner_.OnDirChange) owner_.OnDirChange(owner_, dir);

    std::uint32_t error = 0;
    const std::unique_ptr<Directory> handle = open(&error);
    if (!handle) {
      Skip(dir, {}, error);
      return;
    }
    std::set<std::string> reported;  // names of this directory already passed to OnSkipped
    if (!ScanFiles(*handle, dir, reported)) return;
    if (StopTest() || !recurse_) return;
    ScanSubdirectories(*handle, dir, reported);
  }

  // The files of the directory that fit the masks; false when the directory could not be read
  // to its end and was left (and reported).
  bool ScanFiles(Directory& handle, const std::string& dir, std::set<std::string>& reported) {
    for (const std::string& mask : masks_) {
      std::unique_ptr<DirectoryEnumeration> entries = handle.Enumerate(mask);
      if (!entries) continue;
      const bool stopped = ExamineEntries(handle, dir, *entries, reported);
      if (!stopped && entries->Error() != 0) {
        // The directory cannot be read (any more): say so once and leave it.
        Skip(dir, {}, entries->Error());
        return false;
      }
    }
    return true;
  }

  // Walks into the subdirectories; reported: the names already passed to OnSkipped.
  void ScanSubdirectories(Directory& handle, const std::string& dir,
                          const std::set<std::string>& reported) {
    std::unique_ptr<DirectoryEnumeration> entries = handle.Enumerate("*.*");
    if (!entries) return;
    bool stopped = false;
    DirectoryEntry entry;
    while (entries->Next(entry)) {
      if (IsDotEntry(entry.name)) continue;
      if (entry.error != 0) {
        // A directory that cannot be entered (or an entry that may have been one) is not left
        // out silently.
        const bool mayBeDirectory = entry.IsDirectory() || entry.attributes == 0;
        if (mayBeDirectory && reported.count(entry.name) == 0) {
          Skip(dir, entry.name, entry.error);
        }
      } else if (entry.IsDirectory() && (entry.attributes & file_attribute::kReparsePoint) != 0) {
        // Junctions and symbolic links are not entered: one that points back up would make
        // the walk endless, one that points elsewhere would leave the tree.
        Skip(dir, entry.name, file_error::kLinkNotFollowed);
      } else if (entry.IsDirectory()) {
        const std::string name = entry.name;
        ScanDirectory(dir + name, [&](std::uint32_t* openError) {
          return handle.OpenSubdirectory(name, openError);
        });
      }
      if (StopTest()) {
        stopped = true;
        break;
      }
    }
    if (!stopped && entries->Error() != 0) Skip(dir, {}, entries->Error());
  }

  SearchFileGrep& owner_;
  SearchFileGrep::Impl& impl_;
  const bool withWorker_;
  std::vector<std::string> dirs_;
  std::vector<std::string> masks_;
  SearchFileGrep::FileChangeEvent onErrorOpenFile_;
  std::string expression_;
  bool recurse_ = true;
  std::int64_t minSize_ = 0;
  std::int64_t maxSize_ = 0;
  bool anyFile_ = true;
  std::uint32_t required_ = 0;
  std::array<std::int64_t, 6> dateBounds_{};
  SPFileRecord record_;
  std::size_t rootLength_ = 0;  // the length of the scanned directory of Dirs, with backslash
  std::set<std::string> foundKeys_;
  std::unique_ptr<ContentTesters> testers_;  // null: content is tested on this thread
};

SearchFileGrep::SearchFileGrep(FileSystem& files, std::unique_ptr<Refine> matcher)
    : files_(files), matcher_(std::move(matcher)), impl_(std::make_unique<Impl>()) {
  options_.SetOnChange([this] {
    matcher_->SetNearestLength(options_.NearestLength());
    matcher_->SetWholeWordsOnly(options_.WholeWordsOnly());
    matcher_->SetMatchCase(options_.MatchCase());
  });
  matcher_->SetNearestLength(options_.NearestLength());
  matcher_->SetWholeWordsOnly(options_.WholeWordsOnly());
  matcher_->SetMatchCase(options_.MatchCase());
}

SearchFileGrep::~SearchFileGrep() {
  StopSearch();
  impl_->JoinWorker();
}

const std::string& SearchFileGrep::SearchString() const { return matcher_->Template(); }

void SearchFileGrep::SetSearchString(std::string_view text) {
  if (text == matcher_->Template()) return;
  if (matcher_->Compile(text)) {
    matcher_->SetTemplate(text);
    return;
  }
  if (OnTemplateInvalid) {
    OnTemplateInvalid(*this);
  } else if (ShowMessageBox) {
    ShowMessageBox("Fehler", "Invalid search expression");
  }
}

void SearchFileGrep::RunSearch() {
  if (impl_->workerExists) return;
  impl_->JoinWorker();
  foundList_.Clear();
  impl_->skipped = 0;
  impl_->examinedFiles = 0;
  impl_->examinedBytes = 0;
  impl_->searching = true;
  if (!ThreadedSearch) {
    SearchFileGrepPass pass(*this, false);
    try {
      pass.Run();
    } catch (...) {
      // A handler's error ends the search and reaches the caller; no end events.
      impl_->searching = false;
      throw;
    }
    return;
  }
  impl_->terminateRequested = false;
  impl_->workerFailure = nullptr;
  impl_->workerExists = true;
  impl_->worker = std::thread([this] {
    try {
      SearchFileGrepPass pass(*this, true);
      pass.Run();
    } catch (...) {
      // Nobody could receive a handler's error on this thread: the search ends, and the failure
      // is kept for the owner (WorkerFailure).
      impl_->workerFailure = std::current_exception();
      impl_->searching = false;
      impl_->workerExists = false;
    }
  });
}

void SearchFileGrep::StopSearch() {
  impl_->stopRequested = true;
  if (impl_->workerExists) impl_->terminateRequested = true;
}

bool SearchFileGrep::StopRequested() const { return impl_->stopRequested; }

void SearchFileGrep::ClearStopRequest() { impl_->stopRequested = false; }

bool SearchFileGrep::IsSearching() const { return impl_->searching; }

std::exception_ptr SearchFileGrep::WorkerFailure() const {
  return impl_->searching ? nullptr : impl_->workerFailure;
}

int SearchFileGrep::SkippedCount() const { return impl_->skipped; }

std::int64_t SearchFileGrep::ExaminedFiles() const { return impl_->examinedFiles; }

std::int64_t SearchFileGrep::ExaminedBytes() const { return impl_->examinedBytes; }

}  // namespace lk
