#include "search/SearchFileGrep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/search/FakeFileSystem.h"
#include "tests/search/FakeRefine.h"

namespace lk {
namespace {

using test::FakeFileSystem;
using test::FakeRefine;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fa = file_attribute;

// A searcher over the fake file system that records its events as lines.
class SearchFixture : public ::testing::Test {
 protected:
  SearchFixture() : grep(fs, std::make_unique<FakeRefine>(calls)) {
    grep.ThreadedSearch = false;
    grep.OnDirChange = [this](SearchFileGrep&, const std::string& d) { Log("dir " + d); };
    grep.OnFileChange = [this](SearchFileGrep&, const std::string& n) { Log("file " + n); };
    grep.OnFound = [this](SearchFileGrep&, const SPFileRecord& r) {
      Log("found " + r.Dir + r.Filename);
    };
    grep.OnErrorOpenFile = [this](SearchFileGrep&, const std::string& p) { Log("error " + p); };
    grep.OnSkipped = [this](SearchFileGrep&, const SPSkippedEntry& s) {
      Log("skipped " + s.Dir + s.Filename + " " + std::to_string(s.Error));
    };
    grep.OnFinished = [this](SearchFileGrep&) { Log("finished"); };
    grep.OnCancel = [this](SearchFileGrep&) { Log("cancel"); };
    grep.OnEnd = [this](SearchFileGrep&) { Log("end"); };
  }

  void Log(std::string line) {
    std::lock_guard<std::mutex> guard(logLock);
    events.push_back(std::move(line));
  }

  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> picked;
    for (const std::string& e : events) {
      if (e.rfind(prefix, 0) == 0) picked.push_back(e.substr(prefix.size()));
    }
    return picked;
  }

  std::vector<std::string> Found() { return grep.FoundList().Items(); }

  FakeFileSystem fs;
  FakeRefine::Calls calls;
  SearchFileGrep grep;
  std::mutex logLock;
  std::vector<std::string> events;
};

// ---- lists of masks and directories ----

using SearchLists = SearchFixture;

TEST_F(SearchLists, EmptyMaskListSearchesEveryName) {
  fs.AddFile("C:\\d\\a.dll");
  fs.AddFile("C:\\d\\noext");
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_THAT(fs.enumerated, ElementsAre("C:\\d\\|*.*", "C:\\d\\|*.*"));
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\a.dll", "C:\\d\\noext"));
}

TEST_F(SearchLists, MasksAreTrimmedAndRepeatsIgnoringCaseDropped) {
  fs.AddFile("C:\\d\\a.dll");
  fs.AddFile("C:\\d\\b.sys");
  grep.Dirs = "C:\\d";
  grep.RecurseSubDirs = false;
  grep.FileMasks = " *.sys ;\t*.DLL\r;;*.Sys; *.dll ;";
  grep.RunSearch();
  EXPECT_THAT(fs.enumerated, ElementsAre("C:\\d\\|*.sys", "C:\\d\\|*.DLL"));
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\b.sys", "C:\\d\\a.dll"));
}

TEST_F(SearchLists, EmptyDirectoryPartsAreDroppedButRepeatsAreScannedTwice) {
  fs.AddFile("C:\\a\\x.txt");
  fs.AddFile("C:\\b\\y.txt");
  grep.RecurseSubDirs = false;
  grep.Dirs = "C:\\a; ;C:\\b;";
  grep.RunSearch();
  EXPECT_THAT(Only("dir "), ElementsAre("C:\\a\\", "C:\\b\\"));

  events.clear();
  grep.Dirs = "C:\\a;c:\\A\\";
  grep.FileMasks = "*.txt";
  grep.RunSearch();
  EXPECT_THAT(Only("dir "), ElementsAre("C:\\a\\", "c:\\A\\"));
  EXPECT_THAT(Only("file "), ElementsAre("x.txt", "x.txt"));
  EXPECT_THAT(Only("found "), ElementsAre("C:\\a\\x.txt"));
  EXPECT_THAT(Found(), ElementsAre("C:\\a\\x.txt"));
}

TEST_F(SearchLists, TrailingBackslashGivesTheSamePaths) {
  fs.AddFile("C:\\d\\x.txt");
  grep.Dirs = "C:\\d\\";
  grep.RunSearch();
  const auto withSlash = Found();
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_EQ(withSlash, Found());
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\x.txt"));
}

// ---- the found list ----

TEST(FoundList, KeepsInsertionOrderAndLooksUpIgnoringCase) {
  ThreadStringList list;
  list.Add("C:\\B.DLL");
  list.Add("C:\\a.dll");
  EXPECT_EQ(list.IndexOf("c:\\b.dll"), 0);
  EXPECT_EQ(list.IndexOf("C:\\A.DLL"), 1);
  EXPECT_EQ(list.IndexOf("C:\\c.dll"), -1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list[1], "C:\\a.dll");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(FoundList, RepeatedTextsAreKeptAndLookUpGivesTheFirst) {
  ThreadStringList list;
  list.Add("C:\\x\\One.dll");
  list.Add("C:\\x\\two.dll");
  list.Add("c:\\X\\ONE.DLL");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2], "c:\\X\\ONE.DLL");
  EXPECT_EQ(list.IndexOf("C:\\X\\one.dll"), 0);
  EXPECT_EQ(list.IndexOf("C:\\x\\TWO.dll"), 1);
  // Only ASCII letters are folded: Windows-1252 A and a with diaeresis stay different texts.
  list.Add("C:\\\xC4.dll");
  EXPECT_EQ(list.IndexOf("C:\\\xC4.dll"), 3);
  EXPECT_EQ(list.IndexOf("C:\\\xE4.dll"), -1);
  EXPECT_EQ(list.IndexOf("C:\\x\\One.dl"), -1);
  EXPECT_EQ(list.IndexOf(""), -1);
}

