#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Forms.h"
#include "platform/HeadlessForms.h"
#include "platform/SysUtils.h"

namespace {

TWindowDef SmallWindow() {
  TWindowDef def;
  def.Name = "TestForm";
  def.Caption = "Deneme";
  TControlDef panel;
  panel.Name = "Panel";
  panel.Kind = TControlKind::Panel;
  TControlDef shown;
  shown.Name = "Shown";
  shown.Kind = TControlKind::Button;
  shown.Parent = "Panel";
  shown.Caption = "Tamam";
  TControlDef hidden = shown;
  hidden.Name = "Hidden";
  hidden.Caption = "Gizli";
  hidden.Visible = false;
  TControlDef label;
  label.Name = "Note";
  label.Kind = TControlKind::Label;
  label.Caption = "iki\nsatır";
  TControlDef grid;
  grid.Name = "Grid";
  grid.Kind = TControlKind::Grid;
  def.Controls = {panel, shown, hidden, label, grid};
  return def;
}

// A window whose buttons count their clicks; "Shown" can be made to fail.
class TTestForm : public TForm {
 public:
  explicit TTestForm(TApplication& application) : TForm(application, SmallWindow()) {
    FTable.AddField("ad", ftString, 10);
    OnClick("Shown", [this] {
      ++ShownClicks;
      if (!Failure.empty()) throw Exception(Failure);
    });
    OnClick("Hidden", [this] { ++HiddenClicks; });
    BindGrid("Grid", FTable, {{"ad", "Ad", 50}});
  }
  void Fill(const std::vector<std::string>& names) {
    FTable.Close();
    FTable.Open();
    for (const std::string& name : names) {
      FTable.Append();
      FTable.FieldByName("ad").SetAsString(name);
      FTable.Post();
    }
    GridChanged("Grid");
  }
  TMemTable& Table() { return FTable; }
  int ShownClicks = 0;
  int HiddenClicks = 0;
  std::string Failure;

 protected:
  TColor GetCellColor(const std::string&, int row) const override {
    return row % 2 ? clWhite : 0xDADADE;
  }

 private:
  TMemTable FTable;
};

class HeadlessForms : public ::testing::Test {
 protected:
  HeadlessForms() : FClock(EncodeDate(2024, 3, 7)) { SetClock(&FClock); }
  ~HeadlessForms() override { SetClock(nullptr); }

  // Runs the loop of a fresh window over `commands`; the printed lines.
  std::vector<std::string> RunWith(const std::string& commands) {
    std::istringstream input(commands);
    Backend = std::make_unique<THeadlessBackend>(&input, &FOutput);
    Application = std::make_unique<TApplication>(*Backend, "/opt/zelvora/TESTPROG.EXE");
    Form = std::make_unique<TTestForm>(*Application);
    if (Prepare) Prepare();
    Application->Run();
    return Lines();
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(FOutput.str());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }
  static bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
      if (l == line) return true;
    }
    return false;
  }

  TVirtualClock FClock;
  std::ostringstream FOutput;
  std::unique_ptr<THeadlessBackend> Backend;
  std::unique_ptr<TApplication> Application;
  std::unique_ptr<TTestForm> Form;
  std::function<void()> Prepare;
};

}  // namespace

TEST(ExceptionBoxText, AddsAFullStopOnlyWhenMissing) {
  const struct {
    const char* message;
    const char* shown;
  } cases[] = {
      {"File access denied", "File access denied."},
      {"Stream read error.", "Stream read error."},
      {"I/O error 183", "I/O error 183."},
      {"Ne?", "Ne?."},
      {"", "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ExceptionBoxText(std::runtime_error(c.message)), c.shown);
  }
}

TEST(TApplication, DefaultTitleIsTheFileNameUpToItsFirstDot) {
  const struct {
    const char* exe;
    const char* title;
  } cases[] = {
      {"/usr/bin/Restorekeep", "Restorekeep"},
      {"C:\\Zelvora\\RESTOREKEEP.EXE", "Restorekeep"},
      {"./vozidir.old.exe", "vozidir"},
      {"x", "x"},
  };
  THeadlessBackend backend;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exe);
    EXPECT_EQ(TApplication(backend, c.exe).Title(), c.title);
  }
}

TEST_F(HeadlessForms, PrintsTheShownWindowAndRefusesHiddenOrMissingControls) {
  const std::vector<std::string> lines =
      RunWith("press Hidden\npress Nothing\npress Note\nfly away\npress Shown\n");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "TestForm shown: Deneme",
                       "TestForm.Shown: Tamam",
                       "TestForm.Note: iki\\nsatır",
                       "TestForm.Grid: 0 rows",
                       "TestForm.Grid current row: 0",
                       "ignored: press Hidden (hidden)",
                       "ignored: press Nothing (no such control)",
                       "ignored: press Note (not a button)",
                       "ignored: fly away (unknown command)",
                       "end of input",
                       "TestForm closed",
                   }));
  EXPECT_EQ(Form->ShownClicks, 1);
  EXPECT_EQ(Form->HiddenClicks, 0);
}

