// A restore wizard on a temporary drive C:, the headless backend and a
// virtual clock; archives written with the engine's zipper.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "desktop/KlasoreGozatFormUnit.h"
#include "desktop/SuiteArchiveUnit.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/HeadlessForms.h"
#include "restore/AnaUnit.h"
#include "tests/support/TestSupport.h"

class RestoreTest : public ::testing::Test {
 protected:
  RestoreTest() : Clock(EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 30, 0)) { SetClock(&Clock); }
  ~RestoreTest() override {
    Form.reset();
    SetClock(nullptr);
  }

  void MakeSuiteFolders() {
    Drive.MakeFolder("Zelvora/Data");
    Drive.MakeFolder("Zelvora/Yedek");
  }

  // Program entry as main() does it, without running the loop.
  void Start(const std::string& input = "") {
    Form.reset();
    Picker.reset();
    Application.reset();
    Input.clear();
    Input.str(input);
    Output.str("");
    Backend = std::make_unique<THeadlessBackend>(&Input, &Output);
    Application = std::make_unique<TApplication>(*Backend, "/opt/Restorekeep.exe");
    Picker = std::make_unique<TKlasoreGozatRef>(*Application);
    Form = std::make_unique<TAnaForm>(*Application, *Picker);
    Picker->Create();
  }
  void Run() { Application->Run(); }

  // An archive of `files` (written under Data/ and removed again unless
  // `keep`), as the backup program writes it, with `password`.
  void MakeArchive(const std::string& windowsPath, const std::vector<std::string>& files,
                   const std::string& password = kSuiteArchivePassword) {
    TAbSuiteZipper zip;
    zip.SetFileName(windowsPath);
    zip.SetPassword(password);
    for (const std::string& file : files) zip.AddMatching(SuiteDataPath(file), 0);
    zip.Save();
    zip.CloseFile();
  }

  std::vector<std::string> MessageBoxes() const {
    std::vector<std::string> texts;
    for (const THeadlessRecord& r : Backend->Records("message box")) texts.push_back(r.Value);
    return texts;
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    TMemTable& kl = Form->kl();
    const int current = kl.RecNo();
    for (int i = 1; i <= kl.RecordCount(); ++i) {
      kl.SetRecNo(i);
      rows.push_back(kl.FieldByName("tarih").AsString() + " | " +
                     kl.FieldByName("dosya").AsString());
    }
    kl.SetRecNo(current);
    return rows;
  }

  TTempDrive Drive;
  TVirtualClock Clock;
  std::istringstream Input;
  std::ostringstream Output;
  std::unique_ptr<THeadlessBackend> Backend;
  std::unique_ptr<TApplication> Application;
  std::unique_ptr<TKlasoreGozatRef> Picker;
  std::unique_ptr<TAnaForm> Form;
};
