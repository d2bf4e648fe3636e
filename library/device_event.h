// A manual-reset event for the device link: once set it stays set until
// reset, and every waiter sees it. A connection attempt waits on two at once
// (the link's "started" event and the caller's cancel event), so all events
// share one lock and one condition variable; a set event wakes every waiter,
// which then checks only its own events.
#pragma once

#include <chrono>
#include <initializer_list>

namespace fvx::library {

class DeviceEvent {
 public:
  DeviceEvent() = default;
  DeviceEvent(const DeviceEvent&) = delete;
  DeviceEvent& operator=(const DeviceEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

 private:
  friend int WaitForAny(std::initializer_list<const DeviceEvent*> events,
                        std::chrono::milliseconds timeout);
  bool IsSetLocked() const { return set_; }

  bool set_ = false;  // guarded by the shared lock
};

// Waits until one of the events is set or the time is up. Returns the
// position in the list of the first event that is set, or -1 on time-out.
int WaitForAny(std::initializer_list<const DeviceEvent*> events, std::chrono::milliseconds timeout);

}  // namespace fvx::library
