// corvelzip against other archivers: what it writes, Info-ZIP, 7-Zip and
// Python's zipfile read; what they write, it tests and extracts byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/CorvelZipSupport.h"

namespace {

// The files every round trip carries: compressible, incompressible, empty,
// and one in a folder.
const std::vector<std::pair<std::string, std::string>>& Payload() {
  static const std::vector<std::pair<std::string, std::string>> kFiles = {
      {"words.txt", WordBytes(300000, 1)},
      {"noise.bin", NoiseBytes(70000, 2)},
      {"empty.dat", ""},
      {"sub/inner.txt", WordBytes(5000, 3)},
  };
  return kFiles;
}

void WritePayload(const TScratch& scratch, const std::string& folder) {
  for (const auto& file : Payload()) scratch.Write(folder + "/" + file.first, file.second);
}

std::vector<std::string> PayloadNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& file : Payload()) names.push_back(folder + "/" + file.first);
  return names;
}

// Extracts every entry with Python's zipfile into `target`; its exit status.
int PythonExtract(const std::string& archive, const std::string& password,
                  const std::string& target, std::string& output) {
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "if sys.argv[2]: z.setpassword(sys.argv[2].encode())\n"
      "bad = z.testzip()\n"
      "if bad: sys.exit('bad entry ' + bad)\n"
      "z.extractall(sys.argv[3])\n";
  return RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(archive) + " " +
                        ShellQuote(password) + " " + ShellQuote(target),
                    output);
}

struct TAddCase {
  const char* Method;
  const char* Level;
  const char* Password;
};

class CorvelZipAddOracleTest : public ::testing::TestWithParam<TAddCase> {};

TEST_P(CorvelZipAddOracleTest, ArchivesPassInfoZip7ZipAndPython) {
  const TAddCase& c = GetParam();
  TScratch scratch;
  WritePayload(scratch, "in");
  std::vector<std::string> args = {"a", "-m", c.Method, "-l", c.Level};
  if (*c.Password) args.insert(args.end(), {"-p", c.Password});
  args.push_back("made.zip");
  for (const std::string& name : PayloadNames("in")) args.push_back(name);
  const TToolRun run = RunCorvelZip(args, scratch.Root());
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const std::string archive = scratch.Host("made.zip");
  std::string output;

  if (HaveTool("unzip")) {
    EXPECT_EQ(
        RunCommand("unzip -t -P " + ShellQuote(c.Password) + " " + ShellQuote(archive), output), 0)
        << output;
    EXPECT_NE(output.find("No errors detected"), std::string::npos) << output;
  }
  if (HaveTool("7zz")) {
    EXPECT_EQ(RunCommand("7zz t -p" + ShellQuote(c.Password) + " " + ShellQuote(archive), output),
              0)
        << output;
    EXPECT_NE(output.find("Everything is Ok"), std::string::npos) << output;
  }
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is missing";
  ASSERT_EQ(PythonExtract(archive, c.Password, scratch.Host("py"), output), 0) << output;
  for (const auto& file : Payload()) {
    SCOPED_TRACE(file.first);
    EXPECT_EQ(scratch.Read("py/in/" + file.first), file.second);
  }
}

INSTANTIATE_TEST_SUITE_P(
    MethodsLevelsPasswords, CorvelZipAddOracleTest,
    ::testing::Values(TAddCase{"best", "n", ""}, TAddCase{"best", "n", "735296482913572"},
                      TAddCase{"store", "n", "pw"}, TAddCase{"deflate", "x", ""},
                      TAddCase{"deflate", "f", "pw"}, TAddCase{"deflate", "s", ""},
                      TAddCase{"deflate", "0", "pw"}));

// A foreign archive: the shell command that makes `made.zip` from folder
// "in", run in the scratch folder, and the password it used.
struct TForeignCase {
  const char* Tool;
  const char* Command;
  const char* Password;
};

class CorvelZipForeignTest : public ::testing::TestWithParam<TForeignCase> {};

TEST_P(CorvelZipForeignTest, TestsAndExtractsByteIdentical) {
  const TForeignCase& c = GetParam();
  if (!HaveTool(c.Tool)) GTEST_SKIP() << c.Tool << " is missing";
  TScratch scratch;
  WritePayload(scratch, "in");
  std::string output;
  ASSERT_EQ(RunCommand("cd " + ShellQuote(scratch.Root()) + " && " + c.Command, output), 0)
      << output;

  std::vector<std::string> password;
  if (*c.Password) password = {"-p", c.Password};
  std::vector<std::string> test = {"t"};
  test.insert(test.end(), password.begin(), password.end());
  test.push_back("made.zip");
  const TToolRun tested = RunCorvelZip(test, scratch.Root());
  EXPECT_EQ(tested.Status, 0) << tested.Err;
  EXPECT_NE(tested.Out.find("No errors in made.zip"), std::string::npos) << tested.Out;

  std::vector<std::string> extract = {"x", "--paths", "-d", "out"};
  extract.insert(extract.end(), password.begin(), password.end());
  extract.push_back("made.zip");
  const TToolRun extracted = RunCorvelZip(extract, scratch.Root());
  ASSERT_EQ(extracted.Status, 0) << extracted.Err;
  for (const auto& file : Payload()) {
    SCOPED_TRACE(file.first);
    EXPECT_EQ(scratch.Read("out/in/" + file.first), file.second);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ZipAnd7Zip, CorvelZipForeignTest,
    ::testing::Values(
        TForeignCase{"zip", "zip -q -r -e -P secret made.zip in", "secret"},
        TForeignCase{"zip", "zip -q -r -0 -e -P secret made.zip in", "secret"},
        TForeignCase{"zip", "zip -q -r -9 made.zip in", ""},
        TForeignCase{"7zz", "7zz a -bd -tzip -psecret -mem=ZipCrypto made.zip in", "secret"},
        TForeignCase{"7zz", "7zz a -bd -tzip -mx=0 -psecret -mem=ZipCrypto made.zip in", "secret"},
        TForeignCase{"7zz", "7zz a -bd -tzip -mm=Deflate64 made.zip in", ""},
        TForeignCase{"python3",
                     "python3 -c \"import zipfile, os\n"
                     "with zipfile.ZipFile('made.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
                     "  for d, _, fs in os.walk('in'):\n"
                     "    for f in fs: z.write(os.path.join(d, f))\"",
                     ""}));

}  // namespace
