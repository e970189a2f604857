#include "platform/qt/QtControls.h"

#include <QDir>
#include <QHeaderView>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/DriveMap.h"

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kIndent = 19;

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// The sub-folders of a host folder, hidden ones left out, sorted by name
// without regard to case.
QStringList SubFolders(const std::string& hostPath) {
  QStringList names = QDir(Text(hostPath)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  return names;
}

// A database drum with two bands.
void DrawCylinder(QPainter& painter, const QRectF& box) {
  const qreal lid = box.height() / 5;
  QLinearGradient body(box.topLeft(), box.topRight());
  body.setColorAt(0, QColor(170, 190, 215));
  body.setColorAt(0.5, QColor(235, 240, 248));
  body.setColorAt(1, QColor(140, 160, 190));
  QPainterPath path;
  path.moveTo(box.left(), box.top() + lid / 2);
  path.lineTo(box.left(), box.bottom() - lid / 2);
  path.arcTo(QRectF(box.left(), box.bottom() - lid, box.width(), lid), 180, 180);
  path.lineTo(box.right(), box.top() + lid / 2);
  path.arcTo(QRectF(box.left(), box.top(), box.width(), lid), 0, -180);
  painter.setPen(QPen(QColor(60, 75, 105), 1.2));
  painter.setBrush(body);
  painter.drawPath(path);
  painter.setBrush(QColor(220, 228, 240));
  painter.drawEllipse(QRectF(box.left(), box.top(), box.width(), lid));
  painter.setBrush(Qt::NoBrush);
  for (int band = 1; band <= 2; ++band) {
    const qreal y = box.top() + band * (box.height() - lid) / 3;
    painter.drawArc(QRectF(box.left(), y, box.width(), lid), 180 * 16, 180 * 16);
  }
}

void DrawArrow(QPainter& painter, const QPointF& top, qreal length) {
  const qreal half = length / 4;
  QPolygonF arrow;
  arrow << QPointF(top.x() - half / 2, top.y()) << QPointF(top.x() + half / 2, top.y())
        << QPointF(top.x() + half / 2, top.y() + length * 0.55)
        << QPointF(top.x() + half, top.y() + length * 0.55) << QPointF(top.x(), top.y() + length)
        << QPointF(top.x() - half, top.y() + length * 0.55)
        << QPointF(top.x() - half / 2, top.y() + length * 0.55);
  painter.setPen(QPen(QColor(20, 90, 30), 1));
  painter.setBrush(QColor(90, 200, 90));
  painter.drawPolygon(arrow);
}

// A closed archive box with a zip running down its front.
void DrawArchive(QPainter& painter, const QRectF& box) {
  QLinearGradient body(box.topLeft(), box.bottomLeft());
  body.setColorAt(0, QColor(250, 215, 120));
  body.setColorAt(1, QColor(215, 160, 60));
  painter.setPen(QPen(QColor(110, 75, 20), 1.2));
  painter.setBrush(body);
  painter.drawRoundedRect(box, 4, 4);
  const qreal x = box.center().x();
  painter.setPen(QPen(QColor(90, 90, 90), 1));
  for (qreal y = box.top() + 4; y < box.bottom() - 4; y += 4) {
    painter.drawLine(QPointF(x - 3, y), QPointF(x + 3, y));
  }
  painter.setBrush(QColor(120, 120, 120));
  painter.drawRect(QRectF(x - 4, box.bottom() - 12, 8, 8));
}

}  // namespace

// ---------------------------------------------------------------------- gauge

TQtGauge::TQtGauge(QWidget* parent, bool showText, const QString& suffix)
    : QWidget(parent), FShowText(showText), FSuffix(suffix) {}

void TQtGauge::SetColors(const QColor& filled, const QColor& empty) {
  FFilled = filled;
  FEmpty = empty;
  update();
}

void TQtGauge::SetValues(int position, int maximum) {
  FPosition = position;
  FMaximum = maximum;
  update();
}

int TQtGauge::Percent() const {
  if (FMaximum <= 0) return 0;
  return int(std::clamp<int64_t>(int64_t(FPosition) * 100 / FMaximum, 0, 100));
}

void TQtGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect inner = rect().adjusted(1, 1, -1, -1);
  const int filledWidth =
      FMaximum > 0 ? int(std::clamp<int64_t>(int64_t(inner.width()) * FPosition / FMaximum, 0,
                                             inner.width()))
                   : 0;
  const QRect filled(inner.left(), inner.top(), filledWidth, inner.height());
  painter.fillRect(inner, FEmpty);
  painter.fillRect(filled, FFilled);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  if (!FShowText) return;
  // The text is light over the filled part and dark over the rest.
  const QString text = QString::number(Percent()) + FSuffix;
  painter.setClipRect(filled);
  painter.setPen(Qt::white);
  painter.drawText(inner, Qt::AlignCenter, text);
  painter.setClipRect(QRect(filled.right() + 1, inner.top(), inner.width(), inner.height()));
  painter.setPen(Qt::black);
  painter.drawText(inner, Qt::AlignCenter, text);
}

// -------------------------------------------------------------------- picture

TQtPicture::TQtPicture(QWidget* parent) : QWidget(parent) {}

void TQtPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area = rect();
  QLinearGradient ground(area.topLeft(), area.bottomLeft());
  ground.setColorAt(0, QColor(43, 53, 77));
  ground.setColorAt(1, QColor(95, 125, 170));
  painter.fillRect(area, ground);

  const qreal w = area.width();
  const qreal h = area.height();
  DrawCylinder(painter, QRectF(w * 0.25, h * 0.08, w * 0.5, h * 0.28));
  DrawArrow(painter, QPointF(w * 0.5, h * 0.40), h * 0.18);
  DrawArchive(painter, QRectF(w * 0.22, h * 0.62, w * 0.56, h * 0.22));
}

// ----------------------------------------------------------------------- grid

TQtGrid::TQtGrid(QWidget* parent) : QTableWidget(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  verticalHeader()->hide();
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The selected row looks the same with and without the focus.
  QPalette colours = palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
  }
  setPalette(colours);
}

void TQtGrid::SetColumns(const std::vector<QString>& titles, const std::vector<int>& widths) {
  setColumnCount(int(titles.size()));
  QStringList labels;
  for (const QString& title : titles) labels << title;
  setHorizontalHeaderLabels(labels);
  FWidths = widths;
  FitColumns();
}

void TQtGrid::SetRows(const std::vector<std::vector<QString>>& cells,
                      const std::vector<QColor>& colors, int current) {
  clearContents();
  setRowCount(int(cells.size()));
  for (int row = 0; row < int(cells.size()); ++row) {
    for (int column = 0; column < int(cells[row].size()); ++column) {
      auto item = std::make_unique<QTableWidgetItem>(cells[row][column]);
      item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
      item->setBackground(colors[row]);
      setItem(row, column, item.release());  // the table owns its items
    }
  }
  SetCurrentRow(current);
}

void TQtGrid::SetCurrentRow(int current) {
  if (current < 0 || current >= rowCount()) {
    clearSelection();
    setCurrentItem(nullptr);
    return;
  }
  setCurrentCell(current, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollToItem(item(current, 0));
}

void TQtGrid::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  FitColumns();
}

void TQtGrid::FitColumns() {
  int total = 0;
  for (int width : FWidths) total += width;
  if (total <= 0) return;
  const int available = viewport()->width();
  int used = 0;
  for (int column = 0; column < int(FWidths.size()) && column < columnCount(); ++column) {
    const bool last = column + 1 == int(FWidths.size());
    const int width = last ? available - used : FWidths[column] * available / total;
    setColumnWidth(column, width);
    used += width;
  }
}

// ---------------------------------------------------------------------- tree

TQtFolderTree::TQtFolderTree(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setIndentation(kIndent);
  setFrameShape(QFrame::NoFrame);
  setSelectionMode(QAbstractItemView::SingleSelection);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, Qt::white);
  setPalette(colours);
  connect(this, &QTreeWidget::itemExpanded, this,
          [this](QTreeWidgetItem* item) { Populate(*item); });
  AddDrives();
}

std::string TQtFolderTree::PathOf(const QTreeWidgetItem& item) {
  return item.data(0, kPathRole).toString().toStdString();
}

void TQtFolderTree::AddDrives() {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::optional<std::string> root = DriveRoot(letter);
    if (!root || !QDir(Text(*root)).exists()) continue;
    const QString name = QString(QChar(letter)) + ":";
    auto drive = std::make_unique<QTreeWidgetItem>(QStringList{name});
    drive->setData(0, kPathRole, name + "\\");
    drive->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
    drive->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    addTopLevelItem(drive.release());  // the tree owns its items
  }
}

void TQtFolderTree::Populate(QTreeWidgetItem& item) {
  const std::string path = PathOf(item);
  const QStringList names = SubFolders(HostPathOf(path));
  // Vanished folders go; the rest stay, so a selected node survives a refresh.
  for (int index = item.childCount() - 1; index >= 0; --index) {
    if (!names.contains(item.child(index)->text(0))) delete item.takeChild(index);
  }
  const QString prefix = Text(path.back() == '\\' ? path : path + "\\");
  for (int index = 0; index < names.size(); ++index) {
    if (index < item.childCount() && item.child(index)->text(0) == names[index]) continue;
    auto folder = std::make_unique<QTreeWidgetItem>(QStringList{names[index]});
    folder->setData(0, kPathRole, prefix + names[index]);
    folder->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    folder->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    item.insertChild(index, folder.release());
  }
  if (item.childCount() == 0)
    item.setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* TQtFolderTree::Child(QTreeWidgetItem* parent, const QString& name) {
  const int count = parent ? parent->childCount() : topLevelItemCount();
  for (int index = 0; index < count; ++index) {
    QTreeWidgetItem* child = parent ? parent->child(index) : topLevelItem(index);
    if (QString::compare(child->text(0), name, Qt::CaseInsensitive) == 0) return child;
  }
  return nullptr;
}

bool TQtFolderTree::SelectPath(const std::string& windowsPath) {
  const QStringList parts = Text(windowsPath).split('\\', Qt::SkipEmptyParts);
  QTreeWidgetItem* item = nullptr;
  for (const QString& part : parts) {
    if (item && !item->isExpanded()) item->setExpanded(true);  // reads the children
    QTreeWidgetItem* child = Child(item, part);
    if (!child && item) {
      Populate(*item);
      child = Child(item, part);
    }
    if (!child) return false;
    item = child;
  }
  if (!item) return false;
  setCurrentItem(item);
  scrollToItem(item);
  return true;
}