TEST(FoundList, EmptyingForgetsEveryTextAndPosition) {
  ThreadStringList list;
  list.Add("C:\\a.dll");
  list.Add("C:\\b.dll");
  list.Clear();
  EXPECT_EQ(list.IndexOf("C:\\a.dll"), -1);
  list.Add("C:\\B.DLL");
  EXPECT_EQ(list.IndexOf("c:\\b.dll"), 0);
  EXPECT_EQ(list.IndexOf("C:\\a.dll"), -1);
  EXPECT_THAT(list.Items(), ElementsAre("C:\\B.DLL"));
}

TEST(FoundList, EveryTextOfALongListIsFoundAtItsPosition) {
  ThreadStringList list;
  for (int i = 0; i < 20'000; ++i) list.Add("C:\\Dir\\File" + std::to_string(i) + ".SYS");
  ASSERT_EQ(list.Count(), 20'000);
  for (int i = 0; i < 20'000; i += 7) {
    ASSERT_EQ(list.IndexOf("c:\\dir\\file" + std::to_string(i) + ".sys"), i);
  }
  EXPECT_EQ(list.IndexOf("C:\\Dir\\File20000.SYS"), -1);
}

TEST(FoundList, AddsAndLookUpsFromSeveralThreadsKeepListAndIndexInStep) {
  ThreadStringList list;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2'000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&list, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::string text = "C:\\T" + std::to_string(t) + "\\" + std::to_string(i);
        list.Add(text);
        (void)list.IndexOf(text);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(list.Count(), kThreads * kPerThread);
  for (int i = 0; i < list.Count(); ++i) ASSERT_EQ(list.IndexOf(list[i]), i);
}

using FoundListFilling = SearchFixture;

TEST_F(FoundListFilling, RunSearchEmptiesTheListEvenWhenNothingIsFound) {
  fs.AddFile("C:\\d\\x.txt");
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  ASSERT_EQ(grep.FoundList().Count(), 1);
  grep.Dirs = "C:\\missing";
  grep.RunSearch();
  EXPECT_EQ(grep.FoundList().Count(), 0);
  EXPECT_THAT(events, ::testing::Contains("dir C:\\missing\\"));
}

TEST_F(FoundListFilling, OnFoundRunsOncePerPathAfterThePathIsListed) {
  fs.AddFile("C:\\d\\x.txt");
  std::vector<int> countsSeen;
  grep.OnFound = [&](SearchFileGrep& sender, const SPFileRecord& record) {
    countsSeen.push_back(sender.FoundList().Count());
    EXPECT_EQ(sender.FoundList().IndexOf(record.Dir + record.Filename), countsSeen.size() - 1);
  };
  grep.Dirs = "C:\\d;C:\\D";
  grep.RunSearch();
  EXPECT_THAT(countsSeen, ElementsAre(1));
}

TEST_F(FoundListFilling, WithoutInternalListEveryAcceptedEntryIsReported) {
  fs.AddFile("C:\\d\\x.txt");
  grep.InternalFoundList = false;
  grep.Dirs = "C:\\d;C:\\d";
  grep.RunSearch();
  EXPECT_THAT(Only("found "), ElementsAre("C:\\d\\x.txt", "C:\\d\\x.txt"));
  EXPECT_EQ(grep.FoundList().Count(), 0);
}

TEST_F(FoundListFilling, ListIsFilledWithoutAnOnFoundHandler) {
  fs.AddFile("C:\\d\\x.txt");
  grep.OnFound = nullptr;
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\x.txt"));
}

// ---- counting pass and content test ----

using ContentTest = SearchFixture;

TEST_F(ContentTest, CountingPassListsEveryFittingEntryWithoutOpeningFiles) {
  fs.AddFile("C:\\sys\\a.dll");
  fs.AddFile("C:\\sys\\hidden.dll", "", fa::kHidden | fa::kSystem);
  fs.AddDirectory("C:\\sys\\folder.dll");
  fs.AddFile("C:\\sys\\folder.dll\\inner.dll");
  fs.AddFile("C:\\sys\\other.exe");
  grep.Dirs = "C:\\sys\\";
  grep.FileMasks = "*.dll";
  grep.RecurseSubDirs = false;
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\sys\\a.dll", "C:\\sys\\hidden.dll", "C:\\sys\\folder.dll"));
  EXPECT_THAT(fs.opened, IsEmpty());
  EXPECT_EQ(calls.compiles, 0);
}

TEST_F(ContentTest, WithAnExpressionDirectoriesAreDroppedAndFilesOpenedDenyingWriters) {
  fs.AddFile("C:\\sys\\a.dll", "xx skype xx");
  fs.AddFile("C:\\sys\\b.dll", "nothing");
  fs.AddDirectory("C:\\sys\\skype.dll");
  grep.SetSearchString("SKYPE");
  grep.Dirs = "C:\\sys";
  grep.FileMasks = "*.dll";
  grep.RecurseSubDirs = false;
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\sys\\a.dll"));
  ASSERT_EQ(fs.opened.size(), 2u);
  EXPECT_EQ(fs.opened[0].path, "C:\\sys\\a.dll");
  EXPECT_EQ(fs.opened[0].share, FileShare::Read);
  EXPECT_EQ(calls.matches, 2);
}

TEST_F(ContentTest, FileThatCannotBeOpenedOrReadIsReportedAndNotFound) {
  fs.AddFile("C:\\d\\inuse.sys", "SKYPE").openError = 32;  // ERROR_SHARING_VIOLATION
  fs.AddFile("C:\\d\\broken.sys", "SKYPE").throwOnRead = true;
  fs.AddFile("C:\\d\\good.sys", "SKYPE");
  grep.SetSearchString("SKYPE");
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_THAT(Only("error "), ElementsAre("C:\\d\\inuse.sys", "C:\\d\\broken.sys"));
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\good.sys"));
}

TEST_F(ContentTest, ExpressionThatFailsToCompileForAFileDropsItUnopened) {
  fs.AddFile("C:\\d\\a.sys", "SKYPE");
  grep.SetSearchString("SKYPE");
  // The matcher's Template is valid; a change of its own rules between assignment and search
  // (here: Template forced to an invalid text) must drop files without opening them.
  grep.Matcher().SetTemplate("bad!");
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_THAT(Found(), IsEmpty());
  EXPECT_THAT(fs.opened, IsEmpty());
}

// ---- filters and the file record ----

using EntryFilters = SearchFixture;

TEST_F(EntryFilters, SizeBoundsZeroMaxKeepsAllAndMinOneDropsEmptyFiles) {
  fs.AddFile("C:\\d\\empty");
  fs.AddFile("C:\\d\\big", std::string(5000, 'x'));
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\empty", "C:\\d\\big"));
  grep.MinSize = 1;
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\big"));
  grep.MinSize = 0;
  grep.MaxSize = 4999;
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\empty"));
}

TEST_F(EntryFilters, WithoutAnyFileOnlyEntriesWithEveryChosenAttributeAndNoDirectories) {
  fs.AddFile("C:\\d\\plain", "", fa::kArchive);
  fs.AddFile("C:\\d\\ro", "", fa::kArchive | fa::kReadOnly);
  fs.AddFile("C:\\d\\rohidden", "", fa::kReadOnly | fa::kHidden);
  fs.AddFile("C:\\d\\rosystem", "", fa::kReadOnly | fa::kSystem);
  fs.AddDirectory("C:\\d\\sub", fa::kReadOnly);
  grep.Dirs = "C:\\d";
  grep.RecurseSubDirs = false;
  grep.Attributes = SPFileAttributes{SPFileAttribute::fmReadOnly};
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\ro"));
  // Hidden entries are not even enumerated without fmHidden.
  EXPECT_THAT(Only("file "), ElementsAre("plain", "ro"));

  grep.Attributes = SPFileAttributes{SPFileAttribute::fmReadOnly, SPFileAttribute::fmHidden};
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\rohidden"));
}

TEST_F(EntryFilters, DateBoundsApplyInLocalTimeOnlyWhenChecked) {
  const std::int64_t t = FakeFileSystem::kDefaultTime;
  fs.AddFile("C:\\d\\old");
  fs.AddFile("C:\\d\\new").size = 0;
  fs.Entry("C:\\d\\new").lastWriteTime = t + 10 * FakeFileSystem::kHour;
  grep.Dirs = "C:\\d";
  grep.ModifiedAfter = t + 5 * FakeFileSystem::kHour;
  grep.RunSearch();
  EXPECT_EQ(grep.FoundList().Count(), 2) << "bound not in CheckDates";
  grep.CheckDates.Add(SPCheckDate::scdModifiedAfter);
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\new"));
  // Local time is UTC + 1 h here: a bound one hour after the UTC time still keeps the file.
  grep.CheckDates = SPCheckDates{SPCheckDate::scdCreateBefore};
  grep.CreatedBefore = t + FakeFileSystem::kHour;
  grep.RunSearch();
  EXPECT_EQ(grep.FoundList().Count(), 2);
  grep.CreatedBefore = t + FakeFileSystem::kHour - 1;
  grep.RunSearch();
  EXPECT_EQ(grep.FoundList().Count(), 0);
}

TEST_F(EntryFilters, RecordHoldsWhatResultValuesAskForWithLettersInFixedOrder) {
  fs.AddFile("C:\\d\\x.sys", "abc", fa::kHidden | fa::kSystem | fa::kReadOnly | fa::kArchive);
  std::vector<SPFileRecord> records;
  grep.OnFound = [&](SearchFileGrep&, const SPFileRecord& r) { records.push_back(r); };
  grep.Dirs = "C:\\d";
  grep.ResultValues = SPResults{SPResult::srsDir,
                                SPResult::srsFilename,
                                SPResult::srsAttr,
                                SPResult::srsSize,
                                SPResult::srsCreateDate,
                                SPResult::srsLastAccessDate,
                                SPResult::srsLastModifiedDate};
  grep.RunSearch();
  ASSERT_EQ(records.size(), 1u);
  const SPFileRecord& r = records[0];
  EXPECT_EQ(r.Dir, "C:\\d\\");
  EXPECT_EQ(r.Filename, "x.sys");
  EXPECT_EQ(r.AttrLetters, "rash");
  EXPECT_TRUE(r.Attr.Has(SPFileAttribute::fmHidden));
  EXPECT_FALSE(r.Attr.Has(SPFileAttribute::fmAnyfile));
  EXPECT_EQ(r.Size, 3);
  EXPECT_EQ(r.LastModifiedDate, FakeFileSystem::kDefaultTime + FakeFileSystem::kHour);

  records.clear();
  grep.ResultValues = SPResults{SPResult::srsFilename};
  grep.RunSearch();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Dir, "");
  EXPECT_EQ(records[0].AttrLetters, "");
  EXPECT_EQ(records[0].Size, 0);
  EXPECT_EQ(records[0].CreateDate, 0);
}

// ---- recursion ----

using Recursion = SearchFixture;

TEST_F(Recursion, AllMasksOfADirectoryComeBeforeItsSubdirectoriesDepthFirst) {
  fs.AddDirectory("C:\\r\\s1");
  fs.AddFile("C:\\r\\s1\\a.sys");
  fs.AddDirectory("C:\\r\\s1\\deep");
  fs.AddFile("C:\\r\\s1\\deep\\b.dll");
  fs.AddDirectory("C:\\r\\s2");
  fs.AddFile("C:\\r\\s2\\c.dll");
  fs.AddFile("C:\\r\\top.sys");
  fs.AddFile("C:\\r\\top.dll");
  grep.Dirs = "C:\\r";
  grep.FileMasks = "*.dll;*.sys";
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\r\\top.dll", "C:\\r\\top.sys", "C:\\r\\s1\\a.sys",
                                   "C:\\r\\s1\\deep\\b.dll", "C:\\r\\s2\\c.dll"));
  EXPECT_THAT(Only("dir "),
              ElementsAre("C:\\r\\", "C:\\r\\s1\\", "C:\\r\\s1\\deep\\", "C:\\r\\s2\\"));

  grep.RecurseSubDirs = false;
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\r\\top.dll", "C:\\r\\top.sys"));
}

