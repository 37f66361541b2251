#pragma once
// One move-only owner for every kind of Sleuth Kit object, chosen by a traits type: the image,
// its volume system, a file system, a directory and a file each have their own close call, and
// an owner closes its object exactly once (on Reset, on assignment, on destruction). An empty
// owner (null) closes nothing.
//
// Every Sleuth Kit call goes through such an owner, never through a raw pointer kept by hand:
// an early return on one of the many error paths of a damaged image then leaks nothing.

#include <tsk/libtsk.h>

#include <string>
#include <utility>

namespace lk {

template <typename Traits>
class UniqueTsk {
 public:
  using Type = typename Traits::Type;

  UniqueTsk() noexcept = default;
  explicit UniqueTsk(Type* value) noexcept : value_(value) {}
  UniqueTsk(const UniqueTsk&) = delete;
  UniqueTsk& operator=(const UniqueTsk&) = delete;
  UniqueTsk(UniqueTsk&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  UniqueTsk& operator=(UniqueTsk&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.value_, nullptr));
    return *this;
  }
  ~UniqueTsk() { Reset(); }

  [[nodiscard]] Type* Get() const noexcept { return value_; }
  [[nodiscard]] Type* operator->() const noexcept { return value_; }
  [[nodiscard]] explicit operator bool() const noexcept { return value_ != nullptr; }

  void Reset(Type* value = nullptr) noexcept {
    Type* old = std::exchange(value_, value);
    if (old != nullptr) Traits::Close(old);
  }

 private:
  Type* value_ = nullptr;
};

struct TskImageTraits {
  using Type = TSK_IMG_INFO;
  static void Close(Type* value) noexcept { tsk_img_close(value); }
};
struct TskVolumeSystemTraits {
  using Type = TSK_VS_INFO;
  static void Close(Type* value) noexcept { tsk_vs_close(value); }
};
struct TskFileSystemTraits {
  using Type = TSK_FS_INFO;
  static void Close(Type* value) noexcept { tsk_fs_close(value); }
};
struct TskDirectoryTraits {
  using Type = TSK_FS_DIR;
  static void Close(Type* value) noexcept { tsk_fs_dir_close(value); }
};
struct TskFileTraits {
  using Type = TSK_FS_FILE;
  static void Close(Type* value) noexcept { tsk_fs_file_close(value); }
};

using UniqueTskImage = UniqueTsk<TskImageTraits>;
using UniqueTskVolumeSystem = UniqueTsk<TskVolumeSystemTraits>;
using UniqueTskFileSystem = UniqueTsk<TskFileSystemTraits>;
using UniqueTskDirectory = UniqueTsk<TskDirectoryTraits>;
using UniqueTskFile = UniqueTsk<TskFileTraits>;

// The Sleuth Kit's message for the last failure of this thread (empty when it has none); the
// error state is cleared, so the next failure is told on its own.
[[nodiscard]] std::string TakeTskError();

}  // namespace lk
