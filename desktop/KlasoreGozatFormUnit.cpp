#include "desktop/KlasoreGozatFormUnit.h"

#include "platform/SysUtils.h"

namespace {

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

TWindowDef PickerWindow() {
  TWindowDef def;
  def.Name = "KlasoreGozatForm";
  def.Caption = "Klasöre Gözat";
  def.ClientWidth = 301;
  def.ClientHeight = 292;
  def.BorderIcons = TBorderIcons::CloseOnly;
  def.StayOnTop = true;
  def.DefaultButton = "sButton1";

  TControlDef label;
  label.Name = "Label1";
  label.Kind = TControlKind::Label;
  label.Caption = "Lütfen yedeklerin saklanacağı klasörü seçiniz ...";
  label.Left = 8, label.Top = 8, label.Width = 285, label.Height = 13;

  TControlDef frame;
  frame.Name = "Shape1";
  frame.Kind = TControlKind::Panel;
  frame.Left = 7, frame.Top = 27, frame.Width = 287, frame.Height = 227;

  TControlDef tree;
  tree.Name = "Klasorler";
  tree.Kind = TControlKind::FolderTree;
  tree.Left = 8, tree.Top = 28, tree.Width = 285, tree.Height = 225;
  tree.BackColor = clWhite;

  TControlDef ok;
  ok.Name = "sButton1";
  ok.Kind = TControlKind::Button;
  ok.Caption = "Tamam";
  ok.Left = 138, ok.Top = 261, ok.Width = 75, ok.Height = 25;

  TControlDef cancel = ok;
  cancel.Name = "sButton2";
  cancel.Caption = "İptal";
  cancel.Left = 218;

  def.Controls = {label, frame, tree, ok, cancel};
  return def;
}

}  // namespace

TKlasoreGozatForm::TKlasoreGozatForm(TApplication& application, TKlasoreGozatRef& ref)
    : TForm(application, PickerWindow()), FRef(ref) {
  OnClick("sButton1", [this] { sButton1Click(); });
  OnClick("sButton2", [this] { sButton2Click(); });
}

void TKlasoreGozatForm::sButton1Click() {
  TForm* main = Application().MainForm();
  if (main && main != this) {
    main->SetCaption("sEdit1", SelectedFolder("Klasorler"));
    if (FRef.OnFolderChosen) FRef.OnFolderChosen();
  }
  Close();
}

void TKlasoreGozatForm::sButton2Click() {
  Close();
}

void TKlasoreGozatForm::FormClose() {
  FRef.Closed(*this);
}

TKlasoreGozatRef::TKlasoreGozatRef(TApplication& application) : FApplication(application) {}

TKlasoreGozatRef::~TKlasoreGozatRef() = default;

TKlasoreGozatForm& TKlasoreGozatRef::Create() {
  if (!FForm) FForm = std::make_unique<TKlasoreGozatForm>(FApplication, *this);
  return *FForm;
}

void TKlasoreGozatRef::Open(const std::string& editName) {
  TForm* main = FApplication.MainForm();
  ZASSERT(main != nullptr, "TKlasoreGozatRef.Open: there is no main window");
  TKlasoreGozatForm& picker = Create();
  picker.SetSelectedFolder("Klasorler", TrimBlanks(main->Caption(editName)));
  picker.Show();
}

void TKlasoreGozatRef::Closed(TKlasoreGozatForm& form) {
  // The window is destroyed once its handler has returned.
  if (FForm.get() == &form) FApplication.Release(std::move(FForm));
}