TEST_F(Recursion, DirectoryLinkThatLoopsBackIsNotEntered) {
  fs.AddFile("C:\\r\\a.txt");
  fs.AddLink("C:\\r\\loop", "C:\\r");
  fs.AddDirectory("C:\\r\\real");
  fs.AddFile("C:\\r\\real\\b.txt");
  grep.Dirs = "C:\\r";
  grep.FileMasks = "*.txt";
  grep.RunSearch();
  EXPECT_THAT(Found(), ElementsAre("C:\\r\\a.txt", "C:\\r\\real\\b.txt"));
  EXPECT_THAT(Only("dir "), ElementsAre("C:\\r\\", "C:\\r\\real\\"));
}

// ---- entries that cannot be examined ----

using SkippedEntries = SearchFixture;

TEST_F(SkippedEntries, AMissingOrUnreadableDirectoryIsReportedOnceAndTheSearchGoesOn) {
  fs.AddFile("C:\\d\\a.dll");
  fs.AddDirectory("C:\\d\\locked");
  fs.AddFile("C:\\d\\locked\\b.dll");
  fs.AddDirectory("C:\\d\\open");
  fs.AddFile("C:\\d\\open\\c.dll");
  fs.RefuseDirectory("C:\\d\\locked", 5);
  grep.Dirs = "C:\\nowhere;C:\\d";
  grep.FileMasks = "*.dll;*.sys";
  grep.RunSearch();
  EXPECT_THAT(Only("skipped "), ElementsAre("C:\\nowhere\\ 3", "C:\\d\\locked\\ 5"));
  EXPECT_EQ(grep.SkippedCount(), 2);
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\a.dll", "C:\\d\\open\\c.dll"));
  EXPECT_THAT(Only("dir "),
              ElementsAre("C:\\nowhere\\", "C:\\d\\", "C:\\d\\locked\\", "C:\\d\\open\\"));
  EXPECT_THAT(Only("finished"), ElementsAre(""));
}

