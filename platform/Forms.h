// Window operations. The wizard windows describe their controls once and keep
// every control's state (caption or text, visibility, gauge values, bound grid,
// selected folder) in TForm; a backend only draws that state and forwards the
// user's clicks. Two backends implement TWindowBackend: the headless one of
// platform/HeadlessForms.h and a real widget set.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/MemTable.h"

// Colour as Windows holds it: 0x00BBGGRR.
using TColor = uint32_t;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNavy = 0x800000;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBtnFace = 0xFF00000F;  // the system's button-face colour
constexpr TColor clDefault = 0x20000000;  // the backend's own choice

enum class TControlKind {
  Panel,
  Image,
  Label,
  Button,
  Edit,
  CheckBox,
  Gauge,  // percentage gauge with its text
  Meter,  // bar meter without text
  FileList,
  Grid,
  FolderTree,
};

// What a window looks like; the backend lays the controls out from it.
struct TControlDef {
  std::string Name;
  TControlKind Kind = TControlKind::Label;
  std::string Parent;   // empty: the window's client area
  std::string Caption;  // caption or text; lines are separated by '\n'
  bool Visible = true;
  int Left = 0, Top = 0, Width = 0, Height = 0;
  std::string FontName;  // empty: the window's font
  int FontSize = 0;      // points; 0: the window's
  bool Bold = false;
  TColor FontColor = clDefault;
  TColor ForeColor = clDefault;  // filled part of gauges and meters
  TColor BackColor = clDefault;  // background; empty part of gauges and meters
  bool WordWrap = false;
  bool Centered = false;
  bool ReadOnly = false;
  bool Checked = false;
  std::string Suffix;  // text after a gauge's percentage
};

enum class TBorderIcons { None, CloseOnly };

struct TWindowDef {
  std::string Name;  // "AnaForm", "KlasoreGozatForm"
  std::string Caption;
  int ClientWidth = 0, ClientHeight = 0;
  TBorderIcons BorderIcons = TBorderIcons::None;
  bool StayOnTop = false;
  std::string DefaultButton;  // the button that confirms the window ("Tamam")
  std::string FontName = "MS Sans Serif";
  int FontSize = 8;
  std::vector<TControlDef> Controls;
};

struct TGridColumn {
  std::string FieldName;
  std::string Title;
  int Width = 0;
};

enum class TMsgIcon { Stop, Warning, Information };

// The state of one control, as the form holds it.
struct TControlState {
  TControlDef Def;
  std::string Caption;
  bool Visible = true;
  int Left = 0, Top = 0;
  int GaugeMax = 100;
  int GaugePosition = 0;
  std::string Folder;          // folder tree: the selected folder (Windows path)
  TMemTable* Table = nullptr;  // grid: the bound table, not owned
  std::vector<TGridColumn> Columns;
};

// What changed, for a view to redraw.
enum class TChange { Visible, Caption, Position, Gauge, GridRows, GridCurrent, Folder };

class TForm;
class TTimer;
class TApplication;

// One window as a backend draws it. The form tells it every change.
class TWindowView {
 public:
  virtual ~TWindowView() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual void Changed(const TControlState& control, TChange change) = 0;
};

class TWindowBackend {
 public:
  virtual ~TWindowBackend() = default;
  // A view of `form` (not shown yet); it lives as long as the form.
  virtual std::unique_ptr<TWindowView> CreateView(TForm& form) = 0;
  // Handles the window messages that are pending, then returns.
  virtual void ProcessMessages() = 0;
  // Blocks the window's thread for `milliseconds`, through Clock().
  virtual void Sleep(uint32_t milliseconds) = 0;
  // The message loop: runs until application.Terminated().
  virtual void Run(TApplication& application) = 0;
  // A modal message box with an OK button.
  virtual void MessageBox(const std::string& title, const std::string& text, TMsgIcon icon) = 0;
  // A timer was enabled, disabled or given another interval; or is going away.
  virtual void TimerChanged(TTimer& timer) = 0;
  virtual void TimerDestroyed(TTimer& timer) = 0;
};

// The exception's message with a full stop added when it does not already end in one.
std::string ExceptionBoxText(const std::exception& e);

// The program: its title, its windows, its message loop and the standard error box.
class TApplication {
 public:
  // `exeName` (argv[0]) gives the default title: the file name up to its first
  // dot, every character after the first in lower case.
  TApplication(TWindowBackend& backend, const std::string& exeName);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  TWindowBackend& Backend() { return FBackend; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& title) { FTitle = title; }

  // The first form created is the main window; closing it ends the program.
  TForm* MainForm() const { return FMainForm; }
  bool Terminated() const { return FTerminated; }
  void Terminate() { FTerminated = true; }

  // Shows the main window, unless it closed while being created, and runs
  // the message loop until it closes.
  void Run();
  void ProcessMessages() { FBackend.ProcessMessages(); }
  void Sleep(uint32_t milliseconds) { FBackend.Sleep(milliseconds); }

