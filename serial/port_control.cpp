#include "serial/port_control.h"

#include <QMessageBox>

#include "serial/port_notice.h"
#include "toolkit/modal_gate.h"

namespace kelvor {
namespace {

// The two values the library takes after the handle; only the library gives them meaning.
constexpr int kReadTimeout = 1000;
constexpr int kWriteTimeout = 1000;
constexpr int kSettleCount = 5;  // ComDelay count before the buffers are cleared

class WindowPortDialogs : public PortDialogs {
 public:
  void showNotice(std::string_view text) override {
    if (!notice_) notice_ = std::make_unique<PortNotice>();
    notice_->showText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
  }
  void closeNotice() override {
    if (notice_) notice_->hide();
  }
  void showConfigError(const std::string& text) override {
    QMessageBox box(QMessageBox::Information, QStringLiteral("ERROR"), QString::fromStdString(text),
                    QMessageBox::Ok);
    execModal(box);
  }

 private:
  std::unique_ptr<PortNotice> notice_;
};

// Stands in until the program installs its real library: no port can be opened.
class NoSerialLibrary : public SerialLibrary {
 public:
  std::int16_t SetPortEx(int, std::uint16_t, int, int, int, int, int) override { return -1; }
  std::int16_t InitPort(int, std::int16_t, int, int, int) override { return -1; }
  void Dtr(int, int) override {}
  void ComDelay(int, int) override {}
  void ClrBuf(int) override {}
  void ResetPort(int, std::uint16_t) override {}
  void DisplayPortError(std::int16_t) override {}
  std::int16_t ComGetb(int, ZField<2550>& receiveBuffer) override {
    receiveBuffer.clear();
    return 0;
  }
  void ComPutb(int, const char*, int) override {}
  void ComPuts(int, std::string_view) override {}
};

std::unique_ptr<PortDialogs>& dialogsSlot() {
  static std::unique_ptr<PortDialogs> dialogs = std::make_unique<WindowPortDialogs>();
  return dialogs;
}

std::unique_ptr<SerialLibrary>& librarySlot() {
  static std::unique_ptr<SerialLibrary> library = std::make_unique<NoSerialLibrary>();
  return library;
}

}  // namespace

void openPort(PortContext& port) {
  const Configuration& config = port.config;
  SerialLibrary& library = port.library;
  PortDialogs& dialogs = portDialogs();
  const bool notice = config.AUTO == 1;
  if (notice) dialogs.showNotice("Open port RS232");

  port.reception.portStatus = library.SetPortEx(config.PORT, port.portWindowHandle, kReadTimeout, kWriteTimeout,
                                                config.USECTS, config.USEXON, config.USEDTR);
  if (port.reception.portStatus != 0) {
    // The port did not open: nothing to reset.
    library.DisplayPortError(port.reception.portStatus);
    if (notice) dialogs.closeNotice();
    return;
  }

  if (config.AUTO == 0) {
    if (library.InitPort(config.PORT, config.BAUDRATE, config.PARITY, config.DATABITS, config.STOPBITS) != 0) {
      port.language.languageSection = "PORT";
      dialogs.showConfigError(trimRight(translate(port.language, "configERROR")));
      library.ResetPort(config.PORT, port.portWindowHandle);
      return;
    }
    library.Dtr(config.PORT, 1);
  }

  // Let the line settle, then start reception with empty buffers.
  library.ComDelay(port.portWindowHandle, kSettleCount);
  library.ClrBuf(config.PORT);
  if (notice) dialogs.closeNotice();
}

void closePort(PortContext& port) {
  const Configuration& config = port.config;
  SerialLibrary& library = port.library;
  PortDialogs& dialogs = portDialogs();
  const bool notice = config.AUTO == 1;
  if (notice) dialogs.showNotice("Close Port RS232");
  library.ClrBuf(config.PORT);
  library.ComDelay(port.portWindowHandle, kSettleCount);
  library.ResetPort(config.PORT, port.portWindowHandle);
  if (notice) dialogs.closeNotice();
}

PortDialogs& portDialogs() { return *dialogsSlot(); }

void setPortDialogs(std::unique_ptr<PortDialogs> dialogs) {
  dialogsSlot() = dialogs ? std::move(dialogs) : std::make_unique<WindowPortDialogs>();
}

SerialLibrary& serialLibrary() { return *librarySlot(); }

void setSerialLibrary(std::unique_ptr<SerialLibrary> library) {
  librarySlot() = library ? std::move(library) : std::make_unique<NoSerialLibrary>();
}

}  // namespace kelvor