TEST_F(SkippedEntries, AnEntryTheEnumerationCouldNotExamineIsReportedInBothPasses) {
  fs.AddFile("C:\\d\\gone.dll", "SKYPE");
  fs.Entry("C:\\d\\gone.dll").error = 2;  // listed, then vanished
  fs.AddFile("C:\\d\\ok.dll", "SKYPE");
  grep.Dirs = "C:\\d";
  grep.RecurseSubDirs = false;
  grep.RunSearch();
  EXPECT_THAT(Only("skipped "), ElementsAre("C:\\d\\gone.dll 2"));
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\ok.dll"));

  events.clear();
  grep.SetSearchString("SKYPE");
  grep.RunSearch();
  EXPECT_THAT(Only("file "), ElementsAre(".", "..", "gone.dll", "ok.dll"));
  EXPECT_THAT(Only("skipped "), ElementsAre("C:\\d\\gone.dll 2"));
  EXPECT_THAT(Found(), ElementsAre("C:\\d\\ok.dll"));
  ASSERT_EQ(fs.opened.size(), 1u);
  EXPECT_EQ(fs.opened[0].path, "C:\\d\\ok.dll");
}

TEST_F(SkippedEntries, AFileThatCannotBeOpenedOrReadIsSkippedWithItsReason) {
  fs.AddFile("C:\\d\\inuse.sys", "SKYPE").openError = 32;
  fs.AddFile("C:\\d\\broken.sys", "SKYPE").throwOnRead = true;
  fs.AddFile("C:\\d\\good.sys", "SKYPE");
  grep.SetSearchString("SKYPE");
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_THAT(Only("skipped "), ElementsAre("C:\\d\\inuse.sys 32", "C:\\d\\broken.sys 30"));
  EXPECT_THAT(Only("error "), ElementsAre("C:\\d\\inuse.sys", "C:\\d\\broken.sys"));
  EXPECT_EQ(grep.SkippedCount(), 2);

  grep.SetSearchString("");
  grep.RunSearch();  // the counting pass opens nothing, so skips nothing
  EXPECT_EQ(grep.SkippedCount(), 0);
}

