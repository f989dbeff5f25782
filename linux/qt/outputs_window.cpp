#include "linux/qt/outputs_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <limits>

#include "core/toolkit/encoding.h"
#include "linux/qt/file_dialog.h"

namespace kelvor {
namespace {

QString fromBytes(const std::string& bytes) { return QString::fromStdString(displayText(bytes)); }

// Settings are kept as bytes like every other profile value; what the user types is UTF-8.
std::string toBytes(const QLineEdit* field) { return field->text().trimmed().toStdString(); }

}  // namespace

OutputsWindow::OutputsWindow(const OutputSettings& settings, Language language, const OutputDefaults& defaults,
                             QWidget* parent)
    : QDialog(parent), language_(std::move(language)) {
  language_.languageSection = "outputs";
  setObjectName(QStringLiteral("OutputsWindow"));
  setWindowTitle(text("screen"));

  auto* logGroup = new QGroupBox(text("grouplog"));
  logEnable_ = new QCheckBox(text("logenable"));
  logFolder_ = new QLineEdit;
  logFolder_->setObjectName(QStringLiteral("logFolder"));
  auto* logForm = new QFormLayout(logGroup);
  logForm->addRow(logEnable_);
  logForm->addRow(text("logfolder"), logFolder_);

  auto* mqttGroup = new QGroupBox(text("groupmqtt"));
  mqttEnable_ = new QCheckBox(text("mqttenable"));
  host_ = new QLineEdit;
  host_->setObjectName(QStringLiteral("host"));
  port_ = new QSpinBox;
  port_->setRange(1, 65535);
  auto* broker = new QHBoxLayout;
  broker->addWidget(host_, 1);
  broker->addWidget(port_);
  clientId_ = new QLineEdit;
  clientId_->setPlaceholderText(fromBytes(defaults.clientId));
  topic_ = new QLineEdit;
  topic_->setPlaceholderText(fromBytes(defaults.topicPrefix));
  user_ = new QLineEdit;
  password_ = new QLineEdit;
  password_->setObjectName(QStringLiteral("password"));
  password_->setEchoMode(QLineEdit::Password);
  caFile_ = new QLineEdit;
  auto* chooseCa = new QPushButton(text("choose"));
  auto* ca = new QHBoxLayout;
  ca->addWidget(caFile_, 1);
  ca->addWidget(chooseCa);
  qos_ = new QComboBox;
  qos_->addItem(text("qos0"));
  qos_->addItem(text("qos1"));
  queue_ = new QSpinBox;
  queue_->setRange(1, std::numeric_limits<int>::max());
  queue_->setGroupSeparatorShown(true);
  auto* mqttForm = new QFormLayout(mqttGroup);
  mqttForm->addRow(mqttEnable_);
  mqttForm->addRow(text("broker"), broker);
  mqttForm->addRow(text("clientid"), clientId_);
  mqttForm->addRow(text("topic"), topic_);
  mqttForm->addRow(text("user"), user_);
  mqttForm->addRow(text("password"), password_);
  mqttForm->addRow(text("cafile"), ca);
  mqttForm->addRow(text("qos"), qos_);
  mqttForm->addRow(text("queue"), queue_);
  state_ = new QLabel;
  state_->setObjectName(QStringLiteral("mqttState"));
  state_->setWordWrap(true);
  mqttForm->addRow(text("state"), state_);

  auto* buttons = new QDialogButtonBox;
  buttons->addButton(text("save"), QDialogButtonBox::AcceptRole)->setObjectName(QStringLiteral("save"));
  buttons->addButton(text("cancel"), QDialogButtonBox::RejectRole);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(logGroup);
  layout->addWidget(mqttGroup);
  layout->addWidget(buttons);
  setMinimumWidth(520);

  connect(chooseCa, &QPushButton::clicked, this, &OutputsWindow::chooseCaFile);
  connect(logEnable_, &QCheckBox::toggled, this, &OutputsWindow::enableFields);
  connect(mqttEnable_, &QCheckBox::toggled, this, &OutputsWindow::enableFields);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (onSave) onSave(this->settings());
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  display(settings);
}

void OutputsWindow::showState(std::function<std::string()> state) {
  stateText_ = std::move(state);
  auto update = [this] { state_->setText(QString::fromStdString(stateText_())); };
  update();
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, update);
  timer->start(500);
}

QString OutputsWindow::text(const char* key) const { return QString::fromStdString(translate(language_, key)); }

void OutputsWindow::display(const OutputSettings& s) {
  logEnable_->setChecked(s.log.ENABLE == 1);
  logFolder_->setText(fromBytes(s.log.FOLDER));
  mqttEnable_->setChecked(s.mqtt.ENABLE == 1);
  host_->setText(fromBytes(s.mqtt.HOST));
  port_->setValue(s.mqtt.PORT);
  clientId_->setText(fromBytes(s.mqtt.CLIENTID));
  topic_->setText(fromBytes(s.mqtt.TOPIC));
  user_->setText(fromBytes(s.mqtt.USER));
  password_->setText(fromBytes(s.mqtt.PASSWORD));
  caFile_->setText(fromBytes(s.mqtt.CAFILE));
  qos_->setCurrentIndex(s.mqtt.QOS == 0 ? 0 : 1);
  queue_->setValue(s.mqtt.QUEUE);
  enableFields();
}

OutputSettings OutputsWindow::settings() const {
  OutputSettings s;
  s.log.ENABLE = logEnable_->isChecked() ? 1 : 0;
  s.log.FOLDER = toBytes(logFolder_).empty() ? std::string("readings") : toBytes(logFolder_);
  s.mqtt.ENABLE = mqttEnable_->isChecked() ? 1 : 0;
  s.mqtt.HOST = toBytes(host_);
  s.mqtt.PORT = port_->value();
  s.mqtt.CLIENTID = toBytes(clientId_);
  s.mqtt.TOPIC = toBytes(topic_);
  s.mqtt.USER = toBytes(user_);
  s.mqtt.PASSWORD = password_->text().toStdString();  // blanks may belong to a password
  s.mqtt.CAFILE = toBytes(caFile_);
  s.mqtt.QOS = qos_->currentIndex();
  s.mqtt.QUEUE = queue_->value();
  return s;
}

void OutputsWindow::enableFields() {
  logFolder_->setEnabled(logEnable_->isChecked());
  for (QWidget* field : std::initializer_list<QWidget*>{host_, port_, clientId_, topic_, user_, password_, caFile_,
                                                        qos_, queue_}) {
    field->setEnabled(mqttEnable_->isChecked());
  }
}

void OutputsWindow::chooseCaFile() {
  const auto path = chooseFile(FileDialogKind::Open, translate(language_, "cafiletitle"), toBytes(caFile_),
                               "*.pem|*.pem", this);
  if (path) caFile_->setText(fromBytes(*path));
}

}  // namespace kelvor
