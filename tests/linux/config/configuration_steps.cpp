// Plays a person's changes in the configuration window (a steps file, see
// tests/windows/configuration_steps.txt) on the offscreen platform, starting from a
// configuration file, and saves the result as the file command does: the Windows end-to-end
// test compares what Kelvor.exe saves after the same steps with this, byte for byte.
//   configuration_steps STEPS START.KLV SAVED.KLV
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <cstdio>

#include "core/settings/configuration.h"
#include "linux/qt/configuration_window.h"
#include "tests/linux/config/as_a_person.h"

namespace {

int failed(const QString& why) {
  std::fprintf(stderr, "configuration_steps: %s\n", qPrintable(why));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 4) return failed("usage: configuration_steps STEPS START.KLV SAVED.KLV");
  QFile steps(QString::fromLocal8Bit(argv[1]));
  if (!steps.open(QIODevice::ReadOnly)) return failed("cannot read " + steps.fileName());

  kelvor::Configuration config;
  kelvor::loadConfiguration(config, argv[2]);
  kelvor::Language language;  // no language file: the texts do not matter here
  kelvor::ConfigurationWindow window(config, language, "KELVOR.INI");
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return failed("the window did not show");
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabs"));

  for (const QString& line : QString::fromUtf8(steps.readAll()).split(QLatin1Char('\n'))) {
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const QString step = line.section(QLatin1Char(' '), 0, 0);
    const QString name = line.section(QLatin1Char(' '), 1, 1);
    const QString text = line.section(QLatin1Char(' '), 2);
    if (step == QLatin1String("tab")) {
      QTabBar* bar = tabs->tabBar();
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(name.toInt()).center());
    } else if (step == QLatin1String("wait")) {
      QTest::qWait(name.toInt());
    } else if (step == QLatin1String("click")) {
      auto* button = window.findChild<QAbstractButton*>(name);
      if (!button) return failed("no button " + name);
      kelvor::clickAsAPerson(button);
    } else if (step == QLatin1String("type")) {
      auto* entry = window.findChild<QLineEdit*>(name);
      if (!entry) return failed("no entry " + name);
      kelvor::typeAsAPerson(entry, text);
    } else {
      return failed("unknown step: " + line);
    }
  }
  window.close();
  return kelvor::saveConfiguration(config, argv[3]) ? 0 : failed(QString("cannot write ") + argv[3]);
}