TEST_F(SkippedEntries, LinksAndSubdirectoriesThatCannotBeEnteredAreReportedOnce) {
  fs.AddLink("C:\\r\\loop", "C:\\r");
  fs.AddDirectory("C:\\r\\bad");
  fs.Entry("C:\\r\\bad").error = 123;  // a name no Windows path can hold
  fs.AddFile("C:\\r\\a.txt");
  grep.Dirs = "C:\\r";
  grep.FileMasks = "*.txt";
  grep.RunSearch();
  EXPECT_THAT(Only("skipped "), ElementsAre("C:\\r\\loop 1921", "C:\\r\\bad 123"));

  events.clear();
  grep.FileMasks = "*";  // now the broken name fits the mask too: still one report
  grep.RunSearch();
  EXPECT_THAT(Only("skipped "), ElementsAre("C:\\r\\bad 123", "C:\\r\\loop 1921"));
  EXPECT_THAT(Found(), ElementsAre("C:\\r\\loop", "C:\\r\\a.txt"));
}

// ---- events and stopping ----

using SearchEvents = SearchFixture;

TEST_F(SearchEvents, ComeInOrderAndWindowMessagesRunOncePerDirectory) {
  fs.AddFile("C:\\r\\a.txt");
  fs.AddDirectory("C:\\r\\s");
  fs.AddFile("C:\\r\\s\\b.txt");
  grep.PumpMessages = [this] { Log("pump"); };
  grep.Dirs = "C:\\r";
  grep.FileMasks = "*.txt";
  grep.RunSearch();
  EXPECT_THAT(events, ElementsAre("pump", "dir C:\\r\\", "file a.txt", "found C:\\r\\a.txt", "pump",
                                  "dir C:\\r\\s\\", "file b.txt", "found C:\\r\\s\\b.txt",
                                  "finished", "end"));
}

