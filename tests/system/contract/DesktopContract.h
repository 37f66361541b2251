#pragma once
// The contract of the desktop (Desktop.h): the clipboard, the message pump and the pauses, for
// the Windows desktop (under Wine) and the scripted model. The offline and image layers have no
// desktop and are not instantiated here.
//
// Instantiate it once per implementation, in the test source that defines its subject:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, DesktopContract, ScriptedDesktopSubject);

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "system/Desktop.h"

namespace lk::contract {

class DesktopSubject {
 public:
  DesktopSubject() = default;
  DesktopSubject(const DesktopSubject&) = delete;
  DesktopSubject& operator=(const DesktopSubject&) = delete;
  virtual ~DesktopSubject() = default;

  [[nodiscard]] virtual Desktop& TheDesktop() = 0;
  // Why this desktop cannot be tested here (no clipboard or window without a display), or empty.
  [[nodiscard]] virtual std::string Unavailable() = 0;
  // The text on the clipboard, read by the implementation's own means.
  [[nodiscard]] virtual std::optional<std::string> ClipboardText() = 0;
  // Leaves work pending for the desktop: a window message to run at the next pump.
  virtual void PostWork(std::function<void()> work) = 0;
};

template <typename SubjectType>
class DesktopContract : public ::testing::Test {
 protected:
  DesktopContract() : subject_(std::make_unique<SubjectType>()) {}
  void SetUp() override {
    if (const std::string why = subject_->Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }

  SubjectType& subject() { return *subject_; }
  Desktop& desktop() { return subject_->TheDesktop(); }

 private:
  std::unique_ptr<SubjectType> subject_;
};

TYPED_TEST_SUITE_P(DesktopContract);

TYPED_TEST_P(DesktopContract, NewClipboardTextReplacesTheOld) {
  this->desktop().SetClipboardText("first");
  this->desktop().SetClipboardText("C:\\WINDOWS\\system32\\lk-\xD0\x96.dll\r\n");
  EXPECT_EQ(this->subject().ClipboardText(), "C:\\WINDOWS\\system32\\lk-\xD0\x96.dll\r\n");
}

TYPED_TEST_P(DesktopContract, APumpRunsWhatIsPendingOnce) {
  int runs = 0;
  this->subject().PostWork([&runs] { ++runs; });
  this->desktop().PumpWindowMessages();
  EXPECT_EQ(runs, 1);
  this->desktop().PumpWindowMessages();
  EXPECT_EQ(runs, 1) << "nothing runs twice";
}

TYPED_TEST_P(DesktopContract, PausesOfNoSecondsReturnWithoutRunningAnything) {
  int runs = 0;
  this->subject().PostWork([&runs] { ++runs; });
  this->desktop().PauseSeconds(0);
  this->desktop().PauseSeconds(-3);
  EXPECT_EQ(runs, 0);
  this->desktop().PumpWindowMessages();
  EXPECT_EQ(runs, 1) << "the work was still pending";
}

REGISTER_TYPED_TEST_SUITE_P(DesktopContract, NewClipboardTextReplacesTheOld,
                            APumpRunsWhatIsPendingOnce,
                            PausesOfNoSecondsReturnWithoutRunningAnything);

}  // namespace lk::contract
