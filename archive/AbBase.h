// The root of the archive components placed on the windows.
#pragma once

#include <string>

class TAbBaseComponent {
 public:
  TAbBaseComponent() = default;
  virtual ~TAbBaseComponent() = default;
  TAbBaseComponent(const TAbBaseComponent&) = delete;
  TAbBaseComponent& operator=(const TAbBaseComponent&) = delete;

  // The engine's version, "3.04"; setting it has no effect.
  std::string Version() const;
  void SetVersion(const std::string& Value);
};
