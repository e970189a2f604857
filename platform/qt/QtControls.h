// Widgets of our own for the Qt window backend: the percentage gauge and bar
// meter, the left panel's picture, the backup list grid and the folder tree
// whose roots are the mapped drives.
#pragma once

#include <QColor>
#include <QString>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWidget>
#include <string>
#include <vector>

// A horizontal bar filled to position / maximum; with `showText` the
// percentage and a suffix are written across it.
class TQtGauge : public QWidget {
 public:
  TQtGauge(QWidget* parent, bool showText, const QString& suffix);
  void SetColors(const QColor& filled, const QColor& empty);
  void SetValues(int position, int maximum);
  int Percent() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool FShowText;
  QString FSuffix;
  QColor FFilled;
  QColor FEmpty;
  int FPosition = 0;
  int FMaximum = 100;
};

// The left panel's picture, drawn here: a database, an arrow and an archive
// box on a dark blue ground.
class TQtPicture : public QWidget {
 public:
  explicit TQtPicture(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A read-only list with column titles, whole-row selection that stays
// visible without focus, one background colour per row, and columns scaled
// to fill the width.
class TQtGrid : public QTableWidget {
 public:
  explicit TQtGrid(QWidget* parent);
  void SetColumns(const std::vector<QString>& titles, const std::vector<int>& widths);
  // `cells[row][column]`; `current` counts from 0, -1 for none.
  void SetRows(const std::vector<std::vector<QString>>& cells, const std::vector<QColor>& colors,
               int current);
  void SetCurrentRow(int current);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitColumns();

  std::vector<int> FWidths;
};

// Folders only, the mapped drives as roots ("C:", "Z:"), children read when a
// node is expanded (and read again on every expansion, so the tree follows
// the disk). Hidden folders are left out. Every node knows its Windows path.
class TQtFolderTree : public QTreeWidget {
 public:
  explicit TQtFolderTree(QWidget* parent);
  // Expands the way to `windowsPath` ("C:\Zelvora\Yedek", "C:\") and makes it
  // current; false when a part of it is not in the tree.
  bool SelectPath(const std::string& windowsPath);
  // The Windows path of a node: "C:\" for a drive, "C:\Zelvora" below it.
  static std::string PathOf(const QTreeWidgetItem& item);

 private:
  void AddDrives();
  void Populate(QTreeWidgetItem& item);
  QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& name);
};
