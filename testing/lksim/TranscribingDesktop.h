#pragma once
// A Desktop that hands every call to the scripted one and tells the transcript about the two
// effects that leave the machine: the clipboard text and a shutdown request.

#include <functional>
#include <string_view>
#include <utility>

#include "system/Desktop.h"

namespace lk::lksim {

class TranscribingDesktop final : public Desktop {
 public:
  struct Listener {
    std::function<void(std::string_view text)> clipboard;
    std::function<void(ShutdownMode mode, bool force)> shutdown;
  };

  TranscribingDesktop(Desktop& inner, Listener listener)
      : inner_(inner), listener_(std::move(listener)) {}

  void PauseSeconds(int seconds) override { inner_.PauseSeconds(seconds); }
  void PumpWindowMessages() override { inner_.PumpWindowMessages(); }
  void SetClipboardText(std::string_view text) override {
    if (listener_.clipboard) listener_.clipboard(text);
    inner_.SetClipboardText(text);
  }
  void ShutdownWindows(ShutdownMode mode, bool force) override {
    if (listener_.shutdown) listener_.shutdown(mode, force);
    inner_.ShutdownWindows(mode, force);
  }

 private:
  Desktop& inner_;
  Listener listener_;
};

}  // namespace lk::lksim
