#include "linux/qt/configuration_window.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QValidator>

#include "core/settings/configuration_window_rules.h"
#include "core/line/serial_ports.h"
#include "core/toolkit/encoding.h"
#include "linux/qt/file_dialog.h"
#include "core/toolkit/modal_gate.h"
#include "linux/qt/exec_modal.h"

namespace kelvor {

namespace {

constexpr int kPixelsPerUnit = 2;
constexpr int kNaturalHeightUnits = 10;
constexpr int kSmallestFontPixels = 8;
const char* const kUnits = "kelvorUnits";      // where a control sits in the window, in units
const char* const kNatural = "kelvorNatural";  // the control takes its natural width

QRect toPixels(QRect units) {
  return {units.x() * kPixelsPerUnit, units.y() * kPixelsPerUnit, units.width() * kPixelsPerUnit,
          units.height() * kPixelsPerUnit};
}

QString fromBytes(const std::string& bytes) { return QString::fromStdString(displayText(bytes)); }

// A text that does not fit its fixed width (a long translation, a wide font) shrinks a little
// rather than being cut.
void fitWidth(QWidget* widget, int widthPixels) {
  QFont font = widget->font();
  int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
  const auto wanted = [widget] { return std::max(widget->sizeHint().width(), widget->minimumSizeHint().width()); };
  while (wanted() > widthPixels && pixels > kSmallestFontPixels) {
    font.setPixelSize(--pixels);
    widget->setFont(font);
  }
}

// Accepts a text whose characters all have a Windows-1252 form (see representableAsWindows1252).
class Windows1252Validator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    return representableAsWindows1252(input.toStdString()) ? Acceptable : Invalid;
  }
};

}  // namespace

// The auto-configuration check box does not tick on a click like its neighbours: the window
// flips `AUTO` each time the box receives the focus, by mouse or by keyboard, and then sends
// the focus on, so the next click or Tab flips it again. Only a user's own move of the focus
// counts; the window being activated again or a page being switched must not flip a setting.
class AutoConfigurationBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;
  std::function<void()> onFocusTaken;

  void moveFocusOn() { focusNextChild(); }

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QCheckBox::focusInEvent(event);
    switch (event->reason()) {
      case Qt::MouseFocusReason:
      case Qt::TabFocusReason:
      case Qt::BacktabFocusReason:
      case Qt::ShortcutFocusReason:
        if (onFocusTaken) onFocusTaken();
        break;
      default:
        break;
    }
  }
  // The tick shows `AUTO`; only the focus rule changes it.
  void nextCheckState() override {}
};

