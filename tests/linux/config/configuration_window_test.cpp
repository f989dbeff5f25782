// The configuration window driven as a person would: clicks, typing and Tab, on the offscreen
// platform, checked against the live settings record.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "core/settings/configuration.h"
#include "linux/qt/configuration_window.h"
#include "tests/linux/config/as_a_person.h"
#include "core/toolkit/modal_gate.h"

using kelvor::Configuration;
using kelvor::ConfigurationWindow;

class ConfigurationWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  Configuration config_;
  kelvor::Language language_;
  std::unique_ptr<ConfigurationWindow> window_;

  std::string path(const char* name) const { return (dir_.path() + QLatin1Char('/') + QLatin1String(name)).toStdString(); }
  void writeFile(const char* name, const QByteArray& content) {
    QFile file(QString::fromStdString(path(name)));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
  }

  void open() {
    window_ = std::make_unique<ConfigurationWindow>(config_, language_, path("KELVOR.INI"));
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  template <typename T = QWidget>
  T* find(const char* name) {
    T* widget = window_->findChild<T*>(QString::fromLatin1(name));
    if (!widget) qWarning("no control named %s", name);
    return widget;
  }

  QTabWidget* tabs() { return find<QTabWidget>("tabs"); }

  // Brings the tab holding `widget` to the front by clicking its tab, as a person would.
  void showTabOf(QWidget* widget) {
    for (int i = 0; i < tabs()->count(); ++i) {
      if (tabs()->widget(i)->isAncestorOf(widget)) {
        QTabBar* bar = tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
        QTRY_VERIFY(widget->isVisible());
        return;
      }
    }
    QFAIL("control on no tab");
  }

  void click(const char* name) {
    QWidget* widget = find(name);
    QVERIFY(widget);
    showTabOf(widget);
    kelvor::clickAsAPerson(widget);
  }

  void type(const char* name, const QString& text) {
    auto* entry = find<QLineEdit>(name);
    QVERIFY(entry);
    showTabOf(entry);
    kelvor::typeAsAPerson(entry, text);
  }

  QWidget* focused() { return QApplication::focusWidget(); }

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    config_ = Configuration{};
    language_ = kelvor::Language{};
    language_.languageFilePath = path("english.lan");
    QFile::remove(QString::fromStdString(path("KELVOR.INI")));
    QFile::remove(QString::fromStdString(path("english.lan")));
  }
  void cleanup() { window_.reset(); }

  // Every control writes its own field and no other: a table over all controls, applied in
  // turn to one record, each step compared with the whole expected record.
  void everyControlWritesItsOwnField() {
    open();
    struct Step {
      const char* control;
      QString typed;  // empty: a click
      std::function<void(Configuration&)> effect;
    };
    const std::vector<Step> steps = {
        {"PORT=2", {}, [](Configuration& c) { c.PORT = 2; }},  // COM3
        {"PORT=7", {}, [](Configuration& c) { c.PORT = 7; }},
        {"PORT=0", {}, [](Configuration& c) { c.PORT = 0; }},
        {"BAUDRATE=-27136", {}, [](Configuration& c) { c.BAUDRATE = -27136; }},  // 38400 as its 16 bits
        {"BAUDRATE=300", {}, [](Configuration& c) { c.BAUDRATE = 300; }},
        {"BAUDRATE=19200", {}, [](Configuration& c) { c.BAUDRATE = 19200; }},
        {"PARITY=1", {}, [](Configuration& c) { c.PARITY = 1; }},
        {"PARITY=2", {}, [](Configuration& c) { c.PARITY = 2; }},
        {"PARITY=0", {}, [](Configuration& c) { c.PARITY = 0; }},
        {"DATABITS=7", {}, [](Configuration& c) { c.DATABITS = 7; }},
        {"DATABITS=8", {}, [](Configuration& c) { c.DATABITS = 8; }},
        {"STOPBITS=2", {}, [](Configuration& c) { c.STOPBITS = 2; }},
        {"STOPBITS=1", {}, [](Configuration& c) { c.STOPBITS = 1; }},
        {"USECTS", {}, [](Configuration& c) { c.USECTS = 1; }},
        {"USEXON", {}, [](Configuration& c) { c.USEXON = 1; }},
        {"USEDTR", {}, [](Configuration& c) { c.USEDTR = 1; }},
        {"USECTS", {}, [](Configuration& c) { c.USECTS = 0; }},
        {"SELECTENDOF=3", {}, [](Configuration& c) { c.SELECTENDOF = 3; }},  // "End string", in the middle
        {"SELECTENDOF=2", {}, [](Configuration& c) { c.SELECTENDOF = 2; }},  // "Number", on the right
        {"SELECTENDOF=1", {}, [](Configuration& c) { c.SELECTENDOF = 1; }},
        {"ENDOFCHAR=2", {}, [](Configuration& c) { c.ENDOFCHAR = 2; }},
        {"ENDOFCHAR=1", {}, [](Configuration& c) { c.ENDOFCHAR = 1; }},
        {"NUMBEROFBYTE", "42", [](Configuration& c) { c.NUMBEROFBYTE = 42; }},
        {"ENDOFSTRING", "OK\\r", [](Configuration& c) { c.ENDOFSTRING = "OK\\r"; }},
        {"ENABLECLEAR", {}, [](Configuration& c) { c.ENABLECLEAR = 1; }},
        {"LENFILTERENABLE", {}, [](Configuration& c) { c.LENFILTERENABLE = 1; }},
        {"LENFILTERSTART", "3", [](Configuration& c) { c.LENFILTERSTART = 3; }},
        {"LENFILTEREND", "999", [](Configuration& c) { c.LENFILTEREND = 999; }},
        {"ENABLECONVERTVALUE", {}, [](Configuration& c) { c.ENABLECONVERTVALUE = 1; }},
        {"ENABLECONVERTVALUE", {}, [](Configuration& c) { c.ENABLECONVERTVALUE = 0; }},
        {"BUFFERMODE", {}, [](Configuration& c) { c.BUFFERMODE = 1; }},
        {"NAME", "SCALE1", [](Configuration& c) { c.NAME = "SCALE1"; }},
        {"ENABLESENDKEY", {}, [](Configuration& c) { c.ENABLESENDKEY = 1; }},
        {"DELAYMS", "20", [](Configuration& c) { c.DELAYMS = 20; }},
        {"ENABLESERVERDDE", {}, [](Configuration& c) { c.ENABLESERVERDDE = 1; }},
        {"SENDORREQUEST=1", {}, [](Configuration& c) { c.SENDORREQUEST = 1; }},
        {"SENDORREQUEST=0", {}, [](Configuration& c) { c.SENDORREQUEST = 0; }},
        // The three "Sound enable" boxes share a text but not a setting.
        {"SOUNDENABLE", {}, [](Configuration& c) { c.SOUNDENABLE = 1; }},
        {"ENABLEKEYSOUND", {}, [](Configuration& c) { c.ENABLEKEYSOUND = 1; }},
        {"ENABLEDDESOUND", {}, [](Configuration& c) { c.ENABLEDDESOUND = 1; }},
        {"SOUNDENABLE", {}, [](Configuration& c) { c.SOUNDENABLE = 0; }},
        {"FILESOUNDKEY", "/usr/share/sounds/key.wav", [](Configuration& c) { c.FILESOUNDKEY = "/usr/share/sounds/key.wav"; }},
        {"FILESOUNDDDE", "sound/dde.wav", [](Configuration& c) { c.FILESOUNDDDE = "sound/dde.wav"; }},
        {"ENABLESENDKEY", {}, [](Configuration& c) { c.ENABLESENDKEY = 0; }},
    };
    for (const Step& step : steps) {
      Configuration expected = config_;
      step.effect(expected);
      if (step.typed.isEmpty()) {
        click(step.control);
      } else {
        type(step.control, step.typed);
      }
      QVERIFY2(config_ == expected, step.control);
    }
  }

  // The window shows what the record holds when it opens, and nothing it cannot stand for.
  void opensShowingTheRecord() {
    kelvor::loadConfiguration(config_, path("none.KLV"));
    config_.PORT = 4;
    config_.BAUDRATE = -27136;
    config_.PARITY = 2;
    config_.DATABITS = 7;
    config_.STOPBITS = 0;  // no button stands for 0
    config_.USEXON = 1;
    config_.SELECTENDOF = 3;
    config_.NUMBEROFBYTE = 5000;  // from a file: more digits than the entry takes
    config_.ENDOFSTRING = "\xB0" "C";  // Windows-1252 degree sign
    config_.NAME = "SCALE1";
    config_.SENDORREQUEST = 1;
    config_.ENABLEDDESOUND = 1;
    config_.FILESOUNDKEY = "/home/user/Sounds/K\xC3\xA4se.wav";  // UTF-8 path bytes
    const Configuration before = config_;
    open();
    QVERIFY(find<QRadioButton>("PORT=4")->isChecked());
    QVERIFY(find<QRadioButton>("BAUDRATE=-27136")->isChecked());
    QCOMPARE(find<QRadioButton>("BAUDRATE=-27136")->text(), QStringLiteral("38400"));
    QVERIFY(find<QRadioButton>("PARITY=2")->isChecked());
    QVERIFY(find<QRadioButton>("DATABITS=7")->isChecked());
    QVERIFY(!find<QRadioButton>("STOPBITS=1")->isChecked());
    QVERIFY(!find<QRadioButton>("STOPBITS=2")->isChecked());
    QVERIFY(find<QCheckBox>("USEXON")->isChecked());
    QVERIFY(!find<QCheckBox>("USECTS")->isChecked());
    QVERIFY(find<QRadioButton>("SELECTENDOF=3")->isChecked());
    QCOMPARE(find<QLineEdit>("NUMBEROFBYTE")->text(), QStringLiteral("5000"));
    QCOMPARE(find<QLineEdit>("ENDOFSTRING")->text(), QStringLiteral("°C"));
    QCOMPARE(find<QLineEdit>("NAME")->text(), QStringLiteral("SCALE1"));
    QVERIFY(find<QRadioButton>("SENDORREQUEST=1")->isChecked());
    QVERIFY(find<QCheckBox>("ENABLEDDESOUND")->isChecked());
    QVERIFY(!find<QCheckBox>("SOUNDENABLE")->isChecked());
    QCOMPARE(find<QLineEdit>("FILESOUNDKEY")->text(), QStringLiteral("/home/user/Sounds/Käse.wav"));
    QCOMPARE(tabs()->currentIndex(), 0);
    QVERIFY2(config_ == before, "showing the record must not change it");
  }

  void autoTogglesOnceForEachClick() {
    open();
    auto* autoBox = find<QCheckBox>("AUTO");
    auto* flow = find<QGroupBox>("flowcontrol");
    for (std::uint8_t expected : {1, 0, 1, 0}) {
      click("AUTO");
      QCOMPARE(int(config_.AUTO), int(expected));
      QCOMPARE(autoBox->isChecked(), expected == 1);
      QCOMPARE(flow->isEnabled(), expected == 0);
      QVERIFY2(focused() != autoBox, "the focus must leave the box so that the next click toggles again");
      if (expected == 0) QVERIFY2(focused() && flow->isAncestorOf(focused()), "focus goes to the Flow control group");
    }
  }

  void autoTogglesWhenTabReachesIt() {
    config_.AUTO = 1;
    open();
    auto* autoBox = find<QCheckBox>("AUTO");
    auto* flow = find<QGroupBox>("flowcontrol");
    click("PORT=0");
    QVERIFY(find<QRadioButton>("PORT=0")->hasFocus());

    // Tab from the port option onwards: AUTO flips when the focus arrives, and the focus
    // then rests in the now enabled Flow control group.
    int tabs = 0;
    while (config_.AUTO == 1 && tabs < 20) {
      QTest::keyClick(focused(), Qt::Key_Tab);
      ++tabs;
    }
    QCOMPARE(int(config_.AUTO), 0);
    QVERIFY(!autoBox->isChecked());
    QVERIFY(flow->isEnabled());
    QVERIFY2(focused() && flow->isAncestorOf(focused()), "focus goes to the Flow control group");

    // Tabbing on around the window reaches the box again and flips it back once; the focus
    // then skips the disabled group.
    int flips = 0;
    std::uint8_t last = config_.AUTO;
    for (int i = 0; i < 40 && flips == 0; ++i) {
      QTest::keyClick(focused(), Qt::Key_Tab);
      if (config_.AUTO != last) {
        ++flips;
        last = config_.AUTO;
      }
    }
    QCOMPARE(flips, 1);
    QCOMPARE(int(config_.AUTO), 1);
    QVERIFY(autoBox->isChecked());
    QVERIFY(focused() != autoBox);
    QVERIFY(focused() == nullptr || focused()->isEnabled());
  }

  void onlyTheUsersFocusMoveTogglesAuto() {
    open();
    click("PORT=1");
    for (int tab : {1, 2, 3, 0, 3, 0}) {
      QTabBar* bar = tabs()->tabBar();
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab).center());
      QTest::keyClick(tabs(), Qt::Key_Tab, Qt::ControlModifier);
    }
    QCOMPARE(int(config_.AUTO), 0);
    // Focus that comes back with the window, or that the program places, is not the user's
    // move onto the box: only a click or Tab flips the setting.
    auto* autoBox = find<QCheckBox>("AUTO");
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason, Qt::OtherFocusReason}) {
      autoBox->setFocus(reason);
      QCOMPARE(int(config_.AUTO), 0);
      find("PORT=1")->setFocus();
    }
  }

  // With AUTO set, exactly the rate, parity, data bits, stop bits and flow control are
  // disabled, with every button inside them.
  void autoDisablesTheLineParameters() {
    config_.AUTO = 1;
    open();
    const QStringList lineParameters = {"baudrate", "parity", "databits", "stopbits", "flowcontrol"};
    for (QWidget* w : window_->findChildren<QWidget*>()) {
      if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLineEdit*>(w)) continue;
      if (qobject_cast<QTabBar*>(w->parentWidget())) continue;  // the tab bar's scroll buttons
      bool inside = false;
      for (const QString& name : lineParameters) inside |= find(name.toLatin1().constData())->isAncestorOf(w);
      QVERIFY2(w->isEnabled() == !inside, qPrintable(w->objectName()));
    }
    QVERIFY(find("port")->isEnabled());
    QVERIFY(find("AUTO")->isEnabled());
    QVERIFY(find<QCheckBox>("AUTO")->isChecked());
  }

  void convertCannotStayTickedInBufferMode() {
    open();
    auto* convert = find<QCheckBox>("ENABLECONVERTVALUE");
    // Ticking "Convert to only value" while "Buffer mode" is ticked is undone.
    click("BUFFERMODE");
    click("ENABLECONVERTVALUE");
    QTRY_VERIFY_WITH_TIMEOUT(config_.ENABLECONVERTVALUE == 0 && !convert->isChecked(), 3000);
    QCOMPARE(int(config_.BUFFERMODE), 1);

    // Ticking "Buffer mode" clears a ticked "Convert to only value".
    click("BUFFERMODE");
    click("ENABLECONVERTVALUE");
    QCOMPARE(int(config_.ENABLECONVERTVALUE), 1);
    QTest::qWait(1200);  // more than two timer periods: without buffer mode the tick stays
    QCOMPARE(int(config_.ENABLECONVERTVALUE), 1);
    QVERIFY(convert->isChecked());
    click("BUFFERMODE");
    QTRY_VERIFY_WITH_TIMEOUT(config_.ENABLECONVERTVALUE == 0 && !convert->isChecked(), 3000);
    QVERIFY(find<QCheckBox>("BUFFERMODE")->isChecked());
  }

  void entriesAcceptOnlyWhatTheirFieldHolds() {
    open();
    struct Case {
      const char* entry;
      QString typed;
      QString shown;
      std::function<bool(const Configuration&)> stored;
    };
    const QString longPath = QStringLiteral("/srv/") + QString(290, QLatin1Char('s')) + QStringLiteral(".wav");
    const std::vector<Case> cases = {
        {"NUMBEROFBYTE", "12a3x45", "123", [](const Configuration& c) { return c.NUMBEROFBYTE == 123; }},
        {"LENFILTERSTART", "-5", "5", [](const Configuration& c) { return c.LENFILTERSTART == 5; }},
        {"LENFILTEREND", "", "", [](const Configuration& c) { return c.LENFILTEREND == 0; }},
        {"DELAYMS", "1500", "150", [](const Configuration& c) { return c.DELAYMS == 150; }},
        {"NAME", "ABCDEFGHIJK", "ABCDEFGH", [](const Configuration& c) { return c.NAME.padded() == "ABCDEFGH"; }},
        {"NAME", "A\u4E2DB", "AB", [](const Configuration& c) { return c.NAME == "AB"; }},
        {"ENDOFSTRING", QString(40, QLatin1Char('x')), QString(30, QLatin1Char('x')),
         [](const Configuration& c) { return c.ENDOFSTRING.padded() == std::string(30, 'x'); }},
        // Stored in the code page of the files and the line, one byte per character.
        {"ENDOFSTRING", "\u00B0C", "\u00B0C", [](const Configuration& c) { return c.ENDOFSTRING == "\xB0" "C"; }},
        // Paths are held whole: a cut path would name another file.
        {"FILESOUNDKEY", longPath, longPath,
         [longPath](const Configuration& c) { return c.FILESOUNDKEY.trimmed() == longPath.toStdString(); }},
    };
    for (const Case& c : cases) {
      if (c.typed.isEmpty()) {
        // Emptying an entry is a change too: first give it something else to hold.
        type(c.entry, QStringLiteral("77"));
        QVERIFY2(!c.stored(config_), c.entry);
      }
      type(c.entry, c.typed);
      QCOMPARE(find<QLineEdit>(c.entry)->text(), c.shown);
      QVERIFY2(c.stored(config_), c.entry);
    }
  }

  void missingConfigSectionShowsTheBracketedKeys() {
    writeFile("english.lan", "[MAIN]\nconfiguration=Configuration\n[file]\nselectfile=Choose\n");
    open();
    QCOMPARE(window_->windowTitle(), QStringLiteral("[SCREEN]"));
    const QStringList tabTexts = {"[TABPORT]", "[TABDEFINE]", "[TABDDE]", "[TABSOUND]"};
    for (int i = 0; i < 4; ++i) QCOMPARE(tabs()->tabText(i), tabTexts[i]);
    struct Expect {
      const char* control;
      const char* text;
    };
    // Keyed texts fall back to their keys; the texts without a key stay as built in.
    for (const Expect e : {Expect{"port", "[PORT]"}, {"baudrate", "[BAUDRATE]"}, {"flowcontrol", "[FLOWCONTROL]"},
                           {"selectendof", "[SELECTENDOF]"}, {"lenfilter", "[LENFILTER]"},
                           {"groupdde", "[GROUPDDE]"}, {"groupsoundkey", "[GROUPSOUNDKEY]"}}) {
      QCOMPARE(find<QGroupBox>(e.control)->title(), QString::fromLatin1(e.text));
    }
    for (const Expect e : {Expect{"PARITY=0", "[NONE]"}, {"SELECTENDOF=3", "[ENDSTRING]"},
                           {"SENDORREQUEST=1", "[REQUEST]"}, {"ENABLECONVERTVALUE", "[ENABLECONVERTVALUE]"},
                           {"SOUNDENABLE", "[SOUNDENABLE]"}, {"ENABLEKEYSOUND", "[SOUNDENABLE]"},
                           {"ENABLEDDESOUND", "[SOUNDENABLE]"},
                           // untranslated
                           {"AUTO", "Auto configuration RS232"}, {"USECTS", "CTS"}, {"USEXON", "Xon/Xoff"},
                           {"ENDOFCHAR=2", "CR/LF"}, {"PORT=0", "COM1"}, {"BAUDRATE=-27136", "38400"},
                           {"DATABITS=7", "7"}, {"selectFILESOUNDKEY", "..."}}) {
      QCOMPARE(find<QAbstractButton>(e.control)->text(), QString::fromLatin1(e.text));
    }
    QCOMPARE(find("selectFILESOUNDKEY")->toolTip(), QStringLiteral("[SELECTFILE]"));
    QStringList labels;
    for (QLabel* label : window_->findChildren<QLabel*>()) labels << label->text();
    QCOMPARE(labels.count(QStringLiteral("File")), 2);
    QVERIFY(labels.contains(QStringLiteral("[MSG2SERVERDDE]")));
    QVERIFY(labels.contains(QStringLiteral("[STARTFILTER]")));
    QCOMPARE(language_.languageSection.trimmed(), std::string("config"));
  }

  // A long text (a translation, a key shown in brackets) shrinks within its room: no control
  // reaches into its neighbour or out of its group.
  void textsNeverOverlapTheirNeighbours() {
    for (const QByteArray& file : {QByteArray("[MAIN]\nTop=Top\n"),
                                   QByteArray("[config]\nnone=Aucune parit\xE9\nodd=Impaire\n"
                                              "lenfilterenable=Activer le filtre\nstartfilter=D\xE9" "but\n")}) {
      writeFile("english.lan", file);
      open();
      for (QGroupBox* group : window_->findChildren<QGroupBox*>()) {
        QList<QWidget*> inside;
        for (QObject* child : group->children()) {
          if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) inside << w;
        }
        for (QWidget* w : inside) {
          QVERIFY2(group->rect().contains(w->geometry()), qPrintable(group->objectName() + "/" + w->objectName()));
          for (QWidget* other : inside) {
            if (other != w) QVERIFY2(!w->geometry().intersects(other->geometry()), qPrintable(w->objectName() + " / " + other->objectName()));
          }
        }
      }
      window_.reset();
    }
  }

  void textsComeFromTheConfigSection() {
    // Windows-1252 bytes, keys in another case, the text after the first broken bar.
    writeFile("english.lan",
              "[CONFIG]\nSCREEN=x\xA6" "Einstellungen\ntabport=Schnittstelle\nPort=Anschluss\n"
              "soundenable=Ton ein\nselectfile=Datei w\xE4" "hlen\nendstring=a\xA6" "b\xA6" "c\n");
    open();
    QCOMPARE(window_->windowTitle(), QStringLiteral("Einstellungen"));
    QCOMPARE(tabs()->tabText(0), QStringLiteral("Schnittstelle"));
    QCOMPARE(tabs()->tabText(1), QStringLiteral("[TABDEFINE]"));
    QCOMPARE(find<QGroupBox>("port")->title(), QStringLiteral("Anschluss"));
    QCOMPARE(find<QCheckBox>("ENABLEDDESOUND")->text(), QStringLiteral("Ton ein"));
    QCOMPARE(find<QAbstractButton>("SELECTENDOF=3")->text(), QStringLiteral("b¦c"));
    QCOMPARE(find("selectFILESOUNDDDE")->toolTip(), QStringLiteral("Datei wählen"));
  }

  void comButtonsShowTheirDevice() {
    writeFile("KELVOR.INI", "[PORTS]\nCOM3=/dev/ttyUSB0\nCOM8=/dev/serial/by-id/usb-FTDI_scale-if00\n");
    open();
    QCOMPARE(find("PORT=0")->toolTip(), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(find("PORT=2")->toolTip(), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(find("PORT=6")->toolTip(), QStringLiteral("/dev/ttyS6"));
    QCOMPARE(find("PORT=7")->toolTip(), QStringLiteral("/dev/serial/by-id/usb-FTDI_scale-if00"));
  }

  // The "..." buttons: "Select file", one "*.WAV" filter matching any case, the field's
  // path proposed, the chosen path stored whole, a cancel changing nothing.
  void soundFileButtonsChooseAWav() {
    writeFile("beep.wav", "RIFF");
    writeFile("LOUD.WAV", "RIFF");
    writeFile("notes.txt", "x");
    config_.FILESOUNDDDE = path("LOUD.WAV");
    open();
    const QByteArray workingDirectory = QDir::currentPath().toLocal8Bit();

    QStringList listed;
    QString title, filter, proposed;
    bool gateClosed = false;
    const auto inDialog = [&](const std::function<void(QFileDialog*)>& finish) {
      QTimer::singleShot(0, [&, finish] {
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())));
        title = dialog->windowTitle();
        filter = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->currentText();
        proposed = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        gateClosed = !kelvor::modalGate().isOpen();
        dialog->setDirectory(dir_.path());
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 2);
        listed.clear();
        for (int row = 0; row < 2; ++row) listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
        finish(dialog);
      });
    };

    inDialog([](QFileDialog* dialog) {
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      name->clear();
      QTest::keyClicks(name, QStringLiteral("beep.wav"));
      QTest::keyClick(name, Qt::Key_Return);
    });
    click("selectFILESOUNDKEY");
    QTRY_COMPARE(config_.FILESOUNDKEY.trimmed(), path("beep.wav"));
    QCOMPARE(title, QStringLiteral("Select file"));
    QCOMPARE(filter, QStringLiteral("*.WAV"));
    listed.sort();
    QCOMPARE(listed, (QStringList{"LOUD.WAV", "beep.wav"}));
    QVERIFY(gateClosed);
    QCOMPARE(find<QLineEdit>("FILESOUNDKEY")->text(), QString::fromStdString(path("beep.wav")));
    QCOMPARE(config_.FILESOUNDDDE.trimmed(), path("LOUD.WAV"));

    inDialog([](QFileDialog* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    click("selectFILESOUNDDDE");
    QTRY_VERIFY(QApplication::activeModalWidget() == window_.get() || QApplication::activeModalWidget() == nullptr);
    QCOMPARE(proposed, QStringLiteral("LOUD.WAV"));
    QCOMPARE(config_.FILESOUNDDDE.trimmed(), path("LOUD.WAV"));
    QCOMPARE(config_.FILESOUNDKEY.trimmed(), path("beep.wav"));
    QDir::setCurrent(QString::fromLocal8Bit(workingDirectory));
  }

  // The layout's units are two pixels, measured from the window's corner on every tab.
  void controlsSitAtTheirLayoutPositions() {
    open();
    QCOMPARE(window_->size(), QSize(394, 274));
    struct Expect {
      const char* control;
      QRect units;  // a width or height of 0 is not checked
    };
    const Expect expected[] = {
        {"tabs", {2, 2, 192, 132}},        {"port", {58, 16, 134, 32}},      {"PORT=0", {62, 26, 0, 0}},
        {"PORT=2", {92, 26, 0, 0}},        {"PORT=7", {152, 36, 0, 0}},      {"AUTO", {58, 48, 94, 10}},
        {"baudrate", {58, 56, 134, 32}},   {"BAUDRATE=600", {62, 76, 0, 0}}, {"BAUDRATE=-27136", {152, 76, 0, 0}},
        {"parity", {58, 88, 84, 22}},      {"databits", {144, 88, 48, 22}},  {"stopbits", {58, 110, 38, 22}},
        {"flowcontrol", {98, 110, 94, 22}}, {"selectendof", {58, 18, 132, 22}}, {"endofchar", {58, 42, 62, 22}},
        {"numberofbyte", {122, 42, 68, 22}}, {"NUMBEROFBYTE", {126, 52, 0, 0}}, {"endofstring", {58, 66, 62, 24}},
        {"ENDOFSTRING", {62, 76, 54, 0}},  {"clearbuffer", {122, 66, 68, 24}}, {"ENABLECLEAR", {126, 76, 0, 0}},
        {"lenfilter", {58, 92, 132, 24}},  {"LENFILTERSTART", {122, 102, 0, 0}}, {"LENFILTEREND", {166, 102, 0, 0}},
        {"ENABLECONVERTVALUE", {62, 120, 70, 10}}, {"BUFFERMODE", {134, 120, 56, 10}},
        {"configname", {58, 18, 132, 26}}, {"NAME", {62, 30, 60, 0}},        {"groupsendkey", {58, 46, 132, 32}},
        {"ENABLESENDKEY", {62, 56, 0, 0}}, {"DELAYMS", {168, 56, 18, 0}}, {"groupdde", {58, 80, 132, 52}},  {"sendorrequest", {138, 88, 50, 34}},
        {"groupsound", {60, 18, 130, 26}}, {"SOUNDENABLE", {64, 30, 0, 0}},  {"groupsoundkey", {60, 48, 130, 40}},
        {"ENABLEKEYSOUND", {64, 60, 0, 0}}, {"FILESOUNDKEY", {86, 74, 90, 0}}, {"selectFILESOUNDKEY", {176, 74, 10, 10}},
        {"groupsounddde", {60, 90, 130, 40}}, {"ENABLEDDESOUND", {64, 102, 0, 0}}, {"FILESOUNDDDE", {86, 116, 90, 0}},
        {"selectFILESOUNDDDE", {176, 116, 10, 10}},
    };
    for (const Expect& e : expected) {
      QWidget* w = find(e.control);
      QVERIFY2(w, e.control);
      const QRect at(w->mapTo(window_.get(), QPoint(0, 0)), w->size());
      QVERIFY2(at.topLeft() == e.units.topLeft() * 2, e.control);
      if (e.units.width()) QVERIFY2(at.width() == e.units.width() * 2, e.control);
      if (e.units.height()) QVERIFY2(at.height() == e.units.height() * 2, e.control);
    }
    // The picture of each tab, in its frame box.
    const auto pictures = window_->findChildren<QLabel*>(QStringLiteral("picture"));
    QCOMPARE(pictures.size(), 4);
    for (QLabel* picture : pictures) {
      QCOMPARE(QRect(picture->mapTo(window_.get(), QPoint(0, 0)), picture->size()), QRect(12, 36, 96, 224));
      QVERIFY(!picture->pixmap().isNull());
    }
  }

  // The main window's entry: modal, centred, its ticks and DDE events held until it closes.
  void openConfigurationWindowHoldsTheMainWindowUntilClosed() {
    bool gateClosed = false;
    bool centred = false;
    QTimer::singleShot(0, [&] {
      QWidget* open = nullptr;
      QTRY_VERIFY((open = qobject_cast<ConfigurationWindow*>(QApplication::activeModalWidget())));
      gateClosed = !kelvor::modalGate().isOpen();
      const QPoint offset = open->geometry().center() - open->screen()->availableGeometry().center();
      centred = offset.manhattanLength() <= 40;
      open->close();
    });
    kelvor::openConfigurationWindow(config_, language_, path("KELVOR.INI"), nullptr);
    QVERIFY(gateClosed);
    QVERIFY(centred);
    QVERIFY(kelvor::modalGate().isOpen());
  }
};

QTEST_MAIN(ConfigurationWindowTest)
#include "configuration_window_test.moc"
