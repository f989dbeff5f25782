#include "linux/qt/view_window.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>

#include "linux/qt/lamp.h"
#include "linux/qt/layout.h"
#include "core/i18n/translate.h"
#include "core/line/port_control.h"

namespace kelvor {

// The byte table: position, character, value, one row per received byte.
class ByteTableModel : public QAbstractTableModel {
 public:
  explicit ByteTableModel(ViewLog& log, QObject* parent) : QAbstractTableModel(parent), log_(log) {}

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(log_.byteTable().size());
  }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid()) return {};
    const ByteRow& row = log_.byteTable()[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
      switch (index.column()) {
        case 0: return row.POS;
        case 1: return QString::fromStdString(byteLabel(static_cast<unsigned char>(row.CHAR)));
        default: return row.VAL;
      }
    }
    if (role == Qt::TextAlignmentRole) {
      return index.column() == 0 ? int(Qt::AlignRight | Qt::AlignVCenter) : int(Qt::AlignCenter);
    }
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
      static const char* const kHeadings[3] = {"Pos", "Char", "ASCII Val."};
      return QString(kHeadings[section]);
    }
    if (role == Qt::TextAlignmentRole) {
      return section == 1 ? int(Qt::AlignCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
  }

  void appendRead(std::string_view bytes) {
    const int first = rowCount();
    if (bytes.empty()) {
      log_.append(bytes);
      return;
    }
    beginInsertRows({}, first, first + static_cast<int>(bytes.size()) - 1);
    log_.append(bytes);
    endInsertRows();
  }

  void clearRows() {
    beginResetModel();
    log_.clearTable();
    endResetModel();
  }

 private:
  ViewLog& log_;
};

namespace {

// Draws a column's cells with the column's indent and, where the column has one, its
// right border.
class ColumnDelegate : public QStyledItemDelegate {
 public:
  ColumnDelegate(int rightIndent, bool rightBorder, QObject* parent)
      : QStyledItemDelegate(parent), rightIndent_(rightIndent), rightBorder_(rightBorder) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem indented = option;
    indented.rect.adjust(0, 0, -rightIndent_, 0);
    QStyledItemDelegate::paint(painter, indented, index);
    if (rightBorder_) {
      painter->save();
      painter->setPen(option.palette.color(QPalette::Mid));
      painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
      painter->restore();
    }
  }

 private:
  int rightIndent_;
  bool rightBorder_;
};

}  // namespace

ViewWindow::ViewWindow(PortContext port, QWidget* parent)
    : DiagnosticWindow(port, parent), model_(new ByteTableModel(log_, this)) {
  setObjectName("ViewWindow");
  setWindowTitle("View in RS232");
  setFixedSize(198 * kUnit, 179 * kUnit);
  buildControls();
}

ViewWindow::~ViewWindow() = default;

void ViewWindow::buildControls() {
  addPicture(this, ":/diagnostics/view.jpg", unitRect(4, 4, 190, 46));
  addPanel(this, unitRect(2, 2, 194, 50));
  addPanel(this, unitRect(2, 54, 96, 124));
  addPanel(this, unitRect(100, 54, 96, 124));

  receiveLabel_ = addLabel(this, "String receive / Buffer", 6, 58);
  textBox_ = new QPlainTextEdit(this);
  textBox_->setObjectName("viewText");
  textBox_->setReadOnly(true);
  textBox_->setGeometry(unitRect(4, 70, 92, 92));
  clearText_ = new QPushButton("Clear", this);
  clearText_->setGeometry(unitRect(4, 164, 92, 12));
  clearText_->setAutoDefault(false);
  connect(clearText_, &QPushButton::clicked, this, &ViewWindow::clearTextSide);

  convertLabel_ = addLabel(this, "Convert", 104, 58);
  addLabel(this, "Rx/Tx", 156, 58);
  green_->setGeometry(unitRect(178, 59, 6, 6));
  green_->raise();
  red_->setGeometry(unitRect(186, 59, 6, 6));
  red_->raise();

  table_ = new QTableView(this);
  table_->setObjectName("byteTable");
  table_->setModel(model_);
  table_->setGeometry(unitRect(102, 70, 92, 92));
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setShowGrid(false);
  // Position: right-aligned 5 units in, with a border; character: a border; value: none.
  table_->setItemDelegateForColumn(0, new ColumnDelegate(5 * kUnit, true, table_));
  table_->setItemDelegateForColumn(1, new ColumnDelegate(0, true, table_));
  QHeaderView* header = table_->horizontalHeader();
  header->setMinimumSectionSize(8);
  header->setSectionResizeMode(0, QHeaderView::Fixed);
  header->setSectionResizeMode(1, QHeaderView::Interactive);
  header->setSectionResizeMode(2, QHeaderView::Fixed);
  header->resizeSection(0, 21 * kUnit);
  header->resizeSection(1, 25 * kUnit);
  header->resizeSection(2, 20 * kUnit);
  header->setStretchLastSection(true);
  clearTable_ = new QPushButton("Clear", this);
  clearTable_->setGeometry(unitRect(102, 164, 92, 12));
  clearTable_->setAutoDefault(false);
  connect(clearTable_, &QPushButton::clicked, this, &ViewWindow::clearTableSide);
}

void ViewWindow::setTexts() {
  port_.language().languageSection = "view";
  const auto text = [this](const char* key) { return QString::fromStdString(translate(port_.language(), key)); };
  setWindowTitle(text("screen"));
  receiveLabel_->setText(text("receive"));
  receiveLabel_->adjustSize();
  convertLabel_->setText(text("convert"));
  convertLabel_->adjustSize();
  clearText_->setText(text("clear"));
  clearText_->setToolTip(text("clearbufferdata"));
  clearTable_->setText(text("clear"));
  clearTable_->setToolTip(text("clearbufferconvert"));
}

void ViewWindow::clearForOpening() {
  log_.clearText();
  model_->clearRows();
  showText();
}

bool ViewWindow::readOnce() {
  const std::string bytes = readForView(port_);
  if (bytes.empty()) return false;
  const bool textChanges = log_.viewText().size() < ViewLog::kTextCapacity;
  // Follow the new rows only when the user is not looking further up the table.
  const QScrollBar* rows = table_->verticalScrollBar();
  const bool following = rows->value() == rows->maximum();
  model_->appendRead(bytes);
  if (textChanges) showText();
  if (following) table_->scrollToBottom();
  return true;
}

void ViewWindow::showText() {
  textBox_->setPlainText(QString::fromStdString(displayRunningText(log_.viewText())));
  textBox_->verticalScrollBar()->setValue(textBox_->verticalScrollBar()->maximum());
}

void ViewWindow::clearTextSide() {
  log_.clearText();
  showText();
}

void ViewWindow::clearTableSide() { model_->clearRows(); }

void openViewWindow(PortContext port, QWidget* parent) {
  port.language.languageSection = "view";
  if (!mayOpenDiagnostics(port.reception, port.notices, translate(port.language, "screen"))) return;
  ViewWindow window(port, parent);
  window.run();
}

}  // namespace kelvor
