#include "desktop/ArchiveVerifyUnit.h"

#include <cstdint>
#include <exception>

#include "archive/AbArcTyp.h"
#include "archive/AbExcept.h"
#include "archive/AbUnzper.h"
#include "archive/AbUtils.h"
#include "desktop/SuiteArchiveUnit.h"
#include "platform/FileSystem.h"

namespace {

std::string VerifyText(const std::string& archive, const std::vector<std::string>& failures) {
  std::string text = "Yedek arşivi doğrulanamadı: " + archive;
  for (const std::string& failure : failures) text += "\n" + failure;
  return text;
}

// The text of a failure the archive reported instead of raising (a CRC mismatch).
std::string ReportedText(TAbErrorClass errorClass, int32_t errorCode) {
  if (errorClass == ecCorvel) return AbMessageOf(errorCode);
  if (errorClass == ecInOutError) return EInOutError(errorCode).what();
  return Format("error class %d", int(errorClass));
}

// One meter for the whole test: the progress within entry `Index` of
// `Count` becomes its share of the whole, so the meter only moves forward.
class TVerifyProgress : public TAbMeterLink {
 public:
  explicit TVerifyProgress(TAbMeterLink* target) : FTarget(target) {}
  void DoProgress(uint8_t progress) override {
    if (FTarget && Count > 0) FTarget->DoProgress(uint8_t((Index * 100 + progress) / Count));
  }
  void Reset() override {}

  int Index = 0;
  int Count = 0;

 private:
  TAbMeterLink* FTarget;
};

int64_t SizeOf(const std::string& file) {
  TSearchRec rec;
  const int found = FindFirst(file, faAnyFile, rec);
  const int64_t size = found == 0 ? rec.Size : -1;
  FindClose(rec);
  return size;
}

}  // namespace

EArchiveVerifyFailed::EArchiveVerifyFailed(const std::string& archive,
                                           const std::vector<std::string>& failures)
    : Exception(VerifyText(archive, failures)) {}

int VerifySuiteArchive(const std::string& archive, TAbMeterLink* meter) {
  TVerifyProgress progress(meter);  // outlives the unzipper that uses it
  TAbUnZipper unzip;
  unzip.SetPasswordRetries(0);
  unzip.SetPassword(kSuiteArchivePassword);
  unzip.SetItemProgressMeter(&progress);
  std::vector<std::string> failures;
  unzip.OnProcessItemFailure = [&failures](TAbBaseComponent&, TAbArchiveItem& item, TAbProcessType,
                                           TAbErrorClass errorClass, int32_t errorCode) {
    failures.push_back(item.FileName() + ": " + ReportedText(errorClass, errorCode));
  };
  if (meter) meter->Reset();
  try {
    unzip.SetFileName(archive);
  } catch (const std::exception& e) {
    throw EArchiveVerifyFailed(archive, {e.what()});
  }
  TAbArchive* opened = unzip.Archive();
  if (!opened) throw EArchiveVerifyFailed(archive, {EAbNoArchive().what()});
  const int count = opened->Count();
  progress.Count = count;
  for (int i = 0; i < count; ++i) {
    progress.Index = i;
    try {
      opened->TestOne(i);
    } catch (const std::exception& e) {
      failures.push_back(opened->Items(i).FileName() + ": " + e.what());
    }
    if (meter) meter->DoProgress(AbPercentOf(i + 1, count));
  }
  unzip.CloseFile();
  if (!failures.empty()) throw EArchiveVerifyFailed(archive, failures);
  return count;
}

int VerifySuiteCopy(const std::string& original, const std::string& copy, TAbMeterLink* meter) {
  const int64_t originalSize = SizeOf(original);
  const int64_t copySize = SizeOf(copy);
  if (copySize != originalSize) {
    throw EArchiveVerifyFailed(
        copy, {Format("%lld bayt; arşivin kendisi %lld bayt", static_cast<long long>(copySize),
                      static_cast<long long>(originalSize))});
  }
  return VerifySuiteArchive(copy, meter);
}
