#include "platform/ui/WindowSystem.h"

#include <cstdlib>
#include <string>

#include "platform/HeadlessForms.h"
#ifdef ZELVORA_WITH_QT
#include "platform/qt/QtBackend.h"
#endif

namespace {

bool Set(const char* value) {
  return value && *value;
}

}  // namespace

bool QtWindowsBuilt() {
#ifdef ZELVORA_WITH_QT
  return true;
#else
  return false;
#endif
}

TWindowSystem ChooseWindowSystem(const std::function<const char*(const char*)>& getenv) {
  if (!QtWindowsBuilt()) return TWindowSystem::Headless;
  const std::string forced = Set(getenv("ZELVORA_UI")) ? getenv("ZELVORA_UI") : "";
  if (forced == "qt") return TWindowSystem::Qt;
  if (forced == "headless") return TWindowSystem::Headless;
  const char* platform = getenv("QT_QPA_PLATFORM");
  const bool offscreen = Set(platform) && std::string(platform).rfind("offscreen", 0) == 0;
  if (offscreen || Set(getenv("DISPLAY")) || Set(getenv("WAYLAND_DISPLAY")))
    return TWindowSystem::Qt;
  return TWindowSystem::Headless;
}

std::unique_ptr<TWindowBackend> CreateWindowBackend(int& argc, char** argv, std::istream* input,
                                                    std::ostream* output) {
#ifdef ZELVORA_WITH_QT
  if (ChooseWindowSystem() == TWindowSystem::Qt) return std::make_unique<TQtBackend>(argc, argv);
#else
  (void)argc;
  (void)argv;
#endif
  return std::make_unique<THeadlessBackend>(input, output);
}
