#pragma once
// The seam between the window's run and the desktop it runs on: pauses that keep the window
// answering, letting pending window messages run, the clipboard and the end of the session.
//
// Only a system with a desktop provides it (WindowsDesktop, and the scripted system for tests);
// the offline and image layers have none, and the console scan takes only the pauses (Pacing).
// Texts are UTF-8. Nothing here fails in a way the caller could act on, so nothing reports it.

#include <cstdint>
#include <string_view>

namespace lk {

// Waiting a number of seconds, e.g. while a service settles between two states.
class Pacing {
 public:
  Pacing() = default;
  Pacing(const Pacing&) = delete;
  Pacing& operator=(const Pacing&) = delete;
  virtual ~Pacing() = default;

  // Waits seconds seconds; seconds <= 0 returns at once.
  virtual void PauseSeconds(int seconds) = 0;
};

// What ending the session may do; the numbers are those the window's command names them by.
enum class ShutdownMode : std::uint8_t {
  ShutDown = 1,
  Restart = 2,
  LogOff = 3,
  MonitorOff = 4,  // only when forced: switches the monitor off and leaves the session running
};

class Desktop : public Pacing {
 public:
  // Waits while the window keeps answering: the pending window messages run meanwhile.
  void PauseSeconds(int seconds) override = 0;
  // Lets every pending window message of the calling thread run, then returns.
  virtual void PumpWindowMessages() = 0;
  virtual void SetClipboardText(std::string_view text) = 0;
  // Ends the session as mode says; force does not wait for programs that hold it up.
  virtual void ShutdownWindows(ShutdownMode mode, bool force) = 0;
};

// A pause that only waits: for a program without a window (the console scan), where no message
// needs to run meanwhile.
class SleepingPacing final : public Pacing {
 public:
  void PauseSeconds(int seconds) override;
};

}  // namespace lk
