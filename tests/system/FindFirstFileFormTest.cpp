// The choice of the FindFirstFileExW form: fast until the system refuses it, then standard for
// good.
#include "system/win/FindFirstFileForm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace lk {
namespace {

using ::testing::ElementsAre;

using win_error::kAccessDenied;
using win_error::kFileNotFound;
using win_error::kInvalidParameter;

// A system that answers every call in the fast form with fastAnswer and in the standard form
// with standardAnswer, recording which forms were asked for.
struct System {
  std::uint32_t fastAnswer = 0;
  std::uint32_t standardAnswer = 0;
  std::vector<bool> calls;

  std::uint32_t Start(FindFirstFileForm& form) {
    return form.Start([this](bool fast) {
      calls.push_back(fast);
      return fast ? fastAnswer : standardAnswer;
    });
  }
};

TEST(FindFirstFileForm, ASystemThatKnowsTheFastFormKeepsUsingIt) {
  FindFirstFileForm form;
  System system;
  EXPECT_EQ(system.Start(form), 0U);
  system.fastAnswer = kFileNotFound;  // an empty directory
  EXPECT_EQ(system.Start(form), kFileNotFound);
  system.fastAnswer = kAccessDenied;
  EXPECT_EQ(system.Start(form), kAccessDenied);
  EXPECT_THAT(system.calls, ElementsAre(true, true, true));
  EXPECT_FALSE(form.IsFastRefused());
}

TEST(FindFirstFileForm, ARefusedFastFormIsRetriedInTheStandardFormAndRemembered) {
  // Before Windows 7: FindExInfoBasic and FIND_FIRST_EX_LARGE_FETCH are unknown.
  FindFirstFileForm form;
  System system{.fastAnswer = kInvalidParameter, .standardAnswer = 0, .calls = {}};
  EXPECT_EQ(system.Start(form), 0U) << "the enumeration must not come out empty";
  EXPECT_TRUE(form.IsFastRefused());
  system.standardAnswer = kFileNotFound;
  EXPECT_EQ(system.Start(form), kFileNotFound);
  EXPECT_THAT(system.calls, ElementsAre(true, false, false));
}

TEST(FindFirstFileForm, AStandardFormThatFailsTooGivesItsOwnError) {
  FindFirstFileForm form;
  System system{.fastAnswer = kInvalidParameter, .standardAnswer = kAccessDenied, .calls = {}};
  EXPECT_EQ(system.Start(form), kAccessDenied);
  EXPECT_THAT(system.calls, ElementsAre(true, false));
}

}  // namespace
}  // namespace lk
