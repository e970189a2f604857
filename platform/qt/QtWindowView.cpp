#include "platform/qt/QtWindowView.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/qt/QtControls.h"

namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// A colour as Windows holds it (0x00BBGGRR); the system and default colours
// come from the palette.
QColor ColorOf(TColor color, const QPalette& palette, QPalette::ColorRole fallback) {
  if (color == clDefault) return palette.color(fallback);
  if (color == clBtnFace) return palette.color(QPalette::Button);
  return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

Qt::WindowFlags FlagsOf(const TWindowDef& def) {
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (def.BorderIcons == TBorderIcons::CloseOnly) flags |= Qt::WindowCloseButtonHint;
  if (def.StayOnTop) flags |= Qt::WindowStaysOnTopHint;
  return flags;
}

QLabel* NewLabel(QWidget& parent, const TControlDef& def) {
  auto* label = new QLabel(&parent);  // owned by its parent widget
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(def.WordWrap);
  label->setAlignment((def.Centered ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
  return label;
}

// A panel: a raised frame whose caption, if any, stands in its middle.
QLabel* NewPanel(QWidget& parent) {
  auto* panel = new QLabel(&parent);
  panel->setTextFormat(Qt::PlainText);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  panel->setAlignment(Qt::AlignCenter);
  return panel;
}

}  // namespace

// --------------------------------------------------------------------- window

TQtWindow::TQtWindow() = default;

void TQtWindow::closeEvent(QCloseEvent* event) {
  // The form decides; it hides the window itself when it closes.
  event->ignore();
  const std::function<void()> request = OnCloseRequest;  // it may free this view
  if (request) request();
}

// ----------------------------------------------------------------------- view

TQtWindowView::TQtWindowView(TForm& form)
    : FForm(form), FWindow(new TQtWindow), FGuard(std::make_unique<QObject>()) {
  const TWindowDef& def = form.Def();
  FWindow->setObjectName(Text(def.Name));
  FWindow->setWindowFlags(FlagsOf(def));
  FWindow->setWindowTitle(Text(def.Caption));
  FWindow->setFixedSize(def.ClientWidth, def.ClientHeight);
  FWindow->setFont(QFont(Text(def.FontName), def.FontSize));
  FWindow->OnCloseRequest = [this] { FForm.CloseBox(); };
  for (const TControlState* control : form.Controls()) {
    const std::string& parent = control->Def.Parent;
    QWidget& parentWidget = parent.empty() ? *FWindow : Widget(parent);
    Build(*control, parentWidget);
  }
}

TQtWindowView::~TQtWindowView() {
  FGuard.reset();
  FWindow->OnCloseRequest = nullptr;
  FWindow->hide();
}

QWidget& TQtWindowView::Widget(const std::string& name) const {
  const auto found = FWidgets.find(name);
  ZASSERT(found != FWidgets.end(), "TQtWindowView: no widget of that name");
  return *found->second;
}

QWidget* TQtWindowView::Build(const TControlState& control, QWidget& parent) {
  const TControlDef& def = control.Def;
  const std::string name = def.Name;
  QWidget* widget = nullptr;
  switch (def.Kind) {
    case TControlKind::Panel:
      widget = NewPanel(parent);
      break;
    case TControlKind::Image:
      widget = new TQtPicture(&parent);
      break;
    case TControlKind::Label:
      widget = NewLabel(parent, def);
      break;
    case TControlKind::Button: {
      auto* button = new QPushButton(&parent);
      QObject::connect(button, &QPushButton::clicked, FGuard.get(),
                       [this, name] { FForm.Click(name); });
      widget = button;
      break;
    }
    case TControlKind::Edit: {
      auto* edit = new QLineEdit(&parent);
      edit->setReadOnly(def.ReadOnly);
      QObject::connect(edit, &QLineEdit::textEdited, FGuard.get(),
                       [this, name](const QString& text) {
                         if (!FUpdating) FForm.SetCaption(name, text.toStdString());
                       });
      widget = edit;
      break;
    }
    case TControlKind::CheckBox: {
      auto* check = new QCheckBox(&parent);
      check->setChecked(def.Checked);
      widget = check;
      break;
    }
    case TControlKind::Gauge:
    case TControlKind::Meter:
      widget = new TQtGauge(&parent, def.Kind == TControlKind::Gauge, Text(def.Suffix));
      break;
    case TControlKind::FileList:
      widget = new QListWidget(&parent);
      break;
    case TControlKind::Grid: {
      auto* grid = new TQtGrid(&parent);
      QObject::connect(grid, &QTableWidget::currentCellChanged, FGuard.get(),
                       [this, name](int row, int, int previousRow, int) {
                         if (FUpdating || row < 0 || row == previousRow) return;
                         FForm.SelectRow(name, row + 1);
                         ShowCurrentRow(FForm.Control(name));
                       });
      widget = grid;
      break;
    }
    case TControlKind::FolderTree: {
      auto* tree = new TQtFolderTree(&parent);
      QObject::connect(tree, &QTreeWidget::currentItemChanged, FGuard.get(),
                       [this, name](QTreeWidgetItem* current, QTreeWidgetItem*) {
                         if (FUpdating || !current) return;
                         FForm.SelectFolder(name, TQtFolderTree::PathOf(*current));
                         ShowFolder(FForm.Control(name));
                       });
      widget = tree;
      break;
    }
  }
  widget->setObjectName(Text(name));
  FWidgets[name] = widget;
  widget->setGeometry(control.Left, control.Top, def.Width, def.Height);
  Style(*widget, def);
  FUpdating = true;
  ShowCaption(control);
  ShowGauge(control);
  FUpdating = false;
  widget->setVisible(control.Visible);
  return widget;
}

void TQtWindowView::Style(QWidget& widget, const TControlDef& def) {
  if (!def.FontName.empty() || def.FontSize > 0 || def.Bold) {
    QFont font = widget.font();
    if (!def.FontName.empty()) font.setFamily(Text(def.FontName));
    if (def.FontSize > 0) font.setPointSize(def.FontSize);
    font.setBold(def.Bold);
    widget.setFont(font);
  }
  QPalette colours = widget.palette();
  if (def.FontColor != clDefault) {
    const QColor text = ColorOf(def.FontColor, colours, QPalette::WindowText);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      colours.setColor(role, text);
  }
  if (auto* gauge = dynamic_cast<TQtGauge*>(&widget)) {
    gauge->SetColors(ColorOf(def.ForeColor, colours, QPalette::Highlight),
                     ColorOf(def.BackColor, colours, QPalette::Base));
  } else if (def.BackColor != clDefault) {
    colours.setColor(QPalette::Window, ColorOf(def.BackColor, colours, QPalette::Window));
    colours.setColor(QPalette::Base, ColorOf(def.BackColor, colours, QPalette::Base));
    widget.setAutoFillBackground(true);
  }
  widget.setPalette(colours);
}

// ------------------------------------------------------------ window as whole

void TQtWindowView::Show() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    FWindow->move(area.center() - QPoint(FWindow->width() / 2, FWindow->height() / 2));
  }
  FWindow->show();
  if (QGuiApplication::platformName() != "offscreen") {  // which cannot raise windows
    FWindow->raise();
    FWindow->activateWindow();
  }
}

