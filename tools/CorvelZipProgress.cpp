#include "tools/CorvelZipProgress.h"

#include <algorithm>

namespace {

constexpr int kBarWidth = 30;
// Long names are cut so that the line never wraps on an 80-column terminal.
constexpr size_t kNameWidth = 40;

}  // namespace

void TZipProgress::Show(int Percent, const std::string& Name) {
  if (!FEnabled) return;
  Percent = std::clamp(Percent, 0, 100);
  if (FShown && Percent == FPercent && Name == FName) return;
  FPercent = Percent;
  FName = Name;
  const int filled = Percent * kBarWidth / 100;
  std::string shownName =
      Name.size() > kNameWidth ? "..." + Name.substr(Name.size() - kNameWidth + 3) : Name;
  FOut << '\r' << '[' << std::string(size_t(filled), '#')
       << std::string(size_t(kBarWidth - filled), ' ') << "] "
       << (Percent < 10    ? "  "
           : Percent < 100 ? " "
                           : "")
       << Percent << "% " << shownName << "\x1b[K" << std::flush;
  FShown = true;
}

void TZipProgress::Clear() {
  if (!FShown) return;
  FOut << "\r\x1b[K" << std::flush;
  FShown = false;
}
