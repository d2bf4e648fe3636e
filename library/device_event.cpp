#include "library/device_event.h"

#include <condition_variable>
#include <mutex>

namespace fvx::library {
namespace {

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& Changed() {
  static std::condition_variable changed;
  return changed;
}

}  // namespace

void DeviceEvent::Set() {
  {
    std::lock_guard lock(Lock());
    set_ = true;
  }
  Changed().notify_all();
}

void DeviceEvent::Reset() {
  std::lock_guard lock(Lock());
  set_ = false;
}

bool DeviceEvent::IsSet() const {
  std::lock_guard lock(Lock());
  return set_;
}

int WaitForAny(std::initializer_list<const DeviceEvent*> events,
               std::chrono::milliseconds timeout) {
  auto first_set = [&events]() {
    int index = 0;
    for (const DeviceEvent* event : events) {
      // Reading set_ directly: the shared lock is held here.
      if (event != nullptr && event->IsSetLocked()) return index;
      ++index;
    }
    return -1;
  };
  std::unique_lock lock(Lock());
  int found = -1;
  Changed().wait_for(lock, timeout, [&] { return (found = first_set()) >= 0; });
  return found;
}

}  // namespace fvx::library
