#include "core/keystrokes/keyboard_choice.h"

#include <utility>

namespace kelvor {
namespace {

void append(std::string& text, const std::string& more) {
  if (more.empty()) return;
  if (!text.empty()) text += ' ';
  text += more;
}

}  // namespace

ChosenKeyboard::ChosenKeyboard(std::vector<KeyboardCandidate> candidates) : candidates_(std::move(candidates)) {}

ChosenKeyboard::~ChosenKeyboard() {
  if (current_) current_->setChangeHandler(nullptr);
}

void ChosenKeyboard::open() const {
  if (current_ || candidates_.empty()) return;
  index_ = 0;
  current_ = candidates_[0].open();
  moveOnWhileGivenUp();
  auto* self = const_cast<ChosenKeyboard*>(this);
  current_->setChangeHandler([self] { self->currentChanged(); });
}

void ChosenKeyboard::moveOnWhileGivenUp() const {
  while (!current_->available() && !current_->waiting() && index_ + 1 < candidates_.size()) {
    append(givenUp_, current_->problem());
    current_->setChangeHandler(nullptr);
    retired_.push_back(std::move(current_));
    ++index_;
    current_ = candidates_[index_].open();
    // What the stand-in cannot reach is worth saying only if it can type at all.
    if (current_->available() || current_->waiting()) append(givenUp_, candidates_[index_].fallbackNote);
  }
}

void ChosenKeyboard::currentChanged() {
  const std::size_t before = index_;
  moveOnWhileGivenUp();
  if (index_ != before) current_->setChangeHandler([this] { currentChanged(); });
  changed();
}

void ChosenKeyboard::forgetRetired() { retired_.clear(); }

bool ChosenKeyboard::available() const {
  open();
  return current_ && current_->available();
}

bool ChosenKeyboard::waiting() const {
  open();
  return current_ && current_->waiting();
}

std::string ChosenKeyboard::name() const {
  if (current_) return current_->name();
  return candidates_.empty() ? std::string("none") : candidates_[0].name;
}

std::string ChosenKeyboard::problem() const {
  std::string text = givenUp_;
  if (current_) append(text, current_->problem());
  return text;
}

void ChosenKeyboard::typeText(std::string_view utf8) {
  forgetRetired();
  open();
  if (current_) current_->typeText(utf8);
}

void ChosenKeyboard::pressRight() {
  forgetRetired();
  open();
  if (current_) current_->pressRight();
}

void ChosenKeyboard::pressLeft() {
  forgetRetired();
  open();
  if (current_) current_->pressLeft();
}

}  // namespace kelvor
