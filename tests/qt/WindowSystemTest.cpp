#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <string>

#include "platform/ui/WindowSystem.h"
#include "tests/support/TestSupport.h"

namespace {

struct TChoiceCase {
  std::map<std::string, std::string> Environment;
  TWindowSystem Expected;
};

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::pclose(pipe);
  }
  return output;
}

}  // namespace

TEST(WindowSystemTest, QtWhereThereIsADisplayOrTheOffscreenPlatformUnlessForced) {
  using W = TWindowSystem;
  const TChoiceCase cases[] = {
      {{}, W::Headless},
      {{{"DISPLAY", ":0"}}, W::Qt},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, W::Qt},
      {{{"QT_QPA_PLATFORM", "offscreen"}}, W::Qt},
      {{{"QT_QPA_PLATFORM", "xcb"}}, W::Headless},
      {{{"DISPLAY", ""}}, W::Headless},
      {{{"DISPLAY", ":0"}, {"ZELVORA_UI", "headless"}}, W::Headless},
      {{{"ZELVORA_UI", "qt"}}, W::Qt},
      {{{"DISPLAY", ":0"}, {"ZELVORA_UI", "other"}}, W::Qt},
  };
  ASSERT_TRUE(QtWindowsBuilt());
  for (const TChoiceCase& c : cases) {
    std::string trace;
    for (const auto& [name, value] : c.Environment) trace += name + "=" + value + " ";
    SCOPED_TRACE(trace);
    const auto getenv = [&](const char* name) -> const char* {
      const auto found = c.Environment.find(name);
      return found == c.Environment.end() ? nullptr : found->second.c_str();
    };
    EXPECT_EQ(ChooseWindowSystem(getenv), c.Expected);
  }
}

// The program itself on a virtual X display: its window as the X server has it.
TEST(WindowSystemTest, VozidirUnderXvfbOpensYedekAlmaOfClientSize570x380) {
  if (!OnPath("xvfb-run") || !OnPath("xwininfo")) GTEST_SKIP() << "xvfb-run or xwininfo missing";
  TTempDrive drive;
  drive.MakeFolder("Zelvora/Data");
  drive.MakeFolder("Zelvora/Yedek");
  // Started, looked at once its window is there, then ended by its process id.
  const std::string script = drive.Host("look.sh");
  drive.Write("look.sh",
              "env -u QT_QPA_PLATFORM -u ZELVORA_UI \"$1\" </dev/null >/dev/null 2>&1 &\n"
              "pid=$!\n"
              "i=0\n"
              "while [ $i -lt 200 ]; do\n"
              "  xwininfo -name 'Yedek Alma' 2>/dev/null && break\n"
              "  sleep 0.05; i=$((i+1))\n"
              "done\n"
              "kill $pid\n"
              "wait $pid\n");
  const std::string output = Output("xvfb-run -a -s '-screen 0 1024x768x24' sh '" + script + "' '" +
                                    ZELVORA_VOZIDIR + "' 2>&1");
  EXPECT_NE(output.find("\"Yedek Alma\""), std::string::npos) << output;
  EXPECT_NE(output.find("Width: 570\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Height: 380\n"), std::string::npos) << output;
}
