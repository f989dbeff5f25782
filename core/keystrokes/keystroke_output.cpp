#include "core/keystrokes/keystroke_output.h"

#include <algorithm>
#include <utility>

#include "core/toolkit/encoding.h"

namespace kelvor {
namespace {

// A character that types nothing: a control character other than CR and TAB (C0, DEL, C1).
bool typesNothing(std::string_view utf8Character) {
  const auto b0 = static_cast<unsigned char>(utf8Character[0]);
  if (b0 == '\r' || b0 == '\t') return false;
  if (b0 < 0x20 || b0 == 0x7F) return true;
  return b0 == 0xC2 && utf8Character.size() == 2 && static_cast<unsigned char>(utf8Character[1]) < 0xA0;
}

}  // namespace

std::string frameCharacters(std::string_view bytes) { return displayText(bytes); }

std::vector<KeyAction> singleKeystrokes(const std::vector<KeyAction>& plan) {
  std::vector<KeyAction> strokes;
  for (const KeyAction& action : plan) {
    if (action.kind != KeyAction::Kind::typeText) {
      strokes.push_back(action);
      continue;
    }
    const std::string& text = action.text;
    for (std::size_t i = 0; i < text.size();) {
      std::size_t end = i + 1;
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
      const std::string character = text.substr(i, end - i);
      if (!typesNothing(character)) strokes.push_back({KeyAction::Kind::typeText, character});
      i = end;
    }
  }
  return strokes;
}

KeystrokeOutput::KeystrokeOutput(KeyboardSynth& keyboard, KeystrokeHost& host, Notices& notices)
    : keyboard_(keyboard), host_(host), notices_(notices) {
  keyboard_.setChangeHandler([this] {
    // Handled from the host's timer, never inside the keyboard's own call, and never while
    // a modal window of Kelvor's has the focus the readings would go to.
    keyboardChanged_ = true;
    if (!timerPending_ && !pumping_) {
      timerPending_ = true;
      host_.callAfter(0, [this] { resume(); });
    }
  });
}

KeystrokeOutput::~KeystrokeOutput() { keyboard_.setChangeHandler(nullptr); }

void KeystrokeOutput::perform(const KeyAction& action) {
  switch (action.kind) {
    case KeyAction::Kind::typeText:
      keyboard_.typeText(action.text);
      break;
    case KeyAction::Kind::pressRight:
      keyboard_.pressRight();
      break;
    case KeyAction::Kind::pressLeft:
      keyboard_.pressLeft();
      break;
  }
}

std::string KeystrokeOutput::currentProblem() const {
  std::string problem = keyboard_.problem();
  if (problem.empty() && !keyboard_.available()) problem = kNoKeyboardText;
  return problem;
}

void KeystrokeOutput::tell(const std::string& text) {
  // A warning, so that it also reaches the journal; shown with the information icon the
  // word about a missing keyboard has always had.
  notices_.mention({NoticeKind::Warning, "Kelvor", text, NoticeKind::Information});
}

void KeystrokeOutput::tellProblemOnce() {
  // Said once: a message per reading would bury the user, and the rest of the delivery
  // (DDE value, icon, sound) goes on whatever the keyboard can reach.
  const std::string problem = currentProblem();
  if (problem.empty() || problem == toldProblem_) return;
  toldProblem_ = problem;
  tell(problem);
}

void KeystrokeOutput::deliver(const Text<2550>& currentFrame, const Configuration& config) {
  if (!keyboard_.available()) {
    host_.focusKeyCatcher();
    host_.setSendKeyIcon("~psend.ico");
    tellProblemOnce();
    host_.setSendKeyIcon("~pok.ico");
    if (config.ENABLEKEYSOUND == 1) host_.playKeySound(config.FILESOUNDKEY.trimmed(), config.SOUNDENABLE);
    return;
  }
  if (!keyboard_.waiting()) tellProblemOnce();
  if (host_.ownWindowFocused()) {
    pause();
    return;
  }
  endPause();
  if (held_.size() >= kMaxHeldFrames) {
    if (!toldTooMany_) {
      toldTooMany_ = true;
      tell("Typing cannot keep up with the readings: " + std::to_string(kMaxHeldFrames) +
                     " are waiting to be typed. Readings that arrive meanwhile are not typed.");
    }
    return;
  }

  HeldFrame frame;
  frame.delayMs = std::clamp<int>(config.DELAYMS, 0, kMaxKeystrokeDelayMs);
  for (KeyAction action : planKeystrokes(currentFrame, config.BUFFERMODE)) {
    if (action.kind == KeyAction::Kind::typeText) {
      // An empty piece presses no key at all.
      if (action.text.empty()) continue;
      action.text = frameCharacters(action.text);
    }
    frame.strokes.push_back(std::move(action));
  }
  if (frame.delayMs > 0) frame.strokes = singleKeystrokes(frame.strokes);
  frame.keySound = config.ENABLEKEYSOUND;
  frame.soundEnable = config.SOUNDENABLE;
  frame.soundFile = config.FILESOUNDKEY.trimmed();
  held_.push_back(std::move(frame));
  if (!timerPending_) pump();
}

void KeystrokeOutput::finish(const HeldFrame& frame) {
  host_.setSendKeyIcon("~pok.ico");
  if (frame.keySound == 1) host_.playKeySound(frame.soundFile, frame.soundEnable);
}

void KeystrokeOutput::resume() {
  timerPending_ = false;
  if (keyboardChanged_) {
    keyboardChanged_ = false;
    host_.showKeyboard(keyboard_.name());
    // A keyboard that gave up, or was replaced by one that cannot reach every window, does
    // not get the frames held for the one before: the user has been told, and a reading
    // typed minutes later into whatever has the focus then does more harm than good.
    if (!keyboard_.waiting() && (!keyboard_.available() || currentProblem() != toldProblem_)) dropHeld();
  }
  pump();
}

void KeystrokeOutput::pump() {
  if (pumping_) return;
  pumping_ = true;
  while (!held_.empty()) {
    if (!keyboard_.available()) {
      dropHeld();
      break;
    }
    if (keyboard_.waiting()) break;  // the change handler resumes
    if (host_.ownWindowFocused()) {
      pause();
      break;
    }
    HeldFrame& frame = held_.front();
    if (!frame.started) {
      frame.started = true;
      host_.focusKeyCatcher();
      host_.setSendKeyIcon("~psend.ico");
    }
    bool typed = false;
    while (frame.next < frame.strokes.size() && keyboard_.available() && !(typed && frame.delayMs > 0)) {
      perform(frame.strokes[frame.next++]);
      typed = true;
    }
    if (!keyboard_.available()) {
      // Lost in the middle: the rest of this frame must not land later in another window.
      dropHeld();
      break;
    }
    const int delay = frame.delayMs;
    if (frame.next == frame.strokes.size()) {
      const HeldFrame done = std::move(frame);
      held_.pop_front();
      finish(done);
    }
    if (typed && delay > 0) {
      timerPending_ = true;
      host_.callAfter(delay, [this] { resume(); });
      break;
    }
  }
  pumping_ = false;
  if (keyboardChanged_ && !timerPending_) {
    timerPending_ = true;
    host_.callAfter(0, [this] { resume(); });
  }
}

void KeystrokeOutput::pause() {
  const bool halfTyped = !held_.empty() && held_.front().started;
  held_.clear();
  if (halfTyped) host_.setSendKeyIcon("~pok.ico");
  if (paused_) return;
  paused_ = true;
  host_.showTypingPaused(true);
  notices_.note({NoticeKind::Information, "keystrokes", std::string(kTypingPausedText)});
}

void KeystrokeOutput::endPause() {
  if (!paused_) return;
  paused_ = false;
  host_.showTypingPaused(false);
}

void KeystrokeOutput::dropHeld() {
  const std::size_t count = held_.size();
  const bool halfTyped = count > 0 && held_.front().started;
  held_.clear();
  const std::string problem = currentProblem();
  std::string text = problem;
  if (count > 0) {
    text += text.empty() ? "" : " ";
    if (count == 1) {
      text += halfTyped ? "One reading was typed only in part." : "One reading waiting to be typed was not typed.";
    } else {
      text += std::to_string(count) + (halfTyped ? " readings were not typed, the first of them only in part."
                                                 : " readings waiting to be typed were not typed.");
    }
  }
  if (!text.empty() && (count > 0 || problem != toldProblem_)) tell(text);
  toldProblem_ = problem;
  if (halfTyped) host_.setSendKeyIcon("~pok.ico");
}

}  // namespace kelvor
