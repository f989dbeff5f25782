#pragma once
// The user-interface thread as the core sees it: the thread every record, window and DDE
// event belongs to, and a way for other threads (the MQTT publisher's, say) to hand it work.
// Each face implements it on its event loop.

#include <functional>

namespace kelvor {

class UiThread {
 public:
  virtual ~UiThread() = default;
  // Whether the caller runs on the user-interface thread.
  virtual bool isCurrent() const = 0;
  // Runs `call` on the user-interface thread, after what it is doing now; callable from any
  // thread. Calls still waiting when the face closes are dropped.
  virtual void post(std::function<void()> call) = 0;
};

}  // namespace kelvor
