#include "platform/HeadlessForms.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <ostream>

#include "platform/Clock.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

constexpr double kMillisecondsPerDay = 86400000.0;

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\n')
      line += "\\n";
    else if (c != '\r')
      line += c;
  }
  return line;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string IconName(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Stop:
      return "stop";
    case TMsgIcon::Warning:
      return "warning";
    case TMsgIcon::Information:
      return "information";
  }
  return "";
}

bool ShowsText(TControlKind kind) {
  switch (kind) {
    case TControlKind::Panel:
    case TControlKind::Label:
    case TControlKind::Button:
    case TControlKind::Edit:
    case TControlKind::CheckBox:
      return true;
    default:
      return false;
  }
}

// The first control of a kind, or nullptr.
const TControlState* FirstOfKind(const TForm& form, TControlKind kind) {
  for (const TControlState* control : form.Controls()) {
    if (control->Def.Kind == kind) return control;
  }
  return nullptr;
}

}  // namespace

// ------------------------------------------------------------------ the view

class THeadlessBackend::TView : public TWindowView {
 public:
  TView(THeadlessBackend& backend, TForm& form) : FBackend(backend), FForm(form) {
    FBackend.FViews.push_back(this);
    FBackend.Record(form.Name(), "", "create", form.Def().Caption);
  }
  ~TView() override {
    auto& views = FBackend.FViews;
    views.erase(std::remove(views.begin(), views.end(), this), views.end());
  }

  TForm& Form() { return FForm; }

  void Show() override {
    FBackend.Record(FForm.Name(), "", "show", FForm.Def().Caption);
    FBackend.Print(FForm.Name() + " shown: " + OneLine(FForm.Def().Caption));
    for (const TControlState* control : FForm.Controls()) {
      if (FForm.ControlShowing(control->Def.Name)) PrintControl(*control);
    }
  }

  void Hide() override {
    FBackend.Record(FForm.Name(), "", "hide", "");
    FBackend.Print(FForm.Name() + " closed");
  }

  void Changed(const TControlState& control, TChange change) override {
    const std::string& name = control.Def.Name;
    switch (change) {
      case TChange::Visible:
        FBackend.Record(FForm.Name(), name, control.Visible ? "show" : "hide", "");
        if (!FForm.Showing()) return;
        if (control.Visible && FForm.ControlShowing(name)) {
          PrintShownWithChildren(control);
        } else if (!control.Visible && ParentShowing(control)) {
          FBackend.Print(Prefix(control) + " hidden");
        }
        return;
      case TChange::Caption:
        FBackend.Record(FForm.Name(), name, "caption", control.Caption);
        break;
      case TChange::Position:
        FBackend.Record(FForm.Name(), name, "position",
                        IntToStr(control.Left) + "," + IntToStr(control.Top));
        return;
      case TChange::Gauge:
        FBackend.Record(FForm.Name(), name, "gauge", GaugeText(control));
        break;
      case TChange::GridRows:
        RecordRows(control);
        break;
      case TChange::GridCurrent:
        FBackend.Record(FForm.Name(), name, "current", IntToStr(CurrentRow(control)));
        if (FForm.Showing() && FForm.ControlShowing(name)) PrintCurrent(control);
        return;
      case TChange::Folder:
        FBackend.Record(FForm.Name(), name, "folder", control.Folder);
        break;
    }
    if (FForm.Showing() && FForm.ControlShowing(name)) PrintControl(control);
  }

 private:
  std::string Prefix(const TControlState& control) const {
    return FForm.Name() + "." + control.Def.Name;
  }

  bool ParentShowing(const TControlState& control) const {
    return control.Def.Parent.empty() || FForm.ControlShowing(control.Def.Parent);
  }

  static std::string GaugeText(const TControlState& control) {
    return IntToStr(control.GaugePosition) + "/" + IntToStr(control.GaugeMax);
  }

  static int CurrentRow(const TControlState& control) {
    return control.Table && control.Table->Active() ? control.Table->RecNo() : 0;
  }

  // The rows' texts, read through the table's cursor, which is put back.
  std::vector<std::string> RowTexts(const TControlState& control) const {
    std::vector<std::string> rows;
    TMemTable* table = control.Table;
    if (!table || !table->Active() || table->State() != dsBrowse) return rows;
    const int current = table->RecNo();
    for (int row = 1; row <= table->RecordCount(); ++row) {
      table->SetRecNo(row);
      std::string text;
      for (const TGridColumn& column : control.Columns) {
        if (!text.empty()) text += " | ";
        text += table->FieldByName(column.FieldName).AsString();
      }
      rows.push_back(text);
    }
    if (current > 0) table->SetRecNo(current);
    return rows;
  }