void TQtWindowView::Hide() {
  FWindow->hide();
}

// -------------------------------------------------------------------- changes

void TQtWindowView::Changed(const TControlState& control, TChange change) {
  FUpdating = true;
  switch (change) {
    case TChange::Visible:
      Widget(control.Def.Name).setVisible(control.Visible);
      break;
    case TChange::Caption:
      ShowCaption(control);
      break;
    case TChange::Position:
      Widget(control.Def.Name).move(control.Left, control.Top);
      break;
    case TChange::Gauge:
      ShowGauge(control);
      break;
    case TChange::GridRows:
      ShowRows(control);
      break;
    case TChange::GridCurrent:
      ShowCurrentRow(control);
      break;
    case TChange::Folder:
      ShowFolder(control);
      break;
  }
  FUpdating = false;
}

void TQtWindowView::ShowCaption(const TControlState& control) {
  QWidget& widget = Widget(control.Def.Name);
  const QString caption = Text(control.Caption);
  if (auto* label = qobject_cast<QLabel*>(&widget)) {
    label->setText(caption);
    FitLabel(control);
  } else if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
    button->setText(caption);
  } else if (auto* edit = qobject_cast<QLineEdit*>(&widget)) {
    edit->setText(caption);
    edit->setCursorPosition(0);
  }
}

// Labels grow to their text, as the original's self-sizing labels do:
// word-wrapped ones in height only.
void TQtWindowView::FitLabel(const TControlState& control) {
  const TControlDef& def = control.Def;
  if (def.Kind != TControlKind::Label) return;
  auto& label = static_cast<QLabel&>(Widget(def.Name));
  if (def.WordWrap) {
    label.resize(def.Width, std::max(def.Height, label.heightForWidth(def.Width)));
  } else {
    const QSize hint = label.sizeHint();
    label.resize(std::max(def.Width, hint.width()), std::max(def.Height, hint.height()));
  }
}

void TQtWindowView::ShowGauge(const TControlState& control) {
  if (auto* gauge = dynamic_cast<TQtGauge*>(&Widget(control.Def.Name)))
    gauge->SetValues(control.GaugePosition, control.GaugeMax);
}

void TQtWindowView::ShowRows(const TControlState& control) {
  auto& grid = static_cast<TQtGrid&>(Widget(control.Def.Name));
  std::vector<QString> titles;
  std::vector<int> widths;
  for (const TGridColumn& column : control.Columns) {
    titles.push_back(Text(column.Title));
    widths.push_back(column.Width);
  }
  grid.SetColumns(titles, widths);

  std::vector<std::vector<QString>> cells;
  std::vector<QColor> colours;
  int current = -1;
  TMemTable* table = control.Table;
  if (table && table->Active() && table->State() == dsBrowse) {
    // Read through the table's cursor, which is put back afterwards.
    current = table->RecNo();
    for (int row = 1; row <= table->RecordCount(); ++row) {
      table->SetRecNo(row);
      std::vector<QString> texts;
      for (const TGridColumn& column : control.Columns)
        texts.push_back(Text(table->FieldByName(column.FieldName).AsString()));
      cells.push_back(std::move(texts));
      colours.push_back(
          ColorOf(FForm.CellColor(control.Def.Name, row), grid.palette(), QPalette::Base));
    }
    if (current > 0) table->SetRecNo(current);
  }
  grid.SetRows(cells, colours, current - 1);
}

void TQtWindowView::ShowCurrentRow(const TControlState& control) {
  const bool updating = FUpdating;
  FUpdating = true;
  auto& grid = static_cast<TQtGrid&>(Widget(control.Def.Name));
  const TMemTable* table = control.Table;
  grid.SetCurrentRow(table && table->Active() ? table->RecNo() - 1 : -1);
  FUpdating = updating;
}

void TQtWindowView::ShowFolder(const TControlState& control) {
  const bool updating = FUpdating;
  FUpdating = true;
  auto& tree = static_cast<TQtFolderTree&>(Widget(control.Def.Name));
  if (!control.Folder.empty()) tree.SelectPath(control.Folder);
  FUpdating = updating;
}
