// Loading any file as a ZIP archive and testing every item, as the unzipper
// does (AbVerifyItem into the bit bucket, with the programs' password): the
// load and each test either succeed or fail with an engine or stream error.
//
// Input: the archive file's bytes.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "archive/AbExcept.h"
#include "archive/AbSpanSt.h"
#include "archive/AbZipTyp.h"
#include "archive/deflate/AbDfBase.h"
#include "archive/inflate/AbUnzPrc.h"
#include "fuzz/FuzzSupport.h"
#include "platform/DriveMap.h"

namespace {

// A folder of this process for the archive file, removed at exit.
class TScratchFolder {
 public:
  TScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelvora-fuzz-XXXXXX";
    FPath = mkdtemp(pattern.data()) ? pattern : std::string();
    FUZZ_CHECK(!FPath.empty(), "no scratch folder");
  }
  ~TScratchFolder() {
    unlink((FPath + "/archive.zip").c_str());
    rmdir(FPath.c_str());
  }
  std::string HostFile() const { return FPath + "/archive.zip"; }

 private:
  std::string FPath;
};

const TScratchFolder& Scratch() {
  static const TScratchFolder folder;
  return folder;
}

const char kPassword[] = "735296482913572";

// Failures of one item: each is reported and the next item is tested.
void TestItem(TAbZipArchive& archive, int index) {
  try {
    archive.TestOne(index);
  } catch (const EAbException&) {
  } catch (const EAbInflateError&) {
  } catch (const EReadError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string hostFile = Scratch().HostFile();
  {
    std::ofstream out(hostFile, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    FUZZ_CHECK(out.good(), "cannot write the archive file");
  }
  TAbZipArchive archive(WindowsPathOf(hostFile), fmOpenRead | fmShareDenyNone);
  archive.Password = kPassword;
  archive.TestHook = AbVerifyItem;
  try {
    archive.Load();
  } catch (const EAbException&) {
    return 0;
  } catch (const EReadError&) {
    return 0;
  }
  for (int i = 0; i < archive.Count(); ++i) {
    auto& item = static_cast<TAbZipItem&>(archive.Items(i));
    static_cast<void>(item.FileName());
    FUZZ_CHECK(item.CompressedSize() >= 0 && item.UncompressedSize() >= 0,
               "an item has a negative size");
    TestItem(archive, i);
  }
  return 0;
}