TEST_F(HeadlessForms, AProgrammaticPressReachesAHiddenButton) {
  RunWith("");
  Form->Press("Hidden");
  EXPECT_EQ(Form->HiddenClicks, 1);
}

TEST_F(HeadlessForms, ChangesOfVisibleTextArePrintedOneLineEach) {
  Prepare = [this] {
    Application->SetTitle("Zelvora Yedek");
    Form->Failure = "Cannot open file \"C:\\x\"";
  };
  RunWith("press Shown\n");
  Form->SetCaption("Note", "yeni");  // the window is closed now: recorded, not printed
  const std::vector<std::string> lines = Lines();
  EXPECT_TRUE(Contains(lines, "message box [Zelvora Yedek] (stop): Cannot open file \"C:\\x\"."));
  EXPECT_FALSE(Contains(lines, "TestForm.Note: yeni"));
  const auto boxes = Backend->Records("message box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Value, "Zelvora Yedek|stop|Cannot open file \"C:\\x\".");
  EXPECT_EQ(Backend->Records("caption").back().Value, "yeni");
}

TEST_F(HeadlessForms, HidingAPanelHidesItsButtons) {
  Prepare = [this] { Form->SetVisible("Panel", false); };
  const std::vector<std::string> lines = RunWith("press Shown\n");
  EXPECT_TRUE(Contains(lines, "ignored: press Shown (hidden)"));
  EXPECT_FALSE(Contains(lines, "TestForm.Shown: Tamam"));
  EXPECT_EQ(Form->ShownClicks, 0);
}

TEST_F(HeadlessForms, SelectMakesAGridRowCurrent) {
  Prepare = [this] { Form->Fill({"bir", "iki", "üç"}); };
  const std::vector<std::string> lines = RunWith("select 2\nselect 4\nselect x\n");
  EXPECT_TRUE(Contains(lines, "TestForm.Grid row 3: üç"));
  EXPECT_TRUE(Contains(lines, "TestForm.Grid current row: 3"));  // the last appended
  EXPECT_TRUE(Contains(lines, "TestForm.Grid current row: 2"));
  EXPECT_TRUE(Contains(lines, "ignored: select 4 (no such row)"));
  EXPECT_TRUE(Contains(lines, "ignored: select x (no such row)"));
  EXPECT_EQ(Form->Table().FieldByName("ad").AsString(), "iki");
  std::vector<std::string> colours;
  for (const THeadlessRecord& r : Backend->Records("cell colour")) colours.push_back(r.Value);
  EXPECT_EQ(colours, (std::vector<std::string>{"1: FFFFFF", "2: DADADE", "3: FFFFFF"}));
}

TEST_F(HeadlessForms, AnArmedTimerFiresWhenIdleOnTheClockBeforeInputIsRead) {
  std::unique_ptr<TTimer> timer;
  std::vector<std::string> seen;
  Prepare = [&] {
    timer = std::make_unique<TTimer>(*Application, 500);
    timer->OnTimer = [&] {
      seen.push_back("tick, clicks " + std::to_string(Form->ShownClicks));
      timer->SetEnabled(false);
    };
    timer->SetEnabled(true);
  };
  RunWith("press Shown\n");
  EXPECT_EQ(seen, std::vector<std::string>{"tick, clicks 0"});
  EXPECT_EQ(FClock.Sleeps(), std::vector<uint32_t>{500});
  EXPECT_EQ(Form->ShownClicks, 1);
  timer.reset();
}

TEST_F(HeadlessForms, APeriodicTimerTicksEveryInterval) {
  std::unique_ptr<TTimer> timer;
  int ticks = 0;
  Prepare = [&] {
    timer = std::make_unique<TTimer>(*Application, 200);
    timer->OnTimer = [&] {
      if (++ticks == 3) Form->Close();
    };
    timer->SetEnabled(true);
  };
  RunWith("");
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(FClock.Sleeps(), (std::vector<uint32_t>{200, 200, 200}));
  timer.reset();
}

TEST_F(HeadlessForms, PostedCommandsAreHandledByTheNextPump) {
  RunWith("");
  Form->Show();
  Backend->Post("press Shown");
  EXPECT_EQ(Form->ShownClicks, 0);
  Application->ProcessMessages();
  EXPECT_EQ(Form->ShownClicks, 1);
  Application->Sleep(50);
  EXPECT_EQ(Backend->Records("sleep").back().Value, "50");
  EXPECT_EQ(FClock.Sleeps(), std::vector<uint32_t>{50});
}

TEST_F(HeadlessForms, CloseEndsTheLoopAtOnce) {
  const std::vector<std::string> lines = RunWith("close\npress Shown\n");
  EXPECT_EQ(lines.back(), "TestForm closed");
  EXPECT_FALSE(Contains(lines, "end of input"));
  EXPECT_EQ(Form->ShownClicks, 0);
}

TEST_F(HeadlessForms, AWindowClosedWhileBeingCreatedIsNeverShown) {
  Prepare = [this] { Form->Close(); };
  EXPECT_TRUE(RunWith("press Shown\n").empty());
  EXPECT_TRUE(Backend->Records("show").empty());
  EXPECT_EQ(Form->ShownClicks, 0);
}
