#pragma once
// The POSIX traits of the one handle owner (base/UniqueHandle.h): file descriptors (open and
// openat fail with -1) and directory streams (fdopendir fails with null).
//
// Guarantees: closing keeps errno, so a caller may read the errno of a failed call after the
// owners of its scope are gone. A directory stream owns the descriptor it was made from:
// closedir closes both, and OpenDirectoryStream closes the descriptor when no stream could be
// made from it.

#include <dirent.h>
#include <unistd.h>

#include <cerrno>

#include "base/UniqueHandle.h"

namespace lk {

struct DescriptorTraits {
  using Type = int;
  using ErrorKeeper = ErrnoKeeper;
  static Type Empty() noexcept { return -1; }
  static bool IsEmpty(Type value) noexcept { return value < 0; }
  static void Close(Type value) noexcept { ::close(value); }
};

struct DirectoryStreamTraits : NullHandleTraits<DIR*, &::closedir> {
  using ErrorKeeper = ErrnoKeeper;
};

using UniqueDescriptor = UniqueHandle<DescriptorTraits>;
using UniqueDirectoryStream = UniqueHandle<DirectoryStreamTraits>;

// Closes the descriptor now and tells how that went: 0 when it closed cleanly or there was
// nothing to close, else the errno of close (for a file written, a late write error). The owner
// is empty afterwards.
[[nodiscard]] inline int CloseDescriptorNow(UniqueDescriptor& descriptor) noexcept {
  const int value = descriptor.Release();
  if (value < 0) return 0;
  return ::close(value) == 0 ? 0 : errno;
}

// A stream over the listing of the descriptor's directory, taking the descriptor over. Empty,
// with errno telling why, when fdopendir refuses; the descriptor is closed then.
[[nodiscard]] inline UniqueDirectoryStream OpenDirectoryStream(
    UniqueDescriptor descriptor) noexcept {
  if (!descriptor) return UniqueDirectoryStream();
  UniqueDirectoryStream stream(::fdopendir(descriptor.Get()));
  if (stream) static_cast<void>(descriptor.Release());
  return stream;
}

}  // namespace lk