  void RecordRows(const TControlState& control) {
    const std::string& name = control.Def.Name;
    const std::vector<std::string> rows = RowTexts(control);
    FBackend.Record(FForm.Name(), name, "rows", IntToStr(int64_t(rows.size())));
    for (size_t i = 0; i < rows.size(); ++i) {
      const int row = int(i + 1);
      FBackend.Record(FForm.Name(), name, "row", IntToStr(row) + ": " + rows[i]);
      FBackend.Record(FForm.Name(), name, "cell colour",
                      IntToStr(row) + ": " + Format("%06X", FForm.CellColor(name, row)));
    }
    FBackend.Record(FForm.Name(), name, "current", IntToStr(CurrentRow(control)));
  }

  void PrintCurrent(const TControlState& control) {
    FBackend.Print(Prefix(control) + " current row: " + IntToStr(CurrentRow(control)));
  }

  void PrintControl(const TControlState& control) {
    switch (control.Def.Kind) {
      case TControlKind::Gauge:
      case TControlKind::Meter:
        FBackend.Print(Prefix(control) + ": " + GaugeText(control));
        return;
      case TControlKind::Grid: {
        const std::vector<std::string> rows = RowTexts(control);
        FBackend.Print(Prefix(control) + ": " + IntToStr(int64_t(rows.size())) + " rows");
        for (size_t i = 0; i < rows.size(); ++i) {
          FBackend.Print(Prefix(control) + " row " + IntToStr(int64_t(i + 1)) + ": " + rows[i]);
        }
        PrintCurrent(control);
        return;
      }
      case TControlKind::FolderTree:
        FBackend.Print(Prefix(control) + ": " + control.Folder);
        return;
      default:
        if (!ShowsText(control.Def.Kind)) return;
        if (control.Def.Kind == TControlKind::Panel && control.Caption.empty()) return;
        FBackend.Print(Prefix(control) + ": " + OneLine(control.Caption));
    }
  }

  // A control that appears shows its content and that of its shown children.
  void PrintShownWithChildren(const TControlState& shown) {
    PrintControl(shown);
    for (const TControlState* control : FForm.Controls()) {
      if (control != &shown && IsInside(*control, shown.Def.Name) &&
          FForm.ControlShowing(control->Def.Name)) {
        PrintControl(*control);
      }
    }
  }

  bool IsInside(const TControlState& control, const std::string& panel) const {
    for (std::string parent = control.Def.Parent; !parent.empty();
         parent = FForm.Control(parent).Def.Parent) {
      if (parent == panel) return true;
    }
    return false;
  }

  THeadlessBackend& FBackend;
  TForm& FForm;
};

// --------------------------------------------------------------- the backend

THeadlessBackend::THeadlessBackend(std::istream* input, std::ostream* output)
    : FInput(input), FOutput(output) {}

THeadlessBackend::~THeadlessBackend() = default;

std::unique_ptr<TWindowView> THeadlessBackend::CreateView(TForm& form) {
  return std::make_unique<TView>(*this, form);
}

void THeadlessBackend::Record(const std::string& window, const std::string& control,
                              const std::string& operation, const std::string& value) {
  FRecords.push_back({window, control, operation, value});
}

std::vector<THeadlessRecord> THeadlessBackend::Records(const std::string& operation) const {
  std::vector<THeadlessRecord> found;
  for (const THeadlessRecord& record : FRecords) {
    if (record.Operation == operation) found.push_back(record);
  }
  return found;
}

void THeadlessBackend::Print(const std::string& line) {
  if (FOutput) *FOutput << line << '\n' << std::flush;
}

void THeadlessBackend::ProcessMessages() {
  Record("", "", "pump", "");
  while (!FPosted.empty()) {
    const std::string command = FPosted.front();
    FPosted.pop_front();
    Execute(command);
  }
}

void THeadlessBackend::Sleep(uint32_t milliseconds) {
  Record("", "", "sleep", IntToStr(milliseconds));
  Clock().Sleep(milliseconds);
}

void THeadlessBackend::MessageBox(const std::string& title, const std::string& text,
                                  TMsgIcon icon) {
  Record("", "", "message box", title + "|" + IconName(icon) + "|" + text);
  Print("message box [" + title + "] (" + IconName(icon) + "): " + OneLine(text));
}

void THeadlessBackend::TimerChanged(TTimer& timer) {
  TimerDestroyed(timer);
  if (!timer.Enabled()) {
    Record("", "", "timer off", IntToStr(timer.Interval()));
    return;
  }
  Record("", "", "timer on", IntToStr(timer.Interval()));
  FTimers.emplace_back(&timer, Clock().Now() + timer.Interval() / kMillisecondsPerDay);
}

void THeadlessBackend::TimerDestroyed(TTimer& timer) {
  FTimers.erase(std::remove_if(FTimers.begin(), FTimers.end(),
                               [&](const auto& entry) { return entry.first == &timer; }),
                FTimers.end());
}

