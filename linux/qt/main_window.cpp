#include "linux/qt/main_window.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMoveEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include "core/desk/menu_text.h"
#include "core/settings/file_commands.h"
#include "core/i18n/language_file_dialog.h"
#include "linux/qt/file_dialog.h"
#include "core/settings/profile_file.h"
#include "core/toolkit/encoding.h"
#include "core/toolkit/modal_gate.h"
#include "linux/qt/pictures.h"
#include "core/toolkit/sound.h"

namespace kelvor {
namespace {

constexpr int u(int units) { return units * MainWindow::kUnit; }

QLabel* picture(QWidget* parent, std::string_view name, int x, int y) {
  auto* label = new QLabel(parent);
  const QPixmap pixmap = builtInPicture(name);
  label->setPixmap(pixmap);
  label->setGeometry(u(x), u(y), pixmap.width(), pixmap.height());
  return label;
}

QLabel* text(QWidget* parent, int x, int y, int width, int height, const QColor& colour) {
  auto* label = new QLabel(parent);
  label->setGeometry(u(x), u(y), u(width), u(height));
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(8);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  return label;
}

QPushButton* imageButton(QWidget* parent, std::string_view name, int x, int y) {
  auto* button = new QPushButton(parent);
  button->setGeometry(u(x), u(y), u(13), u(13));
  const QPixmap pixmap = builtInPicture(name);
  button->setIcon(pixmap);
  button->setIconSize(pixmap.size());
  button->setFlat(true);
  button->setFocusPolicy(Qt::NoFocus);  // the key-catcher keeps the focus
  return button;
}

QString qt(std::string_view bytes) { return QString::fromStdString(displayText(bytes)); }

}  // namespace

MainWindow::MainWindow(KelvorState& state, Notices& notices) : state_(state), notices_(notices) {
  setWindowTitle(QStringLiteral("NORDAL - Kelvor"));
  setWindowIcon(QIcon(builtInPicture("~kelvor.png")));
  setFixedSize(u(kWidthUnits), u(kFullHeightUnits));
  buildControls();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
  background_ = picture(this, "~kelvor.jpg", 0, 0);
  sendKeyIcon_ = picture(this, "~pcancel.ico", 80, 18);
  ddeIcon_ = picture(this, "~pcancel.ico", 100, 18);
  sendKeyIcon_->setGeometry(u(80), u(18), u(8), u(8));
  ddeIcon_->setGeometry(u(100), u(18), u(8), u(8));

  progress_ = new QProgressBar(this);
  progress_->setGeometry(u(1), u(28), u(124), u(8));
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);

  // Controls 5, 6, 14 and 15 lie below the visible band on purpose.
  waitLabel_ = text(this, 4, 72, 20, 8, Qt::black);
  waitLabel_->setText(QStringLiteral("Waitrs"));
  waitStateLabel_ = text(this, 30, 72, 10, 8, Qt::black);
  elapsedLabel_ = text(this, 46, 70, 20, 8, Qt::black);

  greenLamp_ = picture(this, "~led_v.jpg", 24, 17);
  redLamp_ = picture(this, "~led_r.jpg", 32, 17);
  orangeLamp_ = picture(this, "~led_o.jpg", 54, 17);

  nameLabel_ = text(this, 70, 4, 40, 10, QColor(0, 128, 128));
  frameLabel_ = text(this, 3, 4, 60, 10, QColor(255, 255, 0));
  frameLabel_->setTextFormat(Qt::PlainText);
  nameLabel_->setTextFormat(Qt::PlainText);

  menuButton_ = imageButton(this, "~bt_conf.jpg", 112, 13);
  runButton_ = imageButton(this, "~bt_run.jpg", 112, 1);
  connect(menuButton_, &QPushButton::clicked, this, [this] {
    focusKeyCatcher();
    showMenu();
  });
  connect(runButton_, &QPushButton::clicked, this, [this] {
    focusKeyCatcher();
    ModalGate& gate = modalGate();
    if (!gate.isOpen()) return;
    if (state_.reception.isRunning == 0) {
      startRun();
    } else {
      stopRun();
    }
  });

  keyCatcher_ = new QPushButton(QStringLiteral("Pedate"), this);
  keyCatcher_->setGeometry(u(2), u(86), u(36), u(18));
  connect(keyCatcher_, &QPushButton::clicked, this, [this] {
    focusKeyCatcher();
    playSoundFile(state_.touchSoundPath);
  });

  // Between the lamps and the status icons, shown only while the port's device is away.
  portAwayIcon_ = picture(this, "~plost.ico", 44, 18);
  portAwayIcon_->setGeometry(u(44), u(18), u(8), u(8));
  portAwayIcon_->hide();

