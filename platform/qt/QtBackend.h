// The Qt 6 Widgets window backend: real windows for the forms, the toolkit's
// event processing as the message pump, single-shot timers and modal message
// boxes.
#pragma once

#include <QApplication>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Forms.h"
#include "platform/qt/QtWindowView.h"

// A message box as it was shown.
struct TQtShownMessage {
  std::string Title;
  std::string Text;
  TMsgIcon Icon;
};

class TQtBackend : public TWindowBackend {
 public:
  // Makes the toolkit's application object unless one exists; it takes its
  // own options out of argc and argv, which must outlive the backend.
  TQtBackend(int& argc, char** argv);
  ~TQtBackend() override;
  TQtBackend(const TQtBackend&) = delete;
  TQtBackend& operator=(const TQtBackend&) = delete;

  std::unique_ptr<TWindowView> CreateView(TForm& form) override;
  void ProcessMessages() override;
  void Sleep(uint32_t milliseconds) override;
  void Run(TApplication& application) override;
  // The box waits for its OK button (QMessageBox::exec).
  void MessageBox(const std::string& title, const std::string& text, TMsgIcon icon) override;
  void TimerChanged(TTimer& timer) override;
  void TimerDestroyed(TTimer& timer) override;

  const std::vector<TQtShownMessage>& Messages() const { return FMessages; }

  // The top-level window of the form named `formName` (the shown one when
  // there are two), or nullptr.
  static QWidget* FindWindow(const std::string& formName);

 private:
  void TimerTimeout(TTimer& timer);

  std::unique_ptr<QApplication> FOwnApplication;
  // One single-shot toolkit timer per enabled window timer, started again
  // after each tick while the window timer stays enabled.
  std::map<TTimer*, std::unique_ptr<QTimer, TDeleteLater>> FTimers;
  std::vector<TQtShownMessage> FMessages;
};