  // Runs an event handler; an exception leaving it goes to the standard
  // error box and the loop carries on. Released forms are freed afterwards
  // unless another handler is still running beneath this one.
  void HandleEvent(const std::function<void()>& handler);
  // The standard error box: stop icon, titled with the application title.
  void ShowException(const std::exception& e);
  // Frees `form` once no event handler runs any more (a form may release
  // itself from its own handler).
  void Release(std::unique_ptr<TForm> form);

 private:
  friend class TForm;
  void FormCreated(TForm& form);
  void FormDestroyed(TForm& form);
  void FreeReleased();

  TWindowBackend& FBackend;
  std::string FTitle;
  TForm* FMainForm = nullptr;
  bool FTerminated = false;
  int FEventDepth = 0;
  std::vector<std::unique_ptr<TForm>> FReleased;
};

// A window: its controls' state and the handlers of their events.
// Operations on a control that the window does not have raise EAssertionFailed.
class TForm {
 public:
  TForm(TApplication& application, TWindowDef def);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  TApplication& Application() { return FApplication; }
  const TWindowDef& Def() const { return FDef; }
  const std::string& Name() const { return FDef.Name; }

  // The window as a whole.
  void Show();
  // Hides the window and calls FormClose; closing the main window ends the
  // program once the running handler returns. Closing a closed window does nothing.
  void Close();
  bool Showing() const { return FShowing; }
  bool Closed() const { return FClosed; }

  // Controls, in the order of the window's definition.
  bool HasControl(const std::string& name) const;
  const TControlState& Control(const std::string& name) const;
  std::vector<const TControlState*> Controls() const;
  // Visible itself and inside visible panels (the window may still be hidden).
  bool ControlShowing(const std::string& name) const;

  bool Visible(const std::string& name) const { return Control(name).Visible; }
  void SetVisible(const std::string& name, bool visible);
  // Caption of labels, buttons and panels; text of edit boxes.
  const std::string& Caption(const std::string& name) const { return Control(name).Caption; }
  void SetCaption(const std::string& name, const std::string& caption);
  void SetPosition(const std::string& name, int left, int top);
  void SetGaugeMax(const std::string& name, int maximum);
  void SetGaugePosition(const std::string& name, int position);

  // A grid shows the bound table (not owned; it must outlive the binding),
  // one row per record; the table's current record is the current row.
  void BindGrid(const std::string& name, TMemTable& table, std::vector<TGridColumn> columns);
  // The bound table's records or current record changed: the grid redraws.
  void GridChanged(const std::string& name);
  // Background colour of a row (from 1); the window's OnGetCellColor decides.
  TColor CellColor(const std::string& grid, int row) const;

  // Folder tree: selects `folder` (a Windows path); a folder that does not
  // exist raises EInvalidPath. SelectedFolder gives the selected folder's full path.
  void SetSelectedFolder(const std::string& tree, const std::string& folder);
  const std::string& SelectedFolder(const std::string& tree) const;

  // Events from the backend, each run through TApplication::HandleEvent.
  // A user's click reaches only a shown button of a shown window: false when
  // the control is missing, hidden or no button.
  bool Click(const std::string& name);
  // A click made by the program: runs the handler also when the button is
  // hidden; its exceptions go to the caller, abandoning the calling handler.
  void Press(const std::string& name);
  // The user makes row `row` (from 1) of a grid current: false when the grid
  // is not showing or has no such row.
  bool SelectRow(const std::string& grid, int row);
  // The user selects a folder in a tree: false when the tree is not showing;
  // a folder that does not exist goes to the error box.
  bool SelectFolder(const std::string& tree, const std::string& folder);
  // The title bar's close box: false when the window has none.
  bool CloseBox();

 protected:
  void OnClick(const std::string& button, std::function<void()> handler);
  // Called on every close; the default does nothing.
  virtual void FormClose() {}
  // Row colour of a grid; the default is white.
  virtual TColor GetCellColor(const std::string& grid, int row) const;

 private:
  TControlState& Mutable(const std::string& name);
  void Notify(const TControlState& control, TChange change);

  TApplication& FApplication;
  TWindowDef FDef;
  std::vector<TControlState> FControls;
  std::map<std::string, size_t> FIndex;
  std::map<std::string, std::function<void()>> FClickHandlers;
  std::unique_ptr<TWindowView> FView;
  bool FShowing = false;
  bool FClosed = false;
};

// The tree could not select a folder: "Error setting path: "FOLDER"".
class EInvalidPath : public Exception {
 public:
  explicit EInvalidPath(const std::string& folder);
};

// A window timer: while enabled, OnTimer runs every Interval milliseconds on
// the window's thread, through TApplication::HandleEvent.
class TTimer {
 public:
  explicit TTimer(TApplication& application, uint32_t interval = 1000);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool enabled);
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t interval);
  std::function<void()> OnTimer;

  // The backend's tick.
  void Fire();

 private:
  TApplication& FApplication;
  uint32_t FInterval;
  bool FEnabled = false;
};
