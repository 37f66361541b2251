#pragma once
// One move-only owner for every kind of handle, chosen by a traits type: Windows handles, POSIX
// descriptors and directory streams, the handles of the libraries we read disks and hives with,
// digest contexts. The traits live beside the OS or library code they close; this template
// knows no OS.
//
// The traits type names the handle type, its empty value and the call that closes it, so each
// owner gets the sentinel right once (CreateFileW fails with INVALID_HANDLE_VALUE, open with -1,
// most others with null). Handles whose close call needs more than the handle (ReleaseDC needs
// the window) take a small struct as their type; their traits then say by IsEmpty which part
// tells an empty owner. Traits whose close call may change the error a caller still reads (the
// thread's last error, errno) name an ErrorKeeper: a scope guard that saves that error when it is
// made and puts it back when it ends, around every close.
//
// Guarantees: the handle is closed exactly once (on Reset, on assignment, on destruction), an
// empty owner closes nothing, and with an ErrorKeeper closing never changes the caller's error.
// The owner does not check what the close call returns: nothing can be done about it. Where the
// result matters (a file written and closed), the caller releases the handle and closes it
// itself.

#include <cerrno>
#include <type_traits>
#include <utility>

namespace lk {

// Saves errno and puts it back when the scope ends: the ErrorKeeper of handles whose close call
// may set errno (descriptors, directory streams, library handles).
class ErrnoKeeper {
 public:
  ErrnoKeeper() noexcept : saved_(errno) {}
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

// The value is empty: by the traits' IsEmpty where they have one, else by their empty value.
template <typename Traits>
[[nodiscard]] bool IsEmptyHandle(const typename Traits::Type& value) noexcept {
  if constexpr (requires { Traits::IsEmpty(value); }) {
    return Traits::IsEmpty(value);
  } else {
    return value == Traits::Empty();
  }
}

// Closes a value that is not empty, keeping the caller's error where the traits say how.
template <typename Traits>
void CloseHandleValue(const typename Traits::Type& value) noexcept {
  if constexpr (requires { typename Traits::ErrorKeeper; }) {
    const typename Traits::ErrorKeeper keep;
    Traits::Close(value);
  } else {
    Traits::Close(value);
  }
}

// The traits of the common case: a handle that is null when empty and closed by one call that
// takes only the handle (the call's result, if any, is not checked).
template <typename Handle, auto CloseCall>
struct NullHandleTraits {
  using Type = Handle;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { static_cast<void>(CloseCall(value)); }
};

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type value) noexcept : value_(value) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  [[nodiscard]] Type Get() const noexcept { return value_; }
  [[nodiscard]] explicit operator bool() const noexcept { return !IsEmptyHandle<Traits>(value_); }
  // The fields of a library's object, for handles that are pointers to one.
  [[nodiscard]] Type operator->() const noexcept requires std::is_pointer_v<Type> { return value_; }

  // Gives up ownership without closing; the owner is empty afterwards.
  [[nodiscard]] Type Release() noexcept { return std::exchange(value_, Traits::Empty()); }

  // Closes the current handle (if any) and takes the new one.
  void Reset(Type value = Traits::Empty()) noexcept {
    const Type old = std::exchange(value_, value);
    if (!IsEmptyHandle<Traits>(old)) CloseHandleValue<Traits>(old);
  }

  // Closes the current handle and returns the slot for an out parameter (RegOpenKeyExW(...,
  // key.Put())). The slot must hold the empty value or a handle this owner may close.
  [[nodiscard]] Type* Put() noexcept {
    Reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Empty();
};

}  // namespace lk