ConfigurationWindow::ConfigurationWindow(Configuration& config, Language& language, const std::string& iniFilePath,
                                         QWidget* parent)
    : QDialog(parent), config_(config), language_(language), iniFilePath_(iniFilePath) {
  setObjectName(QStringLiteral("ConfigurationWindow"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  QFont font = this->font();
  font.setPixelSize(11);  // the layout's units were made for a small dialog font
  setFont(font);
  setFixedSize(toPixels(QRect(0, 0, 197, 137)).size());

  language_.languageSection = "config";
  setWindowTitle(text("screen", "Config"));

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabs"));
  tabs_->setGeometry(toPixels(QRect(2, 2, 192, 132)));
  buildPortTab();
  buildDefineTab();
  buildDdeTab();
  buildSoundTab();
  tabs_->setCurrentIndex(0);
  keepNaturalWidthsApart();
  placeOnPages();

  timer_ = new QTimer(this);
  timer_->setObjectName(QStringLiteral("bufferModeTimer"));
  timer_->setInterval(500);
  connect(timer_, &QTimer::timeout, this, [this] { tick(); });
  timer_->start();

  display();
}

ConfigurationWindow::~ConfigurationWindow() = default;

QString ConfigurationWindow::text(const char* key, const char* builtIn) const {
  return key ? QString::fromStdString(translate(language_, key)) : QString::fromUtf8(builtIn);
}

// --- building ---------------------------------------------------------------------------

QWidget* ConfigurationWindow::addPage(const char* key, const char* builtIn, const char* picture) {
  auto* page = new QWidget;
  tabs_->addTab(page, text(key, builtIn));

  auto* frame = new QFrame(page);
  frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
  place(frame, QRect(4, 16, 52, 116));
  auto* label = new QLabel(page);
  label->setObjectName(QStringLiteral("picture"));
  label->setPixmap(QPixmap(QStringLiteral(":/config/") + QString::fromLatin1(picture)));
  label->setScaledContents(true);
  place(label, QRect(6, 18, 48, 112));
  return page;
}

QGroupBox* ConfigurationWindow::addGroup(QWidget* page, const char* name, const char* key, const char* builtIn,
                                         QRect units) {
  auto* group = new QGroupBox(text(key, builtIn), page);
  group->setObjectName(QString::fromLatin1(name));
  place(group, units);
  return group;
}

QCheckBox* ConfigurationWindow::addCheck(QWidget* parent, const char* name, const char* key, const char* builtIn,
                                         QRect units, std::uint8_t& field) {
  auto* box = new QCheckBox(text(key, builtIn), parent);
  box->setObjectName(QString::fromLatin1(name));
  place(box, units);
  connect(box, &QCheckBox::clicked, this, [&field](bool checked) { field = checked ? 1 : 0; });
  bindings_.push_back({[box, &field] { box->setChecked(field != 0); }});
  return box;
}

template <typename Field>
QButtonGroup* ConfigurationWindow::addOptions(QGroupBox* group, const char* name, Field& field,
                                              const std::vector<std::tuple<QString, long long, QPoint>>& choices) {
  auto* buttons = new QButtonGroup(this);
  buttons->setObjectName(QString::fromLatin1(name));
  for (const auto& [label, value, at] : choices) {
    auto* radio = new QRadioButton(label, group);
    radio->setObjectName(QStringLiteral("%1=%2").arg(QString::fromLatin1(name)).arg(value));
    radio->setProperty("value", value);
    place(radio, QRect(at, QSize(0, 0)));
    buttons->addButton(radio);
  }
  // Button ids cannot hold every value (-1 means "choose one"), so each button carries its own.
  connect(buttons, &QButtonGroup::buttonClicked, this,
          [&field](QAbstractButton* b) { field = keepWidth<Field>(b->property("value").toLongLong()); });
  bindings_.push_back({[buttons, &field] {
    // A value that no button stands for (a never-loaded record, a hand-edited file) shows
    // no button ticked rather than a wrong one.
    buttons->setExclusive(false);
    for (QAbstractButton* b : buttons->buttons()) b->setChecked(b->property("value").toLongLong() == field);
    buttons->setExclusive(true);
  }});
  return buttons;
}

QLineEdit* ConfigurationWindow::addNumberEntry(QWidget* parent, const char* name, QRect units, std::int32_t& field) {
  auto* entry = new QLineEdit(parent);
  entry->setObjectName(QString::fromLatin1(name));
  // No maximum length: a value of more digits loaded from a file is shown whole, not cut.
  entry->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), entry));
  place(entry, units);
  connect(entry, &QLineEdit::textEdited, this,
          [&field](const QString& digits) { field = entryNumber(digits.toStdString()); });
  bindings_.push_back({[entry, &field] {
    const QString shown = QString::fromStdString(writeNumber(field));
    if (entry->text() != shown) entry->setText(shown);
  }});
  return entry;
}

template <std::size_t N>
QLineEdit* ConfigurationWindow::addTextEntry(QWidget* parent, const char* name, QRect units, Text<N>& field) {
  auto* entry = new QLineEdit(parent);
  entry->setObjectName(QString::fromLatin1(name));
  entry->setMaxLength(static_cast<int>(N));
  entry->setValidator(new Windows1252Validator(entry));
  place(entry, units);
  connect(entry, &QLineEdit::textEdited, this,
          [&field](const QString& typed) { field.assign(toWindows1252(typed.toStdString())); });
  bindings_.push_back({[entry, &field] {
    const QString shown = fromBytes(field.trimmed());
    // Trailing blanks carry no meaning; leave them where the user is typing.
    if (QString::fromStdString(trimRight(entry->text().toStdString())) != shown) entry->setText(shown);
  }});
  return entry;
}

QLineEdit* ConfigurationWindow::addPathEntry(QWidget* parent, const char* name, QRect units, PathText<250>& field) {
  auto* entry = new QLineEdit(parent);
  entry->setObjectName(QString::fromLatin1(name));
  place(entry, units);
  // Paths are file-system bytes and are held whole: a cut path names another file.
  connect(entry, &QLineEdit::textEdited, this,
          [&field](const QString& typed) { field.assign(QFile::encodeName(typed).toStdString()); });
  bindings_.push_back({[entry, &field] {
    const QString shown = fromBytes(field.trimmed());
    if (QString::fromStdString(trimRight(entry->text().toStdString())) != shown) entry->setText(shown);
  }});
  return entry;
}

