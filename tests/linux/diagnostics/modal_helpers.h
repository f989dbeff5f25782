#pragma once
// Helpers for tests that open a modal window: they close it from the event loop once it
// is on screen, as a user would, and note what they saw meanwhile.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kelvor::testing {

// Once a modal window is up, runs `whileOpen` (if any) and then closes the window.
inline void closeNextModal(std::function<void()> whileOpen = {}) {
  QTimer::singleShot(0, [whileOpen] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      if (whileOpen) whileOpen();
      modal->close();
    } else {
      closeNextModal(whileOpen);
    }
  });
}

}  // namespace kelvor::testing
