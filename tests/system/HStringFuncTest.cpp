// AppendBackslash turns a directory path into a prefix for file names.
#include "system/hstringfunc.h"

#include <gtest/gtest.h>

namespace lk {
namespace {

TEST(AppendBackslash, AddsOneOnlyWhereMissing) {
  EXPECT_EQ(AppendBackslash("C:\\WINDOWS\\system32"), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(AppendBackslash("C:\\WINDOWS\\system32\\"), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(AppendBackslash("C:"), "C:\\");
  EXPECT_EQ(AppendBackslash("C:/x/"), "C:/x/\\");  // only '\' counts as the final separator
}

TEST(AppendBackslash, TheEmptyPathStaysEmpty) { EXPECT_EQ(AppendBackslash(""), ""); }

}  // namespace
}  // namespace lk