void ConfigurationWindow::addSoundFileButton(QWidget* parent, const char* name, QRect units, PathText<250>& field) {
  auto* button = new QPushButton(QStringLiteral("..."), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(text("selectfile", nullptr));
  button->setAutoDefault(false);
  place(button, units);
  connect(button, &QPushButton::clicked, this, [this, &field] { chooseSoundFile(field); });
}

void ConfigurationWindow::place(QWidget* widget, QRect units) {
  widget->setProperty(kUnits, units);
  widget->setProperty(kNatural, units.width() == 0);
  QRect pixels = toPixels(units);
  if (units.width() == 0) pixels.setWidth(widget->sizeHint().width());
  if (units.height() == 0) pixels.setHeight(kNaturalHeightUnits * kPixelsPerUnit);
  if (units.width() != 0) fitWidth(widget, pixels.width());

  QWidget* parent = widget->parentWidget();
  if (qobject_cast<QGroupBox*>(parent) == nullptr) {
    // A tab page: where its origin lies in the window is known only once the tab widget has
    // laid itself out, so the control is placed (again) then.
    pagePlacements_.push_back({widget, pixels});
    return;
  }
  widget->setGeometry(pixels.translated(-parent->property(kUnits).toRect().topLeft() * kPixelsPerUnit));
}

// A control of natural width may not reach into its right-hand neighbour or out of its group
// (a long translation, a missing text shown as its key): it keeps the room up to there and
// its text shrinks to fit.
void ConfigurationWindow::keepNaturalWidthsApart() {
  const auto span = [](QWidget* w) {
    QRect units = w->property(kUnits).toRect();
    if (units.height() == 0) units.setHeight(kNaturalHeightUnits);
    return units;
  };
  for (QWidget* widget : findChildren<QWidget*>()) {
    auto* group = qobject_cast<QGroupBox*>(widget->parentWidget());
    if (!group || !widget->property(kNatural).toBool()) continue;
    const QRect own = span(widget);
    const QRect box = group->property(kUnits).toRect();
    int right = box.x() + box.width() - 1;
    for (QObject* child : group->children()) {
      auto* sibling = qobject_cast<QWidget*>(child);
      if (!sibling || sibling == widget || !sibling->property(kUnits).isValid()) continue;
      const QRect other = span(sibling);
      const bool sameRow = other.top() < own.top() + own.height() && own.top() < other.top() + other.height();
      if (sameRow && other.x() > own.x()) right = std::min(right, other.x());
    }
    const int room = (right - own.x()) * kPixelsPerUnit;
    if (widget->width() > room) {
      fitWidth(widget, room);
      widget->resize(std::min(widget->sizeHint().width(), room), widget->height());
    }
  }
}

void ConfigurationWindow::placeOnPages() {
  // Every page fills the tab widget's page area, so the current page's origin is theirs.
  QWidget* page = tabs_->currentWidget();
  QPoint origin = page->mapTo(this, QPoint(0, 0));
  if (!tabs_->isVisible()) {
    // Before the first show the page area is not laid out yet: estimate it from the tab bar.
    origin = tabs_->pos() + QPoint(2, tabs_->tabBar()->sizeHint().height() + 2);
  }
  for (const Placement& p : pagePlacements_) p.widget->setGeometry(p.units.translated(-origin));
}

void ConfigurationWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  placeOnPages();
}

