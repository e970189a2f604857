#include "platform/Forms.h"

#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

std::string DefaultTitle(const std::string& exeName) {
  const size_t slash = exeName.find_last_of("/\\");
  std::string name = slash == std::string::npos ? exeName : exeName.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  if (name.size() > 1) name = name.substr(0, 1) + LowerCase(name.substr(1));
  return name;
}

// The full path a folder tree shows for a folder: as named on disk, without a
// trailing '\' except at a drive's root.
std::string TreePath(const std::string& folder) {
  const std::string host = HostPathOf(folder);
  std::string path = host.empty() ? ExpandFileName(folder) : WindowsPathOf(host);
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

std::string ExceptionBoxText(const std::exception& e) {
  std::string text = e.what();
  if (text.empty() || text.back() != '.') text += '.';
  return text;
}

// ---------------------------------------------------------------- application

TApplication::TApplication(TWindowBackend& backend, const std::string& exeName)
    : FBackend(backend), FTitle(DefaultTitle(exeName)) {}

TApplication::~TApplication() {
  FReleased.clear();
}

void TApplication::Run() {
  if (!FMainForm || FMainForm->Closed()) return;
  FMainForm->Show();
  FBackend.Run(*this);
}

void TApplication::HandleEvent(const std::function<void()>& handler) {
  ++FEventDepth;
  try {
    handler();
  } catch (const std::exception& e) {
    ShowException(e);
  }
  --FEventDepth;
  if (FEventDepth == 0) FreeReleased();
}

void TApplication::ShowException(const std::exception& e) {
  FBackend.MessageBox(FTitle, ExceptionBoxText(e), TMsgIcon::Stop);
}

void TApplication::Release(std::unique_ptr<TForm> form) {
  FReleased.push_back(std::move(form));
  if (FEventDepth == 0) FreeReleased();
}

void TApplication::FreeReleased() {
  // Freeing a form may release another one: take them out first.
  while (!FReleased.empty()) {
    std::vector<std::unique_ptr<TForm>> released;
    released.swap(FReleased);
  }
}

void TApplication::FormCreated(TForm& form) {
  if (!FMainForm) FMainForm = &form;
}

void TApplication::FormDestroyed(TForm& form) {
  if (FMainForm == &form) {
    FMainForm = nullptr;
    FTerminated = true;
  }
}

// ----------------------------------------------------------------------- form

EInvalidPath::EInvalidPath(const std::string& folder)
    : Exception("Error setting path: \"" + folder + "\"") {}

TForm::TForm(TApplication& application, TWindowDef def)
    : FApplication(application), FDef(std::move(def)) {
  for (const TControlDef& control : FDef.Controls) {
    ZASSERT(FIndex.count(control.Name) == 0, "TForm: two controls of one name");
    TControlState state;
    state.Def = control;
    state.Caption = control.Caption;
    state.Visible = control.Visible;
    state.Left = control.Left;
    state.Top = control.Top;
    FIndex[control.Name] = FControls.size();
    FControls.push_back(std::move(state));
  }
  FView = FApplication.Backend().CreateView(*this);
  FApplication.FormCreated(*this);
}

TForm::~TForm() {
  FView.reset();
  FApplication.FormDestroyed(*this);
}

void TForm::Show() {
  FClosed = false;
  FShowing = true;
  FView->Show();
}

void TForm::Close() {
  if (FClosed) return;
  FClosed = true;
  if (FShowing) {
    FShowing = false;
    FView->Hide();
  }
  if (FApplication.MainForm() == this) FApplication.Terminate();
  FormClose();
}

bool TForm::HasControl(const std::string& name) const {
  return FIndex.count(name) != 0;
}

const TControlState& TForm::Control(const std::string& name) const {
  const auto found = FIndex.find(name);
  ZASSERT(found != FIndex.end(), "TForm: the window has no control of that name");
  return FControls[found->second];
}

TControlState& TForm::Mutable(const std::string& name) {
  return const_cast<TControlState&>(Control(name));
}

std::vector<const TControlState*> TForm::Controls() const {
  std::vector<const TControlState*> controls;
  for (const TControlState& control : FControls) controls.push_back(&control);
  return controls;
}

bool TForm::ControlShowing(const std::string& name) const {
  // Parents come from the definition, which has no cycles by construction:
  // a parent must be defined before its children.
  for (const TControlState* control = &Control(name);;) {
    if (!control->Visible) return false;
    if (control->Def.Parent.empty()) return true;
    control = &Control(control->Def.Parent);
  }
}

void TForm::Notify(const TControlState& control, TChange change) {
  FView->Changed(control, change);
}

void TForm::SetVisible(const std::string& name, bool visible) {
  TControlState& control = Mutable(name);
  if (control.Visible == visible) return;
  control.Visible = visible;
  Notify(control, TChange::Visible);
}

void TForm::SetCaption(const std::string& name, const std::string& caption) {
  TControlState& control = Mutable(name);
  if (control.Caption == caption) return;
  control.Caption = caption;
  Notify(control, TChange::Caption);
}

void TForm::SetPosition(const std::string& name, int left, int top) {
  TControlState& control = Mutable(name);
  control.Left = left;
  control.Top = top;
  Notify(control, TChange::Position);
}

void TForm::SetGaugeMax(const std::string& name, int maximum) {
  TControlState& control = Mutable(name);
  control.GaugeMax = maximum;
  Notify(control, TChange::Gauge);
}

void TForm::SetGaugePosition(const std::string& name, int position) {
  TControlState& control = Mutable(name);
  control.GaugePosition = position;
  Notify(control, TChange::Gauge);
}

void TForm::BindGrid(const std::string& name, TMemTable& table, std::vector<TGridColumn> columns) {
  TControlState& control = Mutable(name);
  ZASSERT(control.Def.Kind == TControlKind::Grid, "TForm.BindGrid: the control is no grid");
  control.Table = &table;
  control.Columns = std::move(columns);
  Notify(control, TChange::GridRows);
}

void TForm::GridChanged(const std::string& name) {
  Notify(Control(name), TChange::GridRows);
}

TColor TForm::CellColor(const std::string& grid, int row) const {
  return GetCellColor(grid, row);
}

TColor TForm::GetCellColor(const std::string&, int) const {
  return clWhite;
}

void TForm::SetSelectedFolder(const std::string& tree, const std::string& folder) {
  TControlState& control = Mutable(tree);
  ZASSERT(control.Def.Kind == TControlKind::FolderTree,
          "TForm.SetSelectedFolder: the control is no folder tree");
  if (folder.empty() || !DirectoryExists(folder)) throw EInvalidPath(folder);
  control.Folder = TreePath(folder);
  Notify(control, TChange::Folder);
}

const std::string& TForm::SelectedFolder(const std::string& tree) const {
  return Control(tree).Folder;
}

bool TForm::Click(const std::string& name) {
  if (!FShowing || !HasControl(name) || !ControlShowing(name)) return false;
  if (Control(name).Def.Kind != TControlKind::Button) return false;
  FApplication.HandleEvent([this, name] { Press(name); });
  return true;
}

void TForm::Press(const std::string& name) {
  const auto handler = FClickHandlers.find(name);
  if (handler == FClickHandlers.end()) return;
  // A copy: the handler may close and release this very form.
  const std::function<void()> run = handler->second;
  run();
}

bool TForm::SelectRow(const std::string& grid, int row) {
  if (!FShowing || !HasControl(grid) || !ControlShowing(grid)) return false;
  TControlState& control = Mutable(grid);
  if (!control.Table || !control.Table->Active()) return false;
  if (row < 1 || row > control.Table->RecordCount()) return false;
  FApplication.HandleEvent([&] {
    control.Table->SetRecNo(row);
    Notify(control, TChange::GridCurrent);
  });
  return true;
}

bool TForm::SelectFolder(const std::string& tree, const std::string& folder) {
  if (!FShowing || !HasControl(tree) || !ControlShowing(tree)) return false;
  FApplication.HandleEvent([&] { SetSelectedFolder(tree, folder); });
  return true;
}

bool TForm::CloseBox() {
  if (!FShowing || FDef.BorderIcons == TBorderIcons::None) return false;
  FApplication.HandleEvent([this] { Close(); });
  return true;
}

void TForm::OnClick(const std::string& button, std::function<void()> handler) {
  ZASSERT(HasControl(button), "TForm.OnClick: the window has no control of that name");
  FClickHandlers[button] = std::move(handler);
}

// ---------------------------------------------------------------------- timer

TTimer::TTimer(TApplication& application, uint32_t interval)
    : FApplication(application), FInterval(interval) {}

TTimer::~TTimer() {
  FApplication.Backend().TimerDestroyed(*this);
}

void TTimer::SetEnabled(bool enabled) {
  if (FEnabled == enabled) return;
  FEnabled = enabled;
  FApplication.Backend().TimerChanged(*this);
}

void TTimer::SetInterval(uint32_t interval) {
  if (FInterval == interval) return;
  FInterval = interval;
  FApplication.Backend().TimerChanged(*this);
}

void TTimer::Fire() {
  if (!FEnabled || !OnTimer) return;
  const std::function<void()> run = OnTimer;
  FApplication.HandleEvent(run);
}
