#include "platform/qt/QtBackend.h"

#include <QFont>
#include <QMessageBox>
#include <QStyleFactory>

#include "platform/Clock.h"

namespace {

// The Windows fonts of the window definitions, by metric-compatible free
// fonts that also have the Turkish letters.
void SubstituteFonts() {
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "DejaVu Sans"});
  QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
  QFont::insertSubstitutions("Times New Roman", {"Liberation Serif", "DejaVu Serif"});
}

QMessageBox::Icon IconOf(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Stop:
      return QMessageBox::Critical;
    case TMsgIcon::Warning:
      return QMessageBox::Warning;
    case TMsgIcon::Information:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

// Windows that went away during a handler are deleted here, between events.
void DeleteReleasedWindows() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

TQtBackend::TQtBackend(int& argc, char** argv) {
  if (!QApplication::instance()) FOwnApplication = std::make_unique<QApplication>(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
  SubstituteFonts();
}

TQtBackend::~TQtBackend() {
  FTimers.clear();
  DeleteReleasedWindows();
}

std::unique_ptr<TWindowView> TQtBackend::CreateView(TForm& form) {
  return std::make_unique<TQtWindowView>(form);
}

void TQtBackend::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TQtBackend::Sleep(uint32_t milliseconds) {
  Clock().Sleep(milliseconds);
}

void TQtBackend::Run(TApplication& application) {
  while (!application.Terminated()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    DeleteReleasedWindows();
  }
  DeleteReleasedWindows();
}

void TQtBackend::MessageBox(const std::string& title, const std::string& text, TMsgIcon icon) {
  FMessages.push_back({title, text, icon});
  QMessageBox box(IconOf(icon), QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.setObjectName("MessageBox");
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void TQtBackend::TimerChanged(TTimer& timer) {
  auto found = FTimers.find(&timer);
  if (!timer.Enabled()) {
    if (found != FTimers.end()) found->second->stop();
    return;
  }
  if (found == FTimers.end()) {
    std::unique_ptr<QTimer, TDeleteLater> tick(new QTimer);
    tick->setSingleShot(true);
    TTimer* key = &timer;
    QObject::connect(tick.get(), &QTimer::timeout, tick.get(), [this, key] { TimerTimeout(*key); });
    found = FTimers.emplace(key, std::move(tick)).first;
  }
  found->second->start(int(timer.Interval()));
}

void TQtBackend::TimerTimeout(TTimer& timer) {
  TTimer* key = &timer;
  timer.Fire();
  // The handler may have disabled, re-armed or destroyed the window timer.
  const auto found = FTimers.find(key);
  if (found != FTimers.end() && key->Enabled() && !found->second->isActive())
    found->second->start(int(key->Interval()));
}

void TQtBackend::TimerDestroyed(TTimer& timer) {
  const auto found = FTimers.find(&timer);
  if (found == FTimers.end()) return;
  found->second->stop();
  FTimers.erase(found);
}

QWidget* TQtBackend::FindWindow(const std::string& formName) {
  // A window that closed may still wait for deletion beside a new one of the
  // same form: the shown one comes first.
  const QString name = QString::fromStdString(formName);
  QWidget* hidden = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() != name) continue;
    if (widget->isVisible()) return widget;
    hidden = widget;
  }
  return hidden;
}
