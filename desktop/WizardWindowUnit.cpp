#include "desktop/WizardWindowUnit.h"

#include <vector>

namespace {

const char* const kLabel1 =
    "Uyarı : Sabit diskinize aldığınız bir yedek herhangi bir problem durumunda sabit diskinizde "
    "bilgilere ulaşılabildiğinde kullanılabilir. Sistem problemleri, elektrik kesintileri ve "
    "virüs tehliklerine karşı yedekleme sistemini belli periyotlarda mutlaka kullanınız.";

}  // namespace

TControlDef WizardControl(const std::string& name, TControlKind kind, const std::string& parent,
                          const std::string& caption, int left, int top, int width, int height,
                          bool visible) {
  TControlDef def;
  def.Name = name;
  def.Kind = kind;
  def.Parent = parent;
  def.Caption = caption;
  def.Left = left, def.Top = top, def.Width = width, def.Height = height;
  def.Visible = visible;
  return def;
}

TWindowDef WizardWindow(const std::string& caption, const std::string& title,
                        const std::string& label2) {
  using K = TControlKind;
  TWindowDef def;
  def.Name = "AnaForm";
  def.Caption = caption;
  def.ClientWidth = 570;
  def.ClientHeight = 380;

  std::vector<TControlDef>& c = def.Controls;
  c.push_back(WizardControl("sPanel1", K::Panel, "", "", 0, 0, 160, 340));
  c.push_back(WizardControl("Image1", K::Image, "sPanel1", "", 8, 8, 144, 280));
  TControlDef maker = WizardControl("sLabel2", K::Label, "sPanel1", "Kelvortek", 8, 316, 144, 16);
  maker.FontColor = kWizardDarkBlue;
  c.push_back(maker);

  c.push_back(WizardControl("sPanel2", K::Panel, "", "", 0, 340, 570, 40));
  c.push_back(WizardControl("sButton1", K::Button, "sPanel2", "İptal", 404, 8, 75, 25));
  c.push_back(WizardControl("sButton2", K::Button, "sPanel2", "İleri", 486, 8, 75, 25));
  c.push_back(WizardControl("Dosyalar", K::FileList, "sPanel2", "", 8, 8, 97, 25, false));

  c.push_back(WizardControl("sPanel3", K::Panel, "", "", 160, 0, 410, 340));
  TControlDef heading = WizardControl("sLabel1", K::Label, "sPanel3", title, 18, 20, 380, 24);
  heading.FontName = "Arial";
  heading.FontSize = 14;
  heading.Bold = true;
  heading.FontColor = kWizardDarkBlue;
  c.push_back(heading);
  TControlDef first = WizardControl("Label1", K::Label, "sPanel3", kLabel1, 18, 63, 375, 80);
  first.WordWrap = true;
  c.push_back(first);
  TControlDef second = WizardControl("Label2", K::Label, "sPanel3", label2, 18, 160, 375, 80);
  second.WordWrap = true;
  c.push_back(second);
  return def;
}