TEST_F(SearchEvents, StopFromOnFileChangeFinishesTheCurrentEntryAndCancels) {
  fs.AddFile("C:\\a\\1.txt");
  fs.AddFile("C:\\a\\2.txt");
  fs.AddFile("C:\\a\\3.txt");
  fs.AddFile("C:\\b\\4.txt");
  grep.OnFileChange = [this](SearchFileGrep& sender, const std::string& name) {
    Log("file " + name);
    if (name == "2.txt") sender.StopSearch();
  };
  grep.Dirs = "C:\\a;C:\\b";
  grep.FileMasks = "*.txt";
  grep.RunSearch();
  EXPECT_THAT(events, ElementsAre("dir C:\\a\\", "file 1.txt", "found C:\\a\\1.txt", "file 2.txt",
                                  "found C:\\a\\2.txt", "dir C:\\b\\", "cancel", "end"));
  EXPECT_FALSE(grep.StopRequested());

  events.clear();
  grep.OnFileChange = nullptr;
  grep.RunSearch();
  EXPECT_EQ(grep.FoundList().Count(), 4);
  EXPECT_EQ(events.back(), "end");
  EXPECT_EQ(events[events.size() - 2], "finished");
}

TEST_F(SearchEvents, StopRequestMadeWhileIdleCancelsTheNextSearchUnlessCleared) {
  fs.AddFile("C:\\a\\1.txt");
  grep.Dirs = "C:\\a";
  grep.FileMasks = "*.txt";
  grep.StopSearch();
  grep.RunSearch();
  EXPECT_THAT(events, ElementsAre("dir C:\\a\\", "cancel", "end"));
  EXPECT_EQ(grep.FoundList().Count(), 0);

  events.clear();
  grep.StopSearch();
  grep.ClearStopRequest();
  grep.RunSearch();
  EXPECT_THAT(events,
              ElementsAre("dir C:\\a\\", "file 1.txt", "found C:\\a\\1.txt", "finished", "end"));
}

