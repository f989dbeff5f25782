#include "core/toolkit/modal_gate.h"

namespace kelvor {

ModalGate::Hold::Hold(ModalGate& gate) : gate_(gate) {
  if (gate_.beforeClosing_) {
    auto before = std::move(gate_.beforeClosing_);
    gate_.beforeClosing_ = nullptr;
    before();
  }
  if (++gate_.holds_ == 1 && gate_.closed_) gate_.closed_();
}

ModalGate::BeforeClosing::BeforeClosing(ModalGate& gate, std::function<void()> beforeClosing)
    : gate_(gate), outer_(std::move(gate.beforeClosing_)) {
  gate_.beforeClosing_ = std::move(beforeClosing);
}

ModalGate::BeforeClosing::~BeforeClosing() { gate_.beforeClosing_ = std::move(outer_); }

ModalGate::Hold::~Hold() { gate_.release(); }

void ModalGate::release() {
  --holds_;
  if (holds_ == 0 && opened_) opened_();
  if (holds_ == 0 && !queue_.empty()) {
    // Resume from the event loop, not from inside the closing window's call stack.
    if (later_) {
      later_([this] { drain(); });
    } else {
      drain();
    }
  }
}

void ModalGate::post(std::function<void()> event) {
  queue_.push_back(std::move(event));
  if (isOpen()) drain();
}

void ModalGate::drain() {
  if (draining_) return;  // the outer drain keeps going once the current event returns
  draining_ = true;
  while (isOpen() && !queue_.empty()) {
    auto event = std::move(queue_.front());
    queue_.pop_front();
    event();
  }
  draining_ = false;
}

ModalGate& modalGate() {
  static ModalGate gate;
  return gate;
}

}  // namespace kelvor
