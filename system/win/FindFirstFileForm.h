#pragma once
// Which form of the FindFirstFileExW call starts a directory enumeration.
//
// The fast form asks for basic information (no 8.3 short names) with large fetches; systems
// before Windows 7 know neither and refuse the call with ERROR_INVALID_PARAMETER, so an
// enumeration that insisted on it would find nothing there, and a sweep would examine no file yet
// report nothing suspicious. The first refusal is remembered: that call and every later one use
// the standard form (full information, no flags). Any other outcome leaves the choice alone; a
// refusal for another reason costs only the speed of the fast form.
//
// Portable (no Windows types), so the decision is tested on every build; thread-safe.

#include <atomic>
#include <cstdint>

#include "base/WindowsError.h"

namespace lk {

class FindFirstFileForm {
 public:
  static constexpr std::uint32_t kInvalidParameter = win_error::kInvalidParameter;

  // Starts a search: call(fast) makes the call in the fast (true) or standard (false) form and
  // returns 0 when it started, else the Windows error. Returns the error of the last call made.
  template <typename Call>
  [[nodiscard]] std::uint32_t Start(Call&& call) {
    if (!IsFastRefused()) {
      const std::uint32_t error = call(true);
      if (error != kInvalidParameter) return error;
      fastRefused_.store(true, std::memory_order_relaxed);
    }
    return call(false);
  }

  [[nodiscard]] bool IsFastRefused() const noexcept {
    return fastRefused_.load(std::memory_order_relaxed);
  }

 private:
  std::atomic<bool> fastRefused_{false};
};

}  // namespace lk