  // Controls are addressed by their layout number, also by tests and scripts.
  QWidget* controls[] = {background_, sendKeyIcon_, ddeIcon_, progress_, waitLabel_,
                               waitStateLabel_, greenLamp_, redLamp_, orangeLamp_, nameLabel_,
                               menuButton_, runButton_, frameLabel_, keyCatcher_, elapsedLabel_,
                               portAwayIcon_};
  for (int i = 0; i < 16; ++i) controls[i]->setObjectName(QStringLiteral("control%1").arg(i + 1));

  for (QLabel* lamp : {greenLamp_, redLamp_, orangeLamp_}) lamp->hide();
}

void MainWindow::tick() {
  // Ticks that come while a modal window or a blocking wait holds the gate are dropped,
  // not replayed: the next one does the work. The desk's tick sees to that itself, since
  // its link timer goes on meanwhile.
  const bool open = modalGate().isOpen();
  if (open) applyZOrder();
  if (hooks.tick) hooks.tick();
  if (!open) return;
  waitStateLabel_->setText(QString::number(state_.reception.waitState));
  elapsedLabel_->setText(QString::number(state_.wait.elapsed));
}

void MainWindow::refreshStatusIcons() {
  for (QLabel* lamp : {greenLamp_, redLamp_, orangeLamp_}) lamp->hide();
  // What the server does, not what the configuration asks: a server switched on may not
  // serve (another program has the name, no bus).
  const bool serving = hooks.ddeServing ? hooks.ddeServing() : state_.config.ENABLESERVERDDE == 1;
  setDdeIcon(serving ? "~pok.ico" : "~pcancel.ico");
  if (hooks.ddeStatus) ddeIcon_->setToolTip(qt(hooks.ddeStatus()));
  setSendKeyIcon(state_.config.ENABLESENDKEY == 1 ? "~pok.ico" : "~pcancel.ico");
  showTexts();
}

void MainWindow::rebuildMainTexts() {
  menuText_ = buildMenuText(state_.language, true);
  runButton_->setToolTip(qt(translate(state_.language, "runon")));
  menuButton_->setToolTip(qt(translate(state_.language, "config")));
}

void MainWindow::setZOrderMode(int mode) {
  menuText_ = buildMenuText(state_.language, mode == 1);
  state_.zOrderMode = keepWidth<std::uint8_t>(mode);
  if (hooks.wakeTick) hooks.wakeTick();
}

void MainWindow::toggleTop() { setZOrderMode(state_.zOrderMode == 1 ? 2 : 1); }

void MainWindow::forceZOrder() {
  lastAppliedZOrderMode_ = 99;
  if (hooks.wakeTick) hooks.wakeTick();
}

void MainWindow::applyZOrder() {
  if (lastAppliedZOrderMode_ == state_.zOrderMode) return;
  QWindow* window = windowHandle();
  if (window != nullptr && isVisible()) {
    // Toggled on the QWindow: QWidget::setWindowFlag would hide the widget until shown again.
    if (state_.zOrderMode == 1) {
      window->setFlag(Qt::WindowStaysOnTopHint, true);
      window->raise();
    } else if (state_.zOrderMode == 2) {
      window->setFlag(Qt::WindowStaysOnTopHint, false);
      window->lower();
    }
  }
  lastAppliedZOrderMode_ = state_.zOrderMode;
}

void MainWindow::setRunButtonStopped(bool stopped) {
  state_.language.languageSection = "MAIN";
  runButton_->setToolTip(qt(translate(state_.language, stopped ? "runon" : "runoff")));
  const QPixmap pixmap = builtInPicture(stopped ? "~bt_run.jpg" : "~bt_off.jpg");
  runButton_->setIcon(pixmap);
}

void MainWindow::startRun() {
  if (run_) run_->start(RunControl::Trigger::RunButton);
}

void MainWindow::stopRun() {
  if (run_) run_->stop(RunControl::Trigger::RunButton);
}

void MainWindow::runFromCommand() {
  if (run_) run_->start(RunControl::Trigger::Command);
}

void MainWindow::stopFromCommand() {
  if (run_) run_->stop(RunControl::Trigger::Command);
}

void MainWindow::showLamps(bool green, bool red) {
  // Each lamp paints its own place when the loop gets to it, not the whole strip at once.
  setLamp(Lamp::Green, green);
  setLamp(Lamp::Red, red);
}

FileDialogs& MainWindow::fileDialogs() {
  static QtFileDialogs dialogs;
  return dialogs;
}

void MainWindow::showRunning(bool running) {
  forceZOrder();
  setRunButtonStopped(!running);
  showTexts();
}

