// The folder picker window of both wizards: a folder tree, "Tamam" writes the
// selected folder into the main window's sEdit1 (and, in the restore program,
// rebuilds its backup list through OnFolderChosen), "İptal" or the close box
// leave it alone. Every close destroys the window.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Forms.h"

class TKlasoreGozatRef;

class TKlasoreGozatForm : public TForm {
 public:
  // The window, hidden; `ref` is told when it closes.
  TKlasoreGozatForm(TApplication& application, TKlasoreGozatRef& ref);

  void sButton1Click();
  void sButton2Click();

 protected:
  void FormClose() override;

 private:
  TKlasoreGozatRef& FRef;
};

// The program's one reference to its picker window: set when a picker is
// created, cleared whenever it closes, so at most one picker exists at a time.
class TKlasoreGozatRef {
 public:
  explicit TKlasoreGozatRef(TApplication& application);
  ~TKlasoreGozatRef();
  TKlasoreGozatRef(const TKlasoreGozatRef&) = delete;
  TKlasoreGozatRef& operator=(const TKlasoreGozatRef&) = delete;

  // The picker, or nullptr when there is none.
  TKlasoreGozatForm* Form() const { return FForm.get(); }
  // Creates the picker hidden unless one exists (program start-up).
  TKlasoreGozatForm& Create();
  // "Seç" of the main window: creates the picker if needed, selects the text
  // of the main window's `editName` without surrounding blanks in the tree
  // (EInvalidPath when the tree cannot select it; the picker is then not
  // shown) and shows the picker without making it modal.
  void Open(const std::string& editName = "sEdit1");

  // Called after "Tamam" wrote the folder into the main window; unset in the
  // backup program, the backup list's refresh in the restore program.
  std::function<void()> OnFolderChosen;

 private:
  friend class TKlasoreGozatForm;
  void Closed(TKlasoreGozatForm& form);

  TApplication& FApplication;
  std::unique_ptr<TKlasoreGozatForm> FForm;
};