void ConfigurationWindow::buildPortTab() {
  QWidget* page = addPage("tabport", "RS232", "rs232.jpg");

  QGroupBox* port = addGroup(page, "port", "port", "Port RS232", QRect(58, 16, 134, 32));
  std::vector<std::tuple<QString, long long, QPoint>> ports;
  const int columns[] = {62, 92, 122, 152};
  for (int n = 0; n < 8; ++n) ports.emplace_back(QStringLiteral("COM%1").arg(n + 1), n, QPoint(columns[n / 2], 26 + 10 * (n % 2)));
  QButtonGroup* portButtons = addOptions(port, "PORT", config_.PORT, ports);
  for (QAbstractButton* b : portButtons->buttons()) {
    b->setToolTip(QString::fromStdString(comDevice(iniFilePath_, b->property("value").toInt())));
  }

  autoBox_ = new AutoConfigurationBox(QStringLiteral("Auto configuration RS232"), page);
  autoBox_->setObjectName(QStringLiteral("AUTO"));
  autoBox_->onFocusTaken = [this] { toggleAutoByFocus(); };
  place(autoBox_, QRect(58, 48, 94, 10));
  bindings_.push_back({[this] { autoBox_->setChecked(config_.AUTO != 0); }});

  QGroupBox* baud = addGroup(page, "baudrate", "baudrate", "Baud rate", QRect(58, 56, 134, 32));
  std::vector<std::tuple<QString, long long, QPoint>> rates;
  const int rateColumns[] = {62, 90, 122, 152};
  const int rateValues[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
  for (int n = 0; n < 8; ++n) {
    // 38400 does not fit the 16-bit field: it is held (and stored in files) as -27136.
    rates.emplace_back(QString::number(rateValues[n]), keepWidth<std::int16_t>(rateValues[n]),
                       QPoint(rateColumns[n / 2], 66 + 10 * (n % 2)));
  }
  addOptions(baud, "BAUDRATE", config_.BAUDRATE, rates);
  // The faster rates beyond the box's classic ones, in the free place beside the Auto box:
  // choosing one leaves no button of the box ticked; a button leaves this list blank.
  auto* faster = new QComboBox(page);
  faster->setObjectName(QStringLiteral("BAUDRATE+"));
  faster->setToolTip(QStringLiteral("Faster baud rates"));
  faster->addItem(QString());
  for (const int rate : kFasterBaudRates) faster->addItem(QString::number(rate), rate);
  place(faster, QRect(152, 46, 40, 11));
  connect(faster, qOverload<int>(&QComboBox::activated), this, [this, faster](int index) {
    if (index <= 0) return;
    config_.BAUDRATE = keepWidth<std::int16_t>(faster->itemData(index).toInt());
    display();
  });
  bindings_.push_back({[this, faster] {
    const int rate = bitsPerSecond(config_.BAUDRATE);
    faster->setCurrentIndex(std::max(0, faster->findData(rate > 38400 ? rate : -1)));
  }});

  QGroupBox* parity = addGroup(page, "parity", "parity", "Parity", QRect(58, 88, 84, 22));
  addOptions(parity, "PARITY", config_.PARITY,
             {{text("none", "None"), 0, QPoint(62, 98)},
              {text("odd", "Odd"), 1, QPoint(90, 98)},
              {text("even", "Even"), 2, QPoint(114, 98)}});

  QGroupBox* dataBits = addGroup(page, "databits", "databits", "Data bits", QRect(144, 88, 48, 22));
  addOptions(dataBits, "DATABITS", config_.DATABITS, {{"7", 7, QPoint(148, 98)}, {"8", 8, QPoint(168, 98)}});

  QGroupBox* stopBits = addGroup(page, "stopbits", "stopbits", "Stop bits", QRect(58, 110, 38, 22));
  addOptions(stopBits, "STOPBITS", config_.STOPBITS, {{"1", 1, QPoint(62, 120)}, {"2", 2, QPoint(78, 120)}});

  flowGroup_ = addGroup(page, "flowcontrol", "flowcontrol", "Flow control", QRect(98, 110, 94, 22));
  addCheck(flowGroup_, "USECTS", nullptr, "CTS", QRect(102, 120, 0, 0), config_.USECTS);
  addCheck(flowGroup_, "USEXON", nullptr, "Xon/Xoff", QRect(126, 120, 0, 0), config_.USEXON);
  addCheck(flowGroup_, "USEDTR", nullptr, "DTR", QRect(164, 120, 0, 0), config_.USEDTR);

  lineParameters_ = {baud, faster, parity, dataBits, stopBits, flowGroup_};
}

void ConfigurationWindow::buildDefineTab() {
  QWidget* page = addPage("tabdefine", "Define Record", "define.jpg");

  QGroupBox* endOf = addGroup(page, "selectendof", "selectendof", "Select end of record", QRect(58, 18, 132, 22));
  // "End string" stands in the middle but stores 3: the values follow the framing modes.
  addOptions(endOf, "SELECTENDOF", config_.SELECTENDOF,
             {{text("endchar", "End Char"), 1, QPoint(62, 28)},
              {text("endstring", "End string"), 3, QPoint(104, 28)},
              {text("endbyte", "Number"), 2, QPoint(150, 28)}});

  QGroupBox* endChar = addGroup(page, "endofchar", "endofchar", "End of char", QRect(58, 42, 62, 22));
  addOptions(endChar, "ENDOFCHAR", config_.ENDOFCHAR, {{"CR", 1, QPoint(62, 52)}, {"CR/LF", 2, QPoint(84, 52)}});

  QGroupBox* bytes = addGroup(page, "numberofbyte", "numberofbyte", "Number of byte", QRect(122, 42, 68, 22));
  addNumberEntry(bytes, "NUMBEROFBYTE", QRect(126, 52, 20, 10), config_.NUMBEROFBYTE);

  QGroupBox* endString = addGroup(page, "endofstring", "endofstring", "End of string", QRect(58, 66, 62, 24));
  addTextEntry(endString, "ENDOFSTRING", QRect(62, 76, 54, 10), config_.ENDOFSTRING);

  QGroupBox* clear = addGroup(page, "clearbuffer", "clearbuffer", "Clear buffer", QRect(122, 66, 68, 24));
  addCheck(clear, "ENABLECLEAR", "enableclearbuffer", "Enable clear", QRect(126, 76, 0, 0), config_.ENABLECLEAR);

  QGroupBox* filter = addGroup(page, "lenfilter", "lenfilter", "Len filter", QRect(58, 92, 132, 24));
  addCheck(filter, "LENFILTERENABLE", "lenfilterenable", "Enable", QRect(62, 102, 0, 0), config_.LENFILTERENABLE);
  auto* start = new QLabel(text("startfilter", "Start"), filter);
  place(start, QRect(104, 102, 0, 0));
  addNumberEntry(filter, "LENFILTERSTART", QRect(122, 102, 20, 10), config_.LENFILTERSTART);
  auto* length = new QLabel(text("endfilter", "Len"), filter);
  place(length, QRect(144, 102, 0, 0));
  addNumberEntry(filter, "LENFILTEREND", QRect(166, 102, 20, 10), config_.LENFILTEREND);

  addCheck(page, "ENABLECONVERTVALUE", "enableconvertvalue", "Convert to only value", QRect(62, 120, 70, 10),
           config_.ENABLECONVERTVALUE);
  addCheck(page, "BUFFERMODE", "buffermode", "Buffer mode", QRect(134, 120, 56, 10), config_.BUFFERMODE);
}

void ConfigurationWindow::buildDdeTab() {
  QWidget* page = addPage("tabdde", "Name / DDE", "dde.jpg");

  QGroupBox* name = addGroup(page, "configname", "configname", "Name configuration", QRect(58, 18, 132, 26));
  addTextEntry(name, "NAME", QRect(62, 30, 60, 10), config_.NAME);

  QGroupBox* keys = addGroup(page, "groupsendkey", "groupsendkey", "Send value in keyboard ( Keystrokes )",
                             QRect(58, 46, 132, 32));
  addCheck(keys, "ENABLESENDKEY", "enablesendkey", "Enable send value", QRect(62, 56, 0, 0), config_.ENABLESENDKEY);
  auto* keysNote = new QLabel(text("msgsendkey", "Send string in activate windows"), keys);
  place(keysNote, QRect(62, 66, 0, 0));
  // The pause between keystrokes ([KEYBOARD] DELAYMS), beside the switch it belongs to. Its
  // label is not in the language files of older versions, so it has no key of its own.
  auto* delayLabel = new QLabel(QStringLiteral("Key delay ms"), keys);
  delayLabel->setObjectName(QStringLiteral("delaymsLabel"));
  place(delayLabel, QRect(130, 56, 0, 0));
  addNumberEntry(keys, "DELAYMS", QRect(168, 56, 18, 10), config_.DELAYMS);

  QGroupBox* dde = addGroup(page, "groupdde", "groupdde", "DDE serveur", QRect(58, 80, 132, 52));
  addCheck(dde, "ENABLESERVERDDE", "enableserverdde", "Enable serveur", QRect(62, 90, 0, 0), config_.ENABLESERVERDDE);
  auto* mode = new QGroupBox(dde);
  mode->setObjectName(QStringLiteral("sendorrequest"));
  place(mode, QRect(138, 88, 50, 34));
  addOptions(mode, "SENDORREQUEST", config_.SENDORREQUEST,
             {{text("send", "Send"), 0, QPoint(142, 94)}, {text("request", "Request"), 1, QPoint(142, 106)}});
  const char* notes[][2] = {{"msg1serverdde", "Activate server DDE"},
                            {"msg2serverdde", "Application name : KELVOR"},
                            {"msg3serverdde", "Topic name : SYSTEM"}};
  for (int line = 0; line < 3; ++line) {
    auto* note = new QLabel(text(notes[line][0], notes[line][1]), dde);
    // The notes end where the Send/Request box begins.
    place(note, QRect(62, 100 + 10 * line, 75, 10));
  }
}

void ConfigurationWindow::buildSoundTab() {
  QWidget* page = addPage("tabsound", "Sound", "sound.jpg");

  QGroupBox* sound = addGroup(page, "groupsound", "groupsound", "Sound", QRect(60, 18, 130, 26));
  addCheck(sound, "SOUNDENABLE", "soundenable", "Sound enable", QRect(64, 30, 0, 0), config_.SOUNDENABLE);

  QGroupBox* keys = addGroup(page, "groupsoundkey", "groupsoundkey", "Sound for send keystroke", QRect(60, 48, 130, 40));
  addCheck(keys, "ENABLEKEYSOUND", "soundenable", "Sound enable", QRect(64, 60, 0, 0), config_.ENABLEKEYSOUND);
  place(new QLabel(QStringLiteral("File"), keys), QRect(64, 74, 0, 0));
  addPathEntry(keys, "FILESOUNDKEY", QRect(86, 74, 90, 10), config_.FILESOUNDKEY);
  addSoundFileButton(keys, "selectFILESOUNDKEY", QRect(176, 74, 10, 10), config_.FILESOUNDKEY);

  QGroupBox* dde = addGroup(page, "groupsounddde", "groupsounddde", "Sound for DDE command or request",
                            QRect(60, 90, 130, 40));
  addCheck(dde, "ENABLEDDESOUND", "soundenable", "Sound enable", QRect(64, 102, 0, 0), config_.ENABLEDDESOUND);
  place(new QLabel(QStringLiteral("File"), dde), QRect(64, 116, 0, 0));
  addPathEntry(dde, "FILESOUNDDDE", QRect(86, 116, 90, 10), config_.FILESOUNDDDE);
  addSoundFileButton(dde, "selectFILESOUNDDDE", QRect(176, 116, 10, 10), config_.FILESOUNDDDE);
}

// --- behaviour --------------------------------------------------------------------------

void ConfigurationWindow::display() {
  for (const Binding& b : bindings_) b.show();
  applyLineParameterLock();
}

void ConfigurationWindow::applyLineParameterLock() {
  const bool locked = lineParametersLocked(config_);
  for (QWidget* w : lineParameters_) w->setEnabled(!locked);
}

void ConfigurationWindow::toggleAutoByFocus() {
  toggleAuto(config_);
  applyLineParameterLock();
  autoBox_->setChecked(config_.AUTO != 0);
  // Leave the box, so that the next click or Tab onto it flips it again. A group box without
  // focus of its own hands the focus to its first check box.
  if (flowGroup_->isEnabled()) {
    flowGroup_->setFocus(Qt::TabFocusReason);
  } else {
    autoBox_->moveFocusOn();
  }
}

void ConfigurationWindow::tick() {
  if (applyBufferModeRule(config_)) display();
}

void ConfigurationWindow::chooseSoundFile(PathText<250>& field) {
  // Names written on Windows ("sound\\key.wav") are proposed with "/".
  std::string proposed = field.trimmed();
  std::replace(proposed.begin(), proposed.end(), '\\', '/');
  // The title is the same in every language.
  if (auto chosen = chooseFile(FileDialogKind::Open, "Select file", proposed, "*.WAV|*.WAV", this)) field.assign(*chosen);
  display();
}

void openConfigurationWindow(Configuration& config, Language& language, const std::string& iniFilePath,
                             QWidget* parent) {
  ConfigurationWindow window(config, language, iniFilePath, parent);
  QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen) window.move(screen->availableGeometry().center() - window.rect().center());
  execModal(window);
}

}  // namespace kelvor
