#include "ExtractSupport.h"

#include <cstdlib>
#include <filesystem>

namespace extract_test {

std::string TestDataDir() {
  const char* root = std::getenv("ZELVORA_TEST_SOURCE_DIR");
  const std::string tests =
      root != nullptr ? root : std::filesystem::path(__FILE__).parent_path().parent_path().string();
  return tests + "/data";
}

std::string LegacyDataDir() { return TestDataDir() + "/legacy"; }

void TFailureLog::Attach(TAbBaseBrowser& browser) {
  browser.OnProcessItemFailure = [this](TAbBaseComponent&, TAbArchiveItem& item,
                                        TAbProcessType processType, TAbErrorClass errorClass,
                                        int32_t errorCode) {
    Failures.push_back({item.FileName(), processType, errorClass, errorCode});
  };
}

}  // namespace extract_test
