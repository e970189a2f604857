// One window of the Qt backend: the widgets of a TForm's controls, built from
// the form's definition, kept in step with the form's state, and forwarding
// the user's clicks, row and folder choices and close box to the form.
#pragma once

#include <QObject>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/Forms.h"

// The top-level widget; a close request from the window system goes to
// OnCloseRequest instead of closing it.
class TQtWindow : public QWidget {
 public:
  TQtWindow();
  std::function<void()> OnCloseRequest;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

// Deletes a Qt object once the event being handled is over: a window may be
// freed from the handler of one of its own buttons.
struct TDeleteLater {
  void operator()(QObject* object) const { object->deleteLater(); }
};

class TQtWindowView : public TWindowView {
 public:
  explicit TQtWindowView(TForm& form);
  ~TQtWindowView() override;

  void Show() override;
  void Hide() override;
  void Changed(const TControlState& control, TChange change) override;

  QWidget& Window() { return *FWindow; }

 private:
  QWidget* Build(const TControlState& control, QWidget& parent);
  void Style(QWidget& widget, const TControlDef& def);
  void ShowCaption(const TControlState& control);
  void ShowGauge(const TControlState& control);
  void ShowRows(const TControlState& control);
  void ShowCurrentRow(const TControlState& control);
  void ShowFolder(const TControlState& control);
  void FitLabel(const TControlState& control);
  QWidget& Widget(const std::string& name) const;

  TForm& FForm;
  std::unique_ptr<TQtWindow, TDeleteLater> FWindow;
  // Context of every connection to the form: freeing it cuts them all, so
  // a window waiting for deletion can no longer reach a freed form.
  std::unique_ptr<QObject> FGuard;
  std::map<std::string, QWidget*> FWidgets;  // owned by their parent widgets
  bool FUpdating = false;                    // the view itself changes a widget: no event back
};