void MainWindow::setMenuEnabled(bool enabled) { menuButton_->setEnabled(enabled); }

void MainWindow::showPortAway(const std::string& description) {
  portAwayIcon_->setToolTip(qt(description));
  portAwayIcon_->setVisible(!description.empty());
}

bool MainWindow::menuButtonEnabled() const { return menuButton_->isEnabled(); }

void MainWindow::setLamp(Lamp lamp, bool shown) {
  QLabel* label = lamp == Lamp::Green ? greenLamp_ : lamp == Lamp::Red ? redLamp_ : orangeLamp_;
  label->setVisible(shown);
}

void MainWindow::setSendKeyIcon(std::string_view name) {
  if (name == sendKeyIconName_) return;
  sendKeyIconName_ = name;
  sendKeyIcon_->setPixmap(builtInPicture(name));
}

void MainWindow::setSendKeyToolTip(std::string_view text) {
  sendKeyToolTip_ = qt(text);
  if (!typingPaused_) sendKeyIcon_->setToolTip(sendKeyToolTip_);
}

void MainWindow::showTypingPaused(const std::string& why) {
  typingPaused_ = !why.empty();
  setSendKeyIcon(typingPaused_ || state_.config.ENABLESENDKEY != 1 ? "~pcancel.ico" : "~pok.ico");
  sendKeyIcon_->setToolTip(typingPaused_ ? qt(why) : sendKeyToolTip_);
}

// A request shows the icon twice: an unchanged picture costs nothing, a changed one is
// painted by the loop.
void MainWindow::setDdeIcon(std::string_view name) {
  if (name == ddeIconName_) return;
  ddeIconName_ = name;
  ddeIcon_->setPixmap(builtInPicture(name));
}

void MainWindow::showTexts() {
  nameLabel_->setText(qt(state_.config.NAME.trimmed()));
  // The frame's first 20 characters as a C text: a zero byte ends what can be shown.
  const ZField<21, Fit::Characters> frame(state_.reception.currentFrame.padded());
  frameLabel_->setText(qt(frame.cText()));
}

void MainWindow::setWaitBandShown(bool shown) {
  resize(width(), u(shown ? kFullHeightUnits : kShownHeightUnits));
  setFixedHeight(u(shown ? kFullHeightUnits : kShownHeightUnits));
}

void MainWindow::setProgress(double value) { progress_->setValue(static_cast<int>(value)); }

void MainWindow::focusKeyCatcher() { keyCatcher_->setFocus(Qt::OtherFocusReason); }

void MainWindow::showMenu() {
  if (!modalGate().isOpen()) return;
  QMenu menu(this);
  for (const MenuEntry& entry : parseMenuText(menuText_)) {
    if (entry.separator) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(qt(entry.text));
    // Only Top ever shows a check mark.
    action->setCheckable(entry.item == 1);
    action->setChecked(entry.checked);
    action->setData(entry.item);
  }
  QAction* chosen = nullptr;
  {
    ModalGate::Hold hold(modalGate());
    chosen = menu.exec(QCursor::pos());
  }
  if (chosen != nullptr) performMenuItem(chosen->data().toInt());
  forceZOrder();
  focusKeyCatcher();
}

void MainWindow::performMenuItem(int item) {
  auto run = [](const std::function<void()>& hook) {
    if (hook) hook();
  };
  switch (item) {
    case 1: toggleTop(); break;
    case 2: run(hooks.openAbout); break;
    case 3:
      run(hooks.openConfiguration);
      refreshStatusIcons();
      break;
    case 4: run(hooks.openDevices); break;
    case 5: run(hooks.openView); break;
    case 6: run(hooks.openTest); break;
    case 7: run(hooks.openOutputs); break;
    case 8: saveConfigurationAs(fileDialogs(), state_.config, state_.configFilePath, state_.language, notices_); break;
    case 9:
      openConfiguration(fileDialogs(), state_.config, state_.configFilePath, state_.language);
      showTexts();
      break;
    case 10: selectDefaultConfiguration(fileDialogs(), state_.configFilePath, state_.iniFilePath, state_.language); break;
    case 11:
      if (selectLanguageFile(fileDialogs(), state_.language, state_.iniFilePath)) rebuildMainTexts();
      break;
    default: break;
  }
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // A Wayland client never learns where its window is (Qt reports 0,0): the place the user
  // chose on X11 is kept for the next start there.
  if (QGuiApplication::platformName() == QLatin1String("wayland")) return;
  windowX = pos().x();
  windowY = pos().y();
  saveWindowPosition(state_.iniFilePath, windowX, windowY);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  emit closed();
}

}  // namespace kelvor
