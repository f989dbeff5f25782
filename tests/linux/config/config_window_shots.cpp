// Takes a picture of each tab of the configuration window, window frame included, for the
// documentation: config_window_shots LANGUAGE.LAN CONFIG.KLV KELVOR.INI OUTPUT-DIR.
// Run it on a real X display (tests/linux/headless.sh) so that the window manager's frame shows.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <cstdio>

#include "core/settings/configuration.h"
#include "linux/qt/configuration_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s LANGUAGE.LAN CONFIG.KLV KELVOR.INI OUTPUT-DIR\n", argv[0]);
    return 2;
  }
  kelvor::Configuration config;
  kelvor::loadConfiguration(config, argv[2]);
  kelvor::Language language;
  language.languageFilePath = argv[1];

  kelvor::ConfigurationWindow window(config, language, argv[3]);
  window.move(window.screen()->availableGeometry().center() - window.rect().center());
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabs"));
  for (int tab = 0; tab < tabs->count(); ++tab) {
    tabs->setCurrentIndex(tab);
    QTest::qWait(400);
    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const QString path = QStringLiteral("%1/config-tab%2.png").arg(QString::fromLocal8Bit(argv[4])).arg(tab + 1);
    if (!shot.save(path)) return 1;
    std::printf("%s\n", qPrintable(path));
  }
  return 0;
}
