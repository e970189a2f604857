// The real windows under test: the Qt backend (QT_QPA_PLATFORM=offscreen from
// ctest), a temporary drive C: holding the suite's folders, a virtual clock
// for the runs' pauses, a recording `net`, real mouse clicks, an answerer
// for the modal error box, and screenshots.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "desktop/KlasoreGozatFormUnit.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/qt/QtBackend.h"
#include "tests/support/TestSupport.h"

// Where the tests leave their screenshots: $ZELVORA_SCREENSHOT_DIR, else
// "screenshots" in the working directory.
inline std::string ScreenshotPath(const std::string& name) {
  const char* folder = std::getenv("ZELVORA_SCREENSHOT_DIR");
  const std::filesystem::path dir = folder && *folder ? folder : "screenshots";
  std::filesystem::create_directories(dir);
  return (dir / (name + ".png")).string();
}

// A window's client area under a plain title bar with its title (the
// offscreen platform draws no window frames).
inline QImage WithTitleBar(const QImage& client, const QString& title) {
  constexpr int kBar = 22;
  QImage framed(client.width() + 2, client.height() + kBar + 1, QImage::Format_RGB32);
  framed.fill(QColor(43, 53, 77));
  QPainter painter(&framed);
  painter.drawImage(1, kBar, client);
  painter.setPen(Qt::white);
  QFont font("DejaVu Sans", 9);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(8, 0, framed.width() - 16, kBar), Qt::AlignVCenter | Qt::AlignLeft, title);
  return framed;
}

// Saves what `widget` shows as a PNG (a window with its title bar); returns
// the client image for checks.
inline QImage SaveScreenshot(QWidget& widget, const std::string& name) {
  QApplication::processEvents();
  const QImage image = widget.grab().toImage();
  const QImage saved = widget.isWindow() ? WithTitleBar(image, widget.windowTitle()) : image;
  EXPECT_TRUE(saved.save(QString::fromStdString(ScreenshotPath(name)), "PNG")) << name;
  return image;
}

// Answers every modal message box with a click on OK, after saving a
// screenshot of the first one when given a name.
class TBoxAnswerer {
 public:
  explicit TBoxAnswerer(std::string screenshot = "") : FScreenshot(std::move(screenshot)) {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Answer(); });
    FTimer.start();
  }
  struct TBox {
    std::string Title;
    std::string Text;
    QMessageBox::Icon Icon;
    QSize Size;
  };
  const std::vector<TBox>& Boxes() const { return FBoxes; }

 private:
  void Answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    FBoxes.push_back(
        {box->windowTitle().toStdString(), box->text().toStdString(), box->icon(), box->size()});
    if (!FScreenshot.empty()) SaveScreenshot(*box, FScreenshot);
    FScreenshot.clear();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  }

  std::string FScreenshot;
  QTimer FTimer;
  std::vector<TBox> FBoxes;
};

class QtTest : public ::testing::Test {
 protected:
  QtTest() : Clock(EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 30, 0)), Net(Drive) {
    // Run directly (not by ctest), the suite still draws nowhere.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    SetClock(&Clock);
    Backend = std::make_unique<TQtBackend>(Argc, Argv);
  }
  ~QtTest() override { SetClock(nullptr); }

  void MakeSuiteFolders() {
    Drive.MakeFolder("Zelvora/Data");
    Drive.MakeFolder("Zelvora/Yedek");
  }

  static QWidget& Window(const std::string& form) {
    QWidget* window = TQtBackend::FindWindow(form);
    if (!window) throw std::runtime_error("no window " + form);
    return *window;
  }
  template <class W = QWidget>
  static W& Child(const std::string& form, const std::string& name) {
    W* widget = Window(form).findChild<W*>(QString::fromStdString(name));
    if (!widget) throw std::runtime_error("no widget " + form + "." + name);
    return *widget;
  }
  // A real mouse click on a shown button.
  static void Click(const std::string& form, const std::string& button) {
    QTest::mouseClick(&Child<QAbstractButton>(form, button), Qt::LeftButton);
    QApplication::processEvents();
  }
  // The user opens the way to `path` (parts under a drive) and clicks its node.
  static void ClickFolder(QTreeWidget& tree, const std::vector<QString>& path) {
    QTreeWidgetItem* item = nullptr;
    for (const QString& part : path) {
      QTreeWidgetItem* found = nullptr;
      const int count = item ? item->childCount() : tree.topLevelItemCount();
      for (int i = 0; i < count && !found; ++i) {
        QTreeWidgetItem* child = item ? item->child(i) : tree.topLevelItem(i);
        if (child->text(0) == part) found = child;
      }
      ASSERT_NE(found, nullptr) << part.toStdString();
      item = found;
      if (&part != &path.back()) item->setExpanded(true);
    }
    tree.scrollToItem(item);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                      tree.visualItemRect(item).center());
    QApplication::processEvents();
  }

  static inline int Argc = 1;
  static inline char Arg0[] = "qt_tests";
  static inline char* Argv[] = {Arg0, nullptr};

  TTempDrive Drive;
  TVirtualClock Clock;
  TRecordingNet Net;
  std::unique_ptr<TQtBackend> Backend;
};
