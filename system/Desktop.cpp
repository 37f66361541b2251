#include "system/Desktop.h"

#include <chrono>
#include <thread>

namespace lk {

void SleepingPacing::PauseSeconds(int seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

}  // namespace lk
