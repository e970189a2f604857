#include "archive/AbBase.h"

std::string TAbBaseComponent::Version() const {
  return "3.04";
}

void TAbBaseComponent::SetVersion(const std::string& /*Value*/) {
  // Read-only in effect: the stored form of a window may carry any value.
}