TEST_F(SearchEvents, HandlerErrorEndsTheSearchWithoutEndEvents) {
  fs.AddFile("C:\\a\\1.txt");
  fs.AddFile("C:\\a\\2.txt");
  grep.OnFileChange = [](SearchFileGrep& sender, const std::string&) {
    sender.StopSearch();
    throw std::runtime_error("handler failed");
  };
  grep.Dirs = "C:\\a";
  EXPECT_THROW(grep.RunSearch(), std::runtime_error);
  EXPECT_THAT(events, ElementsAre("dir C:\\a\\"));
  EXPECT_TRUE(grep.StopRequested());
  EXPECT_FALSE(grep.IsSearching());
}

TEST_F(SearchEvents, ThreadedSearchRunsOnAWorkerAndEndsWithOnEnd) {
  fs.AddFile("C:\\a\\1.txt");
  fs.AddFile("C:\\a\\2.txt");
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
  std::thread::id handlerThread;
  grep.ThreadedSearch = true;
  grep.OnEnd = [&](SearchFileGrep&) {
    std::lock_guard<std::mutex> guard(m);
    handlerThread = std::this_thread::get_id();
    ended = true;
    cv.notify_all();
  };
  grep.Dirs = "C:\\a";
  grep.RunSearch();
  std::unique_lock<std::mutex> lock(m);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return ended; }));
  EXPECT_NE(handlerThread, std::this_thread::get_id());
  lock.unlock();
  // The worker is forgotten before OnEnd; the next search may start at once.
  ended = false;
  grep.RunSearch();
  lock.lock();
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return ended; }));
  lock.unlock();
  // Reading the list after the search ended.
  while (grep.IsSearching()) std::this_thread::yield();
  EXPECT_THAT(Found(), ElementsAre("C:\\a\\1.txt", "C:\\a\\2.txt"));
}