bool THeadlessBackend::FireNextTimer() {
  if (FTimers.empty()) return false;
  const auto next =
      std::min_element(FTimers.begin(), FTimers.end(),
                       [](const auto& a, const auto& b) { return a.second < b.second; });
  TTimer& timer = *next->first;
  // Days as a double near 45000 hold the time of day to about a microsecond:
  // a wait within that of a whole millisecond is that millisecond.
  const double wait = std::ceil((next->second - Clock().Now()) * kMillisecondsPerDay - 0.01);
  if (wait > 0) Clock().Sleep(uint32_t(wait));
  // Due again one interval after this tick, unless the handler disables it.
  next->second = Clock().Now() + timer.Interval() / kMillisecondsPerDay;
  Record("", "", "timer fire", IntToStr(timer.Interval()));
  timer.Fire();
  return true;
}

void THeadlessBackend::Run(TApplication& application) {
  while (!application.Terminated()) {
    if (!FPosted.empty()) {
      ProcessMessages();
      continue;
    }
    if (FireNextTimer()) continue;
    std::string line;
    if (FInput && std::getline(*FInput, line)) {
      Execute(line);
      continue;
    }
    Print("end of input");
    TForm* main = application.MainForm();
    if (!main) break;
    application.HandleEvent([main] { main->Close(); });
  }
}

void THeadlessBackend::Post(const std::string& command) {
  FPosted.push_back(command);
}

void THeadlessBackend::Ignored(const std::string& command, const std::string& reason) {
  Record("", "", "ignored", command + " (" + reason + ")");
  Print("ignored: " + command + " (" + reason + ")");
}

TForm* THeadlessBackend::FindShowingForm(const std::string& name) const {
  for (TView* view : FViews) {
    if (view->Form().Name() == name && view->Form().Showing()) return &view->Form();
  }
  return nullptr;
}

TForm* THeadlessBackend::MainForm() const {
  return FViews.empty() ? nullptr : FViews.front()->Form().Application().MainForm();
}

void THeadlessBackend::Execute(const std::string& commandLine) {
  const std::string command = Trim(commandLine);
  if (command.empty() || command[0] == '#') return;
  Record("", "", "command", command);
  const size_t blank = command.find(' ');
  const std::string verb = command.substr(0, blank);
  const std::string argument =
      blank == std::string::npos ? std::string() : Trim(command.substr(blank + 1));
  if (verb == "press" && !argument.empty())
    Press(command, argument);
  else if (verb == "select" && !argument.empty())
    Select(command, argument);
  else if (verb == "choose" && !argument.empty())
    Choose(command, argument);
  else if (verb == "close")
    CloseWindow(command, argument);
  else
    Ignored(command, "unknown command");
}

void THeadlessBackend::Press(const std::string& command, const std::string& target) {
  const size_t dot = target.find('.');
  TForm* form = dot == std::string::npos ? MainForm() : FindShowingForm(target.substr(0, dot));
  const std::string control = dot == std::string::npos ? target : target.substr(dot + 1);
  if (!form || !form->Showing()) return Ignored(command, "no such window");
  if (!form->HasControl(control)) return Ignored(command, "no such control");
  if (!form->ControlShowing(control)) return Ignored(command, "hidden");
  if (!form->Click(control)) Ignored(command, "not a button");
}

void THeadlessBackend::Select(const std::string& command, const std::string& rowText) {
  TForm* form = MainForm();
  const TControlState* grid = form ? FirstOfKind(*form, TControlKind::Grid) : nullptr;
  if (!grid || !form->Showing()) return Ignored(command, "no list");
  if (!form->ControlShowing(grid->Def.Name)) return Ignored(command, "hidden");
  int row = 0;
  try {
    row = int(StrToInt(rowText));
  } catch (const EConvertError&) {
    return Ignored(command, "no such row");
  }
  if (!form->SelectRow(grid->Def.Name, row)) Ignored(command, "no such row");
}

void THeadlessBackend::Choose(const std::string& command, const std::string& folder) {
  TForm* picker = nullptr;
  for (TView* view : FViews) {
    TForm& form = view->Form();
    if (form.Showing() && FirstOfKind(form, TControlKind::FolderTree)) picker = &form;
  }
  if (!picker) return Ignored(command, "no folder picker open");
  const std::string windowsPath = folder[0] == '/' ? WindowsPathOf(folder) : folder;
  if (!DirectoryExists(windowsPath)) return Ignored(command, "no such folder");
  const std::string& tree = FirstOfKind(*picker, TControlKind::FolderTree)->Def.Name;
  if (!picker->SelectFolder(tree, windowsPath)) return Ignored(command, "hidden");
  const std::string& confirm = picker->Def().DefaultButton;
  if (confirm.empty() || !picker->Click(confirm)) Ignored(command, "no confirming button");
}

void THeadlessBackend::CloseWindow(const std::string& command, const std::string& name) {
  TForm* main = MainForm();
  if (name.empty() || (main && name == main->Name())) {
    if (!main) return Ignored(command, "no such window");
    main->Application().HandleEvent([main] { main->Close(); });
    return;
  }
  TForm* form = FindShowingForm(name);
  if (!form) return Ignored(command, "no such window");
  if (!form->CloseBox()) Ignored(command, "no close box");
}
