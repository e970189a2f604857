// A backup wizard on a temporary drive C:, the headless backend and a
// virtual clock, with a recording archive writer standing in for the zipper
// (or the engine's zipper itself).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "backup/AnaUnit.h"
#include "desktop/KlasoreGozatFormUnit.h"
#include "platform/Classes.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/HeadlessForms.h"
#include "tests/support/TestSupport.h"

// Records the run's calls; Save writes an empty archive (its end record) at
// the archive's name, which the run's verification reads back and the second
// copy copies. The call named `failOn` raises.
class TRecordingZipper : public TSuiteZipper {
 public:
  TRecordingZipper(std::vector<std::string>& log, std::string failOn)
      : FLog(log), FFailOn(std::move(failOn)) {}
  void SetFileName(const std::string& fileName) override {
    FLog.push_back("FileName " + fileName);
    FFileName = fileName;
  }
  void SetPassword(const std::string& password) override { FLog.push_back("Password " + password); }
  void AddMatching(const std::string& mask, uint32_t attributes) override {
    FLog.push_back("AddMatching " + mask + " " + std::to_string(attributes));
    FailIf("AddMatching");
  }
  void Save() override {
    FLog.push_back("Save");
    FailIf("Save");
    TFileStream file(FFileName, 0xFFFF);
    const std::string endRecord = std::string("PK\5\6") + std::string(18, '\0');
    file.WriteBuffer(endRecord.data(), int64_t(endRecord.size()));
    if (OnArchiveSaveProgress) OnArchiveSaveProgress(100);
  }
  void CloseFile() override { FLog.push_back("CloseFile"); }
  void SetProgressMeter(TAbMeterLink* link) override { Meter = link; }

  TAbMeterLink* Meter = nullptr;

 private:
  void FailIf(const char* call) const {
    if (FFailOn == call) throw EWriteError();
  }

  std::vector<std::string>& FLog;
  std::string FFailOn;
  std::string FFileName;
};

class WizardTest : public ::testing::Test {
 protected:
  WizardTest() : Clock(EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 30, 0)) { SetClock(&Clock); }
  ~WizardTest() override { SetClock(nullptr); }

  void MakeSuiteFolders() {
    Drive.MakeFolder("Zelvora/Data");
    Drive.MakeFolder("Zelvora/Yedek");
  }

  // Program entry as main() does it, without running the loop.
  // `zipper`: "recording", "fail on CALL" (the recording one, raising in
  // CALL) or "engine" (the real zipper).
  void Start(const std::vector<std::string>& args, const std::string& zipper = "recording",
             const std::string& input = "") {
    Form.reset();
    Picker.reset();
    Application.reset();
    Input.clear();
    Input.str(input);
    Output.str("");
    ZipLog.clear();
    Backend = std::make_unique<THeadlessBackend>(&Input, &Output);
    Application = std::make_unique<TApplication>(*Backend, "/opt/Vozidir");
    Application->SetTitle("Zelvora Yedek");
    Picker = std::make_unique<TKlasoreGozatRef>(*Application);
    std::unique_ptr<TSuiteZipper> zip;
    if (zipper == "recording") zip = std::make_unique<TRecordingZipper>(ZipLog, "");
    if (zipper.rfind("fail on ", 0) == 0)
      zip = std::make_unique<TRecordingZipper>(ZipLog, zipper.substr(8));
    Form = std::make_unique<TAnaForm>(*Application, args, *Picker, std::move(zip));
    Picker->Create();
  }
  void Run() { Application->Run(); }

  std::vector<std::string> Visible() const {
    std::vector<std::string> names;
    for (const TControlState* control : Form->Controls()) {
      if (Form->ControlShowing(control->Def.Name)) names.push_back(control->Def.Name);
    }
    return names;
  }
  std::vector<std::string> MessageBoxes() const {
    std::vector<std::string> texts;
    for (const THeadlessRecord& r : Backend->Records("message box")) texts.push_back(r.Value);
    return texts;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(Output.str());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

  TTempDrive Drive;
  TVirtualClock Clock;
  std::istringstream Input;
  std::ostringstream Output;
  std::vector<std::string> ZipLog;
  std::unique_ptr<THeadlessBackend> Backend;
  std::unique_ptr<TApplication> Application;
  std::unique_ptr<TKlasoreGozatRef> Picker;
  std::unique_ptr<TAnaForm> Form;
};
