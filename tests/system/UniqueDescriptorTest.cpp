// The POSIX owners: a descriptor and a directory stream close once and keep errno, a stream
// takes over the descriptor it is made from (and closes it when none can be made), and closing
// now tells the error of close.

#include "system/posix/UniqueDescriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace lk {
namespace {

// A closed descriptor answers fcntl with EBADF.
bool IsOpen(int descriptor) { return ::fcntl(descriptor, F_GETFD) != -1; }

TEST(UniqueDescriptor, ClosesOnceAndKeepsErrno) {
  int raw = -1;
  {
    const UniqueDescriptor file(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(file);
    raw = file.Get();
    errno = ENOENT;
  }
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(IsOpen(raw));
  const UniqueDescriptor failed(::open("/lk-no-such-entry", O_RDONLY | O_CLOEXEC));
  EXPECT_FALSE(failed);
}

TEST(UniqueDescriptor, CloseNowTellsTheErrorOfClose) {
  UniqueDescriptor file(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(file);
  const int raw = file.Get();
  EXPECT_EQ(CloseDescriptorNow(file), 0);
  EXPECT_FALSE(file);
  EXPECT_FALSE(IsOpen(raw));
  EXPECT_EQ(CloseDescriptorNow(file), 0) << "nothing left to close";
  // A number far above any this process opens: close fails, and the owner says so.
  UniqueDescriptor stale(1 << 20);
  EXPECT_EQ(CloseDescriptorNow(stale), EBADF);
}

TEST(UniqueDirectoryStream, TakesOverTheDescriptorAndListsTheFolder) {
  UniqueDescriptor folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  const int raw = folder.Get();
  int entries = 0;
  {
    const UniqueDirectoryStream stream = OpenDirectoryStream(std::move(folder));
    ASSERT_TRUE(stream);
    EXPECT_EQ(::dirfd(stream.Get()), raw);
    while (::readdir(stream.Get()) != nullptr) ++entries;
  }
  EXPECT_GT(entries, 2);
  EXPECT_FALSE(IsOpen(raw)) << "the stream closed the descriptor with itself";
}

TEST(UniqueDirectoryStream, ClosesTheDescriptorWhenNoStreamCanBeMade) {
  char path[] = "/tmp/lk-unique-descriptor-XXXXXX";
  UniqueDescriptor file(::mkstemp(path));
  ASSERT_TRUE(file);
  ::unlink(path);
  const int raw = file.Get();
  const UniqueDirectoryStream stream = OpenDirectoryStream(std::move(file));
  EXPECT_FALSE(stream);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_FALSE(IsOpen(raw));
  errno = 0;
  EXPECT_FALSE(OpenDirectoryStream(UniqueDescriptor(::open("/lk-no-such-entry", O_RDONLY))));
  EXPECT_EQ(errno, ENOENT) << "the failed open's errno reaches the caller";
}

}  // namespace
}  // namespace lk
