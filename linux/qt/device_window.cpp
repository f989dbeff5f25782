#include "linux/qt/device_window.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/settings/profile_file.h"
#include "core/line/serial_ports.h"
#include "core/toolkit/modal_gate.h"
#include "linux/qt/exec_modal.h"

namespace kelvor {
namespace {

constexpr int kPorts = 8;  // COM1 ... COM8

enum Column { kDevice, kTarget, kVendor, kProduct, kSerial, kDriver, kMapped, kColumns };

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

std::string mappedPorts(const std::string& iniFilePath, const std::string& device) {
  std::string ports;
  for (int port = 0; port < kPorts; ++port) {
    if (!sameDevice(comDevice(iniFilePath, port), device)) continue;
    ports += (ports.empty() ? "" : ", ") + comName(port);
  }
  return ports;
}

DeviceWindow::DeviceWindow(Language& language, std::string iniFilePath, DeviceFolders folders, QWidget* parent)
    : QDialog(parent), language_(language), iniFilePath_(std::move(iniFilePath)), folders_(std::move(folders)) {
  setObjectName(QStringLiteral("DeviceWindow"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  language_.languageSection = "devices";
  setWindowTitle(text("screen"));

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("devices"));
  list_->setRootIsDecorated(false);
  list_->setColumnCount(kColumns);
  list_->setHeaderLabels({text("device"), text("target"), text("vendor"), text("product"), text("serial"),
                          text("driver"), text("mapped")});

  port_ = new QComboBox(this);
  port_->setObjectName(QStringLiteral("port"));
  for (int port = 0; port < kPorts; ++port) port_->addItem(qs(comName(port)));
  auto* map = new QPushButton(text("map"), this);
  map->setObjectName(QStringLiteral("map"));
  auto* again = new QPushButton(text("refresh"), this);
  again->setObjectName(QStringLiteral("refresh"));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);

  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(text("mapto"), this));
  row->addWidget(port_);
  row->addWidget(map);
  row->addStretch(1);
  row->addWidget(again);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(row);
  layout->addWidget(status_);

  connect(map, &QPushButton::clicked, this, [this] { mapSelected(port_->currentIndex()); });
  connect(again, &QPushButton::clicked, this, [this] { refresh(); });
  resize(900, 320);
  refresh();
}

QString DeviceWindow::text(const char* key) const {
  Language lookup = language_;
  lookup.languageSection = "devices";
  return qs(translate(lookup, key));
}

void DeviceWindow::refresh() {
  const QString selected = list_->currentItem() ? list_->currentItem()->text(kDevice) : QString();
  devices_ = listSerialDevices(folders_);
  list_->clear();
  for (const SerialDevice& device : devices_) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(kDevice, qs(device.path));
    item->setText(kTarget, qs(device.target));
    item->setText(kVendor, qs(device.vendor));
    item->setText(kProduct, qs(device.product));
    item->setText(kSerial, qs(device.serial));
    item->setText(kDriver, qs(device.driver));
    item->setText(kMapped, qs(mappedPorts(iniFilePath_, device.path)));
    if (item->text(kDevice) == selected) list_->setCurrentItem(item);
  }
  // One device is always chosen, so that Map does what it says at once.
  if (!list_->currentItem() && list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  for (int column = 0; column < kColumns; ++column) list_->resizeColumnToContents(column);
  if (devices_.empty()) status_->setText(text("none"));
}

bool DeviceWindow::mapSelected(int port) {
  const int row = list_->currentItem() ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
  if (row < 0 || row >= static_cast<int>(devices_.size()) || port < 0 || port >= kPorts) {
    status_->setText(text("choose"));
    return false;
  }
  const std::string name = preferredName(devices_[static_cast<std::size_t>(row)], devices_);
  if (!writeProfileString(iniFilePath_, "PORTS", comName(port), name)) {
    status_->setText(text("notwritten") + QStringLiteral(" ") + qs(iniFilePath_));
    return false;
  }
  refresh();
  status_->setText(qs(comName(port) + " = " + name));
  return true;
}

void openDeviceWindow(Language& language, const std::string& iniFilePath, QWidget* parent) {
  DeviceFolders folders;
  // A folder of links of the user's own (where kelvor-sim --link or socat put theirs),
  // relative to the working folder that holds KELVOR.INI.
  std::string extra = readProfileString(iniFilePath, "DEVICES", "FOLDER");
  if (!extra.empty()) {
    if (extra.front() != '/') extra = iniFilePath.substr(0, iniFilePath.find_last_of('/') + 1) + extra;
    folders.links.push_back(extra);
  }
  DeviceWindow window(language, iniFilePath, folders, parent);
  QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen) window.move(screen->availableGeometry().center() - window.rect().center());
  execModal(window);
}

}  // namespace kelvor
