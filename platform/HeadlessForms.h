// The headless window backend: no window at all. It records every operation
// for tests, prints what a user would see change (one line each), and takes
// the user's actions as command lines:
//
//   press CONTROL        a click on a button of the main window
//   press FORM.CONTROL   a click on a button of another window ("KlasoreGozatForm.sButton2")
//   select N             makes row N (from 1) of the main window's grid current
//   choose FOLDER        selects FOLDER (Windows path, or host path from '/') in the
//                        open folder picker's tree and presses its confirming button
//   close                closes the main window
//   close FORM           the close box of another window
//
// A click that reaches nothing (missing or hidden control, window not shown)
// only prints "ignored: ..." with the reason. Commands are read only while no
// handler runs; commands given by Post are handled by the next pump. An armed
// timer fires before the next command is read: the loop sleeps through
// Clock() until it is due. End of input closes the main window.
#pragma once

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Forms.h"

// One recorded operation. Operations: "create", "show", "hide" (windows and
// controls), "caption", "position" ("L,T"), "gauge" ("POS/MAX"), "rows" (the
// number of rows), "row" (Value "N: text | text"), "cell colour" ("N: RRGGBB"
// in hex of the colour value), "current" (row from 1), "folder",
// "pump", "sleep" (milliseconds), "message box" ("TITLE|ICON|TEXT"),
// "timer on", "timer off", "timer fire", "command", "ignored" (the reason).
struct THeadlessRecord {
  std::string Window;
  std::string Control;
  std::string Operation;
  std::string Value;
};

class THeadlessBackend : public TWindowBackend {
 public:
  // `input`: the command lines (nullptr: none); `output`: where the lines
  // are printed (nullptr: nowhere). Neither is owned.
  explicit THeadlessBackend(std::istream* input = nullptr, std::ostream* output = nullptr);
  ~THeadlessBackend() override;

  std::unique_ptr<TWindowView> CreateView(TForm& form) override;
  void ProcessMessages() override;
  void Sleep(uint32_t milliseconds) override;
  void Run(TApplication& application) override;
  void MessageBox(const std::string& title, const std::string& text, TMsgIcon icon) override;
  void TimerChanged(TTimer& timer) override;
  void TimerDestroyed(TTimer& timer) override;

  const std::vector<THeadlessRecord>& Records() const { return FRecords; }
  // Every record of one operation, in order.
  std::vector<THeadlessRecord> Records(const std::string& operation) const;
  void ClearRecords() { FRecords.clear(); }

  // Queues a command for the next pump of pending messages.
  void Post(const std::string& command);
  // Handles one command line now.
  void Execute(const std::string& command);

 private:
  class TView;
  friend class TView;

  void Record(const std::string& window, const std::string& control, const std::string& operation,
              const std::string& value);
  void Print(const std::string& line);
  void Ignored(const std::string& command, const std::string& reason);
  TForm* FindShowingForm(const std::string& name) const;
  TForm* MainForm() const;
  void Press(const std::string& command, const std::string& target);
  void Select(const std::string& command, const std::string& row);
  void Choose(const std::string& command, const std::string& folder);
  void CloseWindow(const std::string& command, const std::string& name);
  bool FireNextTimer();

  std::istream* FInput;
  std::ostream* FOutput;
  std::vector<THeadlessRecord> FRecords;
  std::vector<TView*> FViews;
  // Enabled timers, in the order they were enabled, and when they are due.
  std::vector<std::pair<TTimer*, TDateTime>> FTimers;
  std::deque<std::string> FPosted;
};
