#pragma once
// The gate that keeps Kelvor's event handling one-at-a-time.
//
// The main window handles its events (timer ticks, DDE messages) one after the other. While
// a modal window, a file dialog or a blocking wait is open, the toolkit still delivers timer
// and DDE events through the nested event loop; the gate holds them back so that, for
// example, a reading is never typed into Kelvor's own file dialog. Ticks that arrive while
// the gate is held are dropped (they are not replayed); posted events wait in arrival
// order and run when the last hold ends.

#include <deque>
#include <functional>

namespace kelvor {

class ModalGate {
 public:
  // While a Hold exists, the gate is closed.
  class Hold {
   public:
    explicit Hold(ModalGate& gate);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    ModalGate& gate_;
  };

  // While one exists, the next Hold taken (also one inside another) first runs
  // `beforeClosing`, once: a caller waiting on the desk is answered before a window waits
  // for a person or for time to pass.
  class BeforeClosing {
   public:
    BeforeClosing(ModalGate& gate, std::function<void()> beforeClosing);
    ~BeforeClosing();
    BeforeClosing(const BeforeClosing&) = delete;
    BeforeClosing& operator=(const BeforeClosing&) = delete;

   private:
    ModalGate& gate_;
    std::function<void()> outer_;
  };

  bool isOpen() const { return holds_ == 0; }

  // Runs `event` now when the gate is open and nothing is queued, else queues it.
  void post(std::function<void()> event);

  // Runs queued events in order while the gate stays open; an event that opens a modal
  // window closes the gate and the rest wait for it.
  void drain();

  std::size_t queuedCount() const { return queue_.size(); }

  // How the face runs a call from its event loop, once the current event has returned: the
  // queue resumes that way when the last hold ends, not from inside the closing window's
  // call stack. Without one it resumes at once.
  void setDeferral(std::function<void(std::function<void()>)> later) { later_ = std::move(later); }

  // Called each time the last hold ends: what waited behind the gate may be due now.
  void setOpened(std::function<void()> opened) { opened_ = std::move(opened); }
  // Called each time the first hold is taken: the face's own event loop stops running until
  // the gate opens again (a modal window's loop runs instead).
  void setClosed(std::function<void()> closed) { closed_ = std::move(closed); }

 private:
  void release();

  int holds_ = 0;
  std::function<void()> beforeClosing_;
  bool draining_ = false;
  std::deque<std::function<void()>> queue_;
  std::function<void(std::function<void()>)> later_;
  std::function<void()> opened_;
  std::function<void()> closed_;
};

// The gate of the main window's thread.
ModalGate& modalGate();

}  // namespace kelvor