TEST_F(SearchEvents, StopSearchEndsAThreadedSearchWithOnCancel) {
  for (int i = 0; i < 50; ++i) fs.AddFile("C:\\a\\f" + std::to_string(i));
  std::mutex m;
  std::condition_variable cv;
  bool firstSeen = false, release = false;
  grep.ThreadedSearch = true;
  grep.OnFileChange = [&](SearchFileGrep&, const std::string& name) {
    Log("file " + name);
    std::unique_lock<std::mutex> lock(m);
    firstSeen = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  };
  grep.Dirs = "C:\\a";
  grep.FileMasks = "f*";
  grep.RunSearch();
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return firstSeen; });
    grep.StopSearch();
    release = true;
    cv.notify_all();
  }
  for (int i = 0; i < 1000 && (events.empty() || events.back() != "end"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::lock_guard<std::mutex> guard(logLock);
  EXPECT_THAT(Only("file "), ElementsAre("f0"));
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], "cancel");
  EXPECT_EQ(events.back(), "end");
}

TEST_F(SearchEvents, AHandlerFailureOnTheWorkerEndsTheSearchAndIsKeptForTheOwner) {
  fs.AddFile("C:\\a\\1.txt");
  grep.ThreadedSearch = true;
  grep.OnFound = [](SearchFileGrep&, const SPFileRecord&) {
    throw std::runtime_error("the handler failed");
  };
  grep.Dirs = "C:\\a";
  grep.RunSearch();
  for (int i = 0; i < 2000 && grep.IsSearching(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_FALSE(grep.IsSearching());
  const std::exception_ptr failure = grep.WorkerFailure();
  ASSERT_TRUE(failure) << "the failure reached nobody";
  try {
    std::rethrow_exception(failure);
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "the handler failed");
  }
  // A search that ends by itself leaves no failure behind.
  grep.OnFound = nullptr;
  grep.RunSearch();
  for (int i = 0; i < 2000 && grep.IsSearching(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(grep.WorkerFailure());
}

// ---- the search string ----

using SearchStringAssignment = SearchFixture;

TEST_F(SearchStringAssignment, ValidTextIsKeptAndTheSameTextIsNotCompiledAgain) {
  grep.SetSearchString("SKYPE and X");
  EXPECT_EQ(grep.SearchString(), "SKYPE and X");
  EXPECT_EQ(calls.compiles, 1);
  grep.SetSearchString("SKYPE and X");
  EXPECT_EQ(calls.compiles, 1);
  grep.SetSearchString("");
  EXPECT_EQ(grep.SearchString(), "");
}

TEST_F(SearchStringAssignment, InvalidTextKeepsThePreviousAndReportsOnce) {
  int invalid = 0;
  grep.SetSearchString("GOOD");
  grep.OnTemplateInvalid = [&](SearchFileGrep&) { ++invalid; };
  grep.SetSearchString("bad!");
  EXPECT_EQ(invalid, 1);
  EXPECT_EQ(grep.SearchString(), "GOOD");

  std::vector<std::string> boxes;
  grep.OnTemplateInvalid = nullptr;
  grep.ShowMessageBox = [&](const std::string& caption, const std::string& text) {
    boxes.push_back(caption + "|" + text);
  };
  grep.SetSearchString("bad!");
  EXPECT_THAT(boxes, ElementsAre("Fehler|Invalid search expression"));
  EXPECT_EQ(grep.SearchString(), "GOOD");
}

TEST_F(SearchStringAssignment, OptionChangesReachTheMatcher) {
  grep.Options().SetMatchCase(true);
  grep.Options().SetWholeWordsOnly(true);
  grep.Options().SetNearestLength(7);
  EXPECT_TRUE(grep.Matcher().MatchCase());
  EXPECT_TRUE(grep.Matcher().WholeWordsOnly());
  EXPECT_EQ(grep.Matcher().NearestLength(), 7);

  fs.AddFile("C:\\d\\a", "skype");
  grep.SetSearchString("SKYPE");
  grep.Dirs = "C:\\d";
  grep.RunSearch();
  EXPECT_EQ(grep.FoundList().Count(), 0) << "MatchCase is on";
}

}  // namespace
}  // namespace lk
