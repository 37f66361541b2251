#pragma once
// Threads that test files' content for a search that enumerates and reports on its own thread.
// The search hands every file it would test to Submit, in enumeration order, and takes each
// outcome back with TakeNext in the same order, so that every event it raises stays exactly where
// one thread would raise it; the threads only open and read.
//
// Guarantees: each thread has a matcher (and so a read buffer) of its own, and a file is open
// only while a thread tests it, so at most as many files are open and buffered as there are
// threads; outcomes waiting to be taken hold no file and no buffer. Every file submitted is
// tested at most once. AbandonAll lets the files not yet begun go untested and waits for the
// ones being tested, so that the directory they were opened through may go afterwards.
// Does not: enumerate, raise events, count, or decide what a failure means to the search.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "search/matcher/Refine.h"
#include "system/FileSystem.h"

namespace lk {

// What testing one file's content gave.
struct ContentOutcome {
  bool compiled = true;  // false: the expression did not compile, nothing was opened
  bool opened = false;   // false: openError tells why the file could not be opened
  std::uint32_t openError = 0;
  bool failed = false;  // opened, but the content could not be read
  bool matches = false;
  std::int64_t size = 0;  // as the open file told it (-1 when it could not)
};

// Tests the entry name of directory with matcher, as one thread does it. Writers are denied
// while the content is tested, so it cannot change under the matcher.
[[nodiscard]] ContentOutcome TestContent(Refine& matcher, const std::string& expression,
                                         Directory& directory, const std::string& name);

class ContentTesters {
 public:
  // One thread per matcher; every matcher is compiled with expression before each file.
  ContentTesters(std::vector<std::unique_ptr<Refine>> matchers, std::string expression);
  ~ContentTesters();  // abandons what is left and joins the threads
  ContentTesters(const ContentTesters&) = delete;
  ContentTesters& operator=(const ContentTesters&) = delete;

  // How many files a search should keep submitted ahead of the one it reports: enough that no
  // thread idles behind one large file, and small, since an outcome holds no buffer.
  [[nodiscard]] std::size_t Window() const noexcept { return 4 * threads_.size(); }

  // Queues the entry name of directory; directory must stay open until its outcome was taken or
  // AbandonAll returned.
  void Submit(Directory& directory, std::string name);
  // The outcome of the oldest file submitted and not yet taken; waits until it is tested.
  [[nodiscard]] ContentOutcome TakeNext();
  // Drops every file not yet taken; returns once no thread tests one of them any more.
  void AbandonAll();

 private:
  struct Job {
    Directory* directory = nullptr;
    std::string name;
    enum class State { Queued, Testing, Done, Abandoned } state = State::Queued;
    ContentOutcome outcome;
  };

  void Work(Refine& matcher);

  const std::string expression_;
  std::vector<std::unique_ptr<Refine>> matchers_;
  std::mutex lock_;
  std::condition_variable queued_;         // a job was queued, or the threads are to end
  std::condition_variable done_;           // a job was tested
  std::deque<std::unique_ptr<Job>> jobs_;  // submitted and not yet taken, oldest first
  std::deque<Job*> waiting_;               // of those, the ones no thread has begun
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace lk
