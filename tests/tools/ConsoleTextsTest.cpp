// The console programs' text patterns: what a user typed is put in as it is.
#include <gtest/gtest.h>

#include <string>

#include "tools/ConsoleTexts.h"

namespace lk {
namespace {

using console_texts::Fill;

TEST(ConsoleTextPatterns, FillPutsTheArgumentsInOrder) {
  EXPECT_EQ(Fill(lkscan_texts::kNeedsValue, {"--root", lkscan_texts::kValueFolder}),
            "--root braucht einen Ordner");
  EXPECT_EQ(Fill(lkscan_texts::kVerdictLine, {"sauber", "1", "Datei", "0,0 MB"}),
            "Ergebnis: sauber. 1 Datei (0,0 MB) untersucht");
}

TEST(ConsoleTextPatterns, APlaceholderInsideAnArgumentStays) {
  EXPECT_EQ(Fill(lkgrep_texts::kUnknownOption, {"--%s%s"}), "unknown option --%s%s");
  EXPECT_EQ(Fill("%s and %s", {"%s", "b"}), "%s and b");
}

TEST(ConsoleTextPatterns, MissingArgumentsLeaveThePlaceholderAndExtraOnesAreDropped) {
  EXPECT_EQ(Fill("%s and %s", {"a"}), "a and %s");
  EXPECT_EQ(Fill("only %s", {"a", "b"}), "only a");
  EXPECT_EQ(Fill("none", {}), "none");
}

}  // namespace
}  // namespace lk
