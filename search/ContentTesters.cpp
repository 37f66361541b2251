#include "search/ContentTesters.h"

#include <exception>
#include <utility>

namespace lk {

ContentOutcome TestContent(Refine& matcher, const std::string& expression, Directory& directory,
                           const std::string& name) {
  ContentOutcome outcome;
  if (!matcher.Compile(expression)) {
    outcome.compiled = false;
    return outcome;
  }
  std::unique_ptr<ReadableFile> file =
      directory.OpenFile(name, FileShare::Read, &outcome.openError);
  if (!file) return outcome;
  outcome.opened = true;
  outcome.openError = 0;
  outcome.size = file->Size();
  try {
    outcome.matches = matcher.MatchStream(*file);
  } catch (const std::exception&) {
    outcome.failed = true;
  }
  return outcome;
}

ContentTesters::ContentTesters(std::vector<std::unique_ptr<Refine>> matchers,
                               std::string expression)
    : expression_(std::move(expression)), matchers_(std::move(matchers)) {
  try {
    for (const std::unique_ptr<Refine>& matcher : matchers_) {
      threads_.emplace_back([this, &matcher] { Work(*matcher); });
    }
  } catch (...) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      ending_ = true;
    }
    queued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    throw;
  }
}

ContentTesters::~ContentTesters() {
  AbandonAll();
  {
    const std::lock_guard<std::mutex> guard(lock_);
    ending_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ContentTesters::Submit(Directory& directory, std::string name) {
  auto job = std::make_unique<Job>();
  job->directory = &directory;
  job->name = std::move(name);
  {
    const std::lock_guard<std::mutex> guard(lock_);
    jobs_.push_back(std::move(job));
    try {
      waiting_.push_back(jobs_.back().get());
    } catch (...) {
      jobs_.pop_back();
      throw;
    }
  }
  queued_.notify_one();
}

ContentOutcome ContentTesters::TakeNext() {
  std::unique_lock<std::mutex> guard(lock_);
  Job& oldest = *jobs_.front();
  done_.wait(guard, [&] { return oldest.state == Job::State::Done; });
  const ContentOutcome outcome = oldest.outcome;
  jobs_.pop_front();
  return outcome;
}

void ContentTesters::AbandonAll() {
  std::unique_lock<std::mutex> guard(lock_);
  for (Job* job : waiting_) job->state = Job::State::Abandoned;
  waiting_.clear();
  done_.wait(guard, [&] {
    for (const std::unique_ptr<Job>& job : jobs_) {
      if (job->state == Job::State::Testing) return false;
    }
    return true;
  });
  jobs_.clear();
}

void ContentTesters::Work(Refine& matcher) {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    queued_.wait(guard, [&] { return ending_ || !waiting_.empty(); });
    if (ending_) return;
    Job& job = *waiting_.front();
    waiting_.pop_front();
    job.state = Job::State::Testing;
    guard.unlock();
    ContentOutcome outcome;
    try {
      outcome = TestContent(matcher, expression_, *job.directory, job.name);
    } catch (...) {
      // Nobody on this thread could receive the error: the file counts as unreadable.
      outcome = ContentOutcome{};
      outcome.opened = true;
      outcome.failed = true;
    }
    guard.lock();
    job.outcome = outcome;
    job.state = Job::State::Done;
    done_.notify_all();
  }
}

}  // namespace lk
