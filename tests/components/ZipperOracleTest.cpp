// Archives written by TAbZipper, with and without the password, for every
// compression method and deflation option, over a corpus of awkward files:
// Info-ZIP, 7-Zip and Python's zipfile must all read them back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ComponentSupport.h"
#include "archive/AbZipper.h"

namespace {

const std::string kPassword = "735296482913572";

struct TCorpusFile {
  std::string Name;
  std::string Bytes;
};

std::vector<TCorpusFile> Corpus() {
  std::string big = WordBytes(2 << 20, 7);
  big += NoiseBytes(1 << 20, 8);  // several MB with an incompressible stretch
  return {
      {"empty.txt", ""},
      {"one.bin", "Z"},
      {"text.txt", WordBytes(60000, 1)},
      {"noise.bin", NoiseBytes(100000, 2)},
      {"big.dat", big},
      {"readonly.txt", WordBytes(5000, 3)},
      {"\xC5\x9F\xC4\x9F\xC4\xB0\xC3\xB6\xC3\xBC\xC3\xA7.txt", WordBytes(7000, 4)},  // şğİöüç
  };
}

const char* const kMethodNames[] = {"smStored", "smDeflated", "smBestMethod"};
const char* const kOptionNames[] = {"doInvalid", "doNormal", "doMaximum", "doFast", "doSuperFast"};

// Python's zipfile extracts every entry with the password; each must equal
// the file it came from, and every corpus file must be in the archive.
const char* const kPythonCheck = R"PY(
import sys, zipfile, os
archive, root, password = sys.argv[1], sys.argv[2], sys.argv[3].encode()
with zipfile.ZipFile(archive) as z:
    names = z.namelist()
    for name in names:
        data = z.read(name, pwd=password or None)
        with open(os.path.join(root, name), 'rb') as f:
            if f.read() != data:
                sys.exit('different bytes: ' + name)
    expected = sorted('Data/' + n for n in os.listdir(os.path.join(root, 'Data')))
    if sorted(names) != expected:
        sys.exit('names %r, expected %r' % (names, expected))
print('ok', len(names))
)PY";

class ZipperOracleTest : public ::testing::TestWithParam<
                             std::tuple<bool, TAbZipSupportedMethod, TAbZipDeflationOption>> {};

TEST_P(ZipperOracleTest, ToolsReadEveryEntryBack) {
  const auto [encrypted, method, option] = GetParam();
  TTempDrive drive;
  for (const TCorpusFile& file : Corpus()) drive.Write("Data/" + file.Name, file.Bytes);
  ASSERT_EQ(::chmod(drive.Host("Data/readonly.txt").c_str(), 0444), 0);
  drive.MakeFolder("Out");

  {
    TAbZipper zipper;
    zipper.SetFileName("C:\\Out\\backup.zip");
    if (encrypted) zipper.SetPassword(kPassword);
    zipper.SetCompressionMethodToUse(method);
    zipper.SetDeflationOption(option);
    zipper.AddMatching("C:\\Data\\*.*", 0);
    zipper.CloseFile();
  }
  const std::string archive = drive.Host("Out/backup.zip");
  const std::string password = encrypted ? kPassword : std::string();
  std::string output;

  EXPECT_EQ(RunCommand("unzip -t -P " + ShellQuote(password) + " " + ShellQuote(archive), output),
            0)
      << output;
  EXPECT_NE(output.find("No errors detected"), std::string::npos) << output;

  if (HaveTool("7zz")) {
    const std::string passwordOption = encrypted ? " -p" + ShellQuote(password) : std::string();
    EXPECT_EQ(RunCommand("7zz t" + passwordOption + " " + ShellQuote(archive), output), 0)
        << output;
    EXPECT_NE(output.find("Everything is Ok"), std::string::npos) << output;
    EXPECT_EQ(output.find("Warning"), std::string::npos) << output;
  }

  EXPECT_EQ(RunCommand("python3 -c " + ShellQuote(kPythonCheck) + " " + ShellQuote(archive) + " " +
                           ShellQuote(drive.Host("")) + " " + ShellQuote(password),
                       output),
            0)
      << output;
  EXPECT_NE(output.find("ok 7"), std::string::npos) << output;
}

std::string CaseName(
    const ::testing::TestParamInfo<std::tuple<bool, TAbZipSupportedMethod, TAbZipDeflationOption>>&
        info) {
  return std::string(std::get<0>(info.param) ? "Password_" : "Plain_") +
         kMethodNames[std::get<1>(info.param)] + "_" + kOptionNames[std::get<2>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(
    AllSettings, ZipperOracleTest,
    ::testing::Combine(::testing::Bool(), ::testing::Values(smStored, smDeflated, smBestMethod),
                       ::testing::Values(doNormal, doMaximum, doFast, doSuperFast, doInvalid)),
    CaseName);

}  // namespace
