// The progress bar of corvelzip, drawn on one line of a terminal.
#pragma once

#include <ostream>
#include <string>

class TZipProgress {
 public:
  // A disabled bar draws nothing (standard error is not a terminal).
  TZipProgress(std::ostream& Out, bool Enabled) : FOut(Out), FEnabled(Enabled) {}
  ~TZipProgress() { Clear(); }
  TZipProgress(const TZipProgress&) = delete;
  TZipProgress& operator=(const TZipProgress&) = delete;

  // Redraws the bar when Percent (0-100) or Name changed since the last draw.
  void Show(int Percent, const std::string& Name);
  // Blanks the bar's line, so that a message can take it.
  void Clear();

 private:
  std::ostream& FOut;
  bool FEnabled;
  bool FShown = false;
  int FPercent = -1;
  std::string FName;
};
