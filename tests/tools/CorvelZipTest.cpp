// corvelzip as a user runs it: its command line, exit statuses and messages,
// listing, testing a damaged archive, extracting and adding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/tools/CorvelZipSupport.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs a Python script with arguments; its exit status, output in `output`.
int Python(const std::string& script, const std::vector<std::string>& args, std::string& output) {
  std::string command = "python3 -c " + ShellQuote(script);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  return RunCommand(command, output);
}

// Writes an archive with Python's zipfile: each entry's name and data
// (deflated), a name ending in '/' being a folder.
void PythonArchive(const std::string& path,
                   const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string script =
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "  for i in range(2, len(sys.argv), 2): z.writestr(sys.argv[i], sys.argv[i + 1])\n";
  std::vector<std::string> args = {path};
  for (const auto& entry : entries) args.insert(args.end(), {entry.first, entry.second});
  std::string output;
  ASSERT_EQ(Python(script, args, output), 0) << output;
}

class CorvelZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is missing";
  }
  TToolRun Run(const std::vector<std::string>& args, const std::string& environment = "") {
    return RunCorvelZip(args, FScratch.Root(), environment);
  }
  // The names Python's zipfile finds in an archive, one per line.
  std::string NamesIn(const std::string& archive) {
    std::string output;
    EXPECT_EQ(Python("import sys, zipfile\n"
                     "print('\\n'.join(zipfile.ZipFile(sys.argv[1]).namelist()))",
                     {FScratch.Host(archive)}, output),
              0)
        << output;
    return output;
  }

  TScratch FScratch;
};

// ------------------------------------------------------------ command line

TEST_F(CorvelZipTest, HelpDescribesEveryCommandAndOption) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"-h"}, {"x", "--help"}}) {
    const TToolRun run = Run(args);
    SCOPED_TRACE(args[0]);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "");
    for (const char* part : {"corvelzip l ARCHIVE", "corvelzip t [-p PASSWORD] ARCHIVE",
                             "corvelzip x [-p PASSWORD] [-d FOLDER] [--paths] ARCHIVE [MASK...]",
                             "corvelzip a [-p PASSWORD] [-m store|deflate|best] [-l n|x|f|s|0]",
                             "--paths", "Exit status", "ZELVORA_DRIVE_X"})
      EXPECT_TRUE(Contains(run.Out, part)) << part;
  }
}

TEST_F(CorvelZipTest, UsageErrorsExitTwoWithTheReason) {
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } kCases[] = {
      {{}, "no command given"},
      {{"q", "a.zip"}, "unknown command 'q'"},
      {{"l"}, "no archive given"},
      {{"a", "a.zip"}, "no files to add"},
      {{"t", "a.zip", "extra"}, "'t' takes only the archive"},
      {{"x", "-m", "store", "a.zip"}, "option -m is not known to 'x'"},
      {{"l", "-p", "pw", "a.zip"}, "option -p is not known to 'l'"},
      {{"x", "a.zip", "-d"}, "option -d needs a value"},
      {{"a", "-m", "fast", "a.zip", "f"}, "-m takes store, deflate or best, not 'fast'"},
      {{"a", "-l", "9", "a.zip", "f"}, "-l takes n, x, f, s or 0, not '9'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Message);
    const TToolRun run = Run(c.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(Contains(run.Err, std::string("corvelzip: ") + c.Message)) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "Try 'corvelzip --help'.")) << run.Err;
  }
}

TEST_F(CorvelZipTest, AnArchiveOrFolderThatCannotBeUsedExitsTwo) {
  FScratch.Write("text.zip", "this is not an archive at all\n");
  FScratch.Write("text.txt", "neither is this\n");
  FScratch.Write("file", "x");
  PythonArchive(FScratch.Host("real.zip"), {{"a.txt", "a"}});
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } kCases[] = {
      {{"l", "text.zip"}, "corvelzip: text.zip: Invalid file - not a PKZip file\n"},
      {{"t", "text.txt"}, "corvelzip: text.txt: Invalid file - not a PKZip file\n"},
      {{"x", "text.zip"}, "corvelzip: text.zip: Invalid file - not a PKZip file\n"},
      {{"a", "text.zip", "file"}, "corvelzip: text.zip: Invalid file - not a PKZip file\n"},
      {{"l", "missing.zip"}, "corvelzip: missing.zip: File not found\n"},
      {{"t", "."}, "corvelzip: .: File not found\n"},
      {{"x", "-d", "file", "real.zip"}, "corvelzip: real.zip: file: is a file, not a folder\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Message);
    const TToolRun run = Run(c.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err, c.Message);
  }
  // Adding to it left it alone.
  EXPECT_EQ(FScratch.Read("text.zip"), "this is not an archive at all\n");
}

// ------------------------------------------------------------------ list

TEST_F(CorvelZipTest, ListShowsEveryColumnOfEachEntry) {
  FScratch.Write("in/a.txt", WordBytes(20000, 5));
  FScratch.Write("in/b.bin", NoiseBytes(3000, 6));
  ASSERT_EQ(Run({"a", "-p", "pw", "a.zip", "in/a.txt"}).Status, 0);
  ASSERT_EQ(Run({"a", "-m", "store", "a.zip", "in/b.bin"}).Status, 0);
  // What Python reads from the same archive, in the tool's layout.
  std::string expected;
  ASSERT_EQ(Python("import sys, zipfile\n"
                   "m = {0: 'Stored', 8: 'Deflated'}\n"
                   "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                   "  print('%10d  %10d  %-9s  %-3s  %04d-%02d-%02d %02d:%02d:%02d  %08X  %s' % (\n"
                   "    i.file_size, i.compress_size, m[i.compress_type],\n"
                   "    '*' if i.flag_bits & 1 else '', *i.date_time, i.CRC, i.filename))",
                   {FScratch.Host("a.zip")}, expected),
            0)
      << expected;

  const TToolRun run = Run({"l", "a.zip"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  EXPECT_TRUE(Contains(run.Out, expected)) << run.Out << "\nexpected:\n" << expected;
  EXPECT_TRUE(Contains(run.Out, "Deflated   *")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "2 entries")) << run.Out;
}

// ------------------------------------------------------------------ test

TEST_F(CorvelZipTest, AFlippedByteFailsItsEntryAndExitsOne) {
  FScratch.Write("in/good.txt", WordBytes(40000, 7));
  FScratch.Write("in/deflated.txt", WordBytes(60000, 8));
  FScratch.Write("in/stored.bin", NoiseBytes(20000, 9));
  ASSERT_EQ(Run({"a", "a.zip", "in/good.txt", "in/deflated.txt", "in/stored.bin"}).Status, 0);
  // Flips one byte in the middle of the data of `entry`.
  const std::string flip =
      "import sys, zipfile, struct\n"
      "data = bytearray(open(sys.argv[1], 'rb').read())\n"
      "info = zipfile.ZipFile(sys.argv[1]).getinfo(sys.argv[2])\n"
      "o = info.header_offset\n"
      "n, e = struct.unpack('<HH', data[o + 26:o + 30])\n"
      "data[o + 30 + n + e + info.compress_size // 2] ^= 0x55\n"
      "open(sys.argv[1], 'wb').write(data)\n";
  const struct {
    const char* Entry;
    const char* Message;
  } kCases[] = {
      // A decoding error or a CRC mismatch, depending on where the byte falls.
      {"in/deflated.txt", "corvelzip: damaged.zip: in/deflated.txt: "},
      {"in/stored.bin", "corvelzip: damaged.zip: in/stored.bin: Failed CRC Check\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Entry);
    TScratch copy;
    const std::string damaged = copy.Host("damaged.zip");
    copy.Write("damaged.zip", FScratch.Read("a.zip"));
    std::string output;
    ASSERT_EQ(Python(flip, {damaged, c.Entry}, output), 0) << output;

    const TToolRun run = RunCorvelZip({"t", "damaged.zip"}, copy.Root());
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, c.Message)) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "corvelzip: damaged.zip: 1 of 3 entries failed\n")) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "  OK: in/good.txt\n")) << run.Out;
    EXPECT_FALSE(Contains(run.Out, c.Entry)) << run.Out;
  }
}

TEST_F(CorvelZipTest, AMissingOrWrongPasswordFailsEachEntry) {
  // A fixed archive of three encrypted entries: a wrong password passes the
  // check byte of one header in 256, so one made now could let it through.
  const char* tests = std::getenv("ZELVORA_TEST_SOURCE_DIR");
  ASSERT_NE(tests, nullptr);
  std::ifstream fixture(std::string(tests) + "/data/damaged/good.zip", std::ios::binary);
  FScratch.Write("a.zip", std::string(std::istreambuf_iterator<char>(fixture), {}));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"t", "a.zip"},
                                               {"t", "-p", "wrong", "a.zip"},
                                               {"x", "-p", "wrong", "-d", "out", "a.zip"}}) {
    SCOPED_TRACE(args[1]);
    const TToolRun run = Run(args);
    EXPECT_EQ(run.Status, 1);
    for (const char* entry : {"a.mdf", "b.ldf", "c.txt"}) {
      EXPECT_TRUE(Contains(
          run.Err, std::string("a.zip: ") + entry + ": Cannot extract file - invalid password\n"))
          << run.Err;
    }
  }
  EXPECT_FALSE(FScratch.Exists("out/a.mdf"));
  EXPECT_EQ(Run({"t", "-p", "735296482913572", "a.zip"}).Status, 0);
}

// -------------------------------------------------------------- extract

TEST_F(CorvelZipTest, ExtractWritesBareNamesOrWithPathsTheStoredFolders) {
  PythonArchive(FScratch.Host("a.zip"), {{"top.txt", "top"},
                                         {"Zelvora/Data/x.mdf", "database"},
                                         {"Zelvora/Data/empty/", ""},
                                         {"docs/readme.txt", "read me"}});
  FScratch.Write("bare/x.mdf", "old contents to be replaced");

  const TToolRun bare = Run({"x", "-d", "bare", "a.zip"});
  ASSERT_EQ(bare.Status, 0) << bare.Err;
  EXPECT_EQ(FScratch.Read("bare/top.txt"), "top");
  EXPECT_EQ(FScratch.Read("bare/x.mdf"), "database");
  EXPECT_EQ(FScratch.Read("bare/readme.txt"), "read me");
  EXPECT_FALSE(FScratch.Exists("bare/Zelvora"));
  EXPECT_FALSE(FScratch.Exists("bare/empty"));

  // The folder named by -d is created, with every level.
  const TToolRun paths = Run({"x", "--paths", "-d", "new/deep", "a.zip"});
  ASSERT_EQ(paths.Status, 0) << paths.Err;
  EXPECT_EQ(FScratch.Read("new/deep/top.txt"), "top");
  EXPECT_EQ(FScratch.Read("new/deep/Zelvora/Data/x.mdf"), "database");
  EXPECT_EQ(FScratch.Read("new/deep/docs/readme.txt"), "read me");
  EXPECT_TRUE(FScratch.Exists("new/deep/Zelvora/Data/empty"));
  EXPECT_FALSE(FScratch.Exists("new/deep/x.mdf"));

  // Without -d: the current folder.
  ASSERT_EQ(Run({"x", "a.zip", "top.txt"}).Status, 0);
  EXPECT_EQ(FScratch.Read("top.txt"), "top");
}

TEST_F(CorvelZipTest, ExtractTakesTheEntriesMatchingAnyMask) {
  PythonArchive(FScratch.Host("a.zip"),
                {{"a.txt", "1"}, {"sub/b.TXT", "2"}, {"c.bin", "3"}, {"d.bin", "4"}});
  const TToolRun run = Run({"x", "-d", "out", "a.zip", "*.txt", "c.*"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(FScratch.Exists("out/a.txt"));
  EXPECT_TRUE(FScratch.Exists("out/b.TXT"));
  EXPECT_TRUE(FScratch.Exists("out/c.bin"));
  EXPECT_FALSE(FScratch.Exists("out/d.bin"));

  const TToolRun unmatched = Run({"x", "-d", "more", "a.zip", "d.bin", "*.doc"});
  EXPECT_EQ(unmatched.Status, 1);
  EXPECT_TRUE(Contains(unmatched.Err, "corvelzip: a.zip: *.doc: no entry matches\n"))
      << unmatched.Err;
  EXPECT_FALSE(Contains(unmatched.Err, "entries failed")) << unmatched.Err;
  EXPECT_TRUE(FScratch.Exists("more/d.bin"));
}

TEST_F(CorvelZipTest, NamesThatWouldLeaveTheFolderAreRefused) {
  PythonArchive(FScratch.Host("evil.zip"), {{"../escaped.txt", "1"},
                                            {"/absolute.txt", "2"},
                                            {"a/../../climbed.txt", "3"},
                                            {"../outside/", ""},
                                            {"fine/ok.txt", "4"}});
  const TToolRun run = Run({"x", "--paths", "-d", "target/inner", "evil.zip"});
  EXPECT_EQ(run.Status, 1);
  for (const char* entry :
       {"../escaped.txt", "/absolute.txt", "a/../../climbed.txt", "../outside/"})
    EXPECT_TRUE(Contains(run.Err, std::string("corvelzip: evil.zip: ") + entry +
                                      ": Cannot extract file - unsafe path"))
        << entry << "\n"
        << run.Err;
  EXPECT_TRUE(Contains(run.Err, "4 of 5 entries failed")) << run.Err;
  EXPECT_EQ(FScratch.Read("target/inner/fine/ok.txt"), "4");
  for (const char* outside : {"target/escaped.txt", "escaped.txt", "target/climbed.txt",
                              "target/outside", "target/absolute.txt"})
    EXPECT_FALSE(FScratch.Exists(outside)) << outside;
}

// ------------------------------------------------------------------- add

TEST_F(CorvelZipTest, AddExtendsAnExistingArchiveAndRefusesDuplicates) {
  FScratch.Write("one.txt", "first");
  FScratch.Write("sub/two.txt", "second");
  FScratch.Write(".hidden", "dot file");
  ASSERT_EQ(Run({"a", "a.zip", "one.txt"}).Status, 0);

  const TToolRun run = Run({"a", "a.zip", "sub/two.txt", ".hidden"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(Contains(run.Out, "  added: sub/two.txt (Stored, 6 -> 6 bytes)\n")) << run.Out;
  EXPECT_EQ(NamesIn("a.zip"), "one.txt\nsub/two.txt\n.hidden\n");

  FScratch.Write("three.txt", "third");
  const TToolRun again = Run({"a", "a.zip", "one.txt", "three.txt"});
  EXPECT_EQ(again.Status, 1);
  EXPECT_EQ(again.Err, "corvelzip: a.zip: one.txt: Cannot insert file - duplicates stored name\n");
  EXPECT_EQ(NamesIn("a.zip"), "one.txt\nsub/two.txt\n.hidden\nthree.txt\n");
  EXPECT_EQ(Run({"t", "a.zip"}).Status, 0);
}

TEST_F(CorvelZipTest, FilesThatCannotBeAddedAreNamedAndTheRestIsAdded) {
  FScratch.Write("ok.txt", "fine");
  FScratch.Write("folder/inside.txt", "x");
  FScratch.Write("locked.txt", "no reading");
  std::string probe;
  ASSERT_EQ(RunCommand("chmod 000 " + ShellQuote(FScratch.Host("locked.txt")), probe), 0);
  const bool readable = RunCommand("cat " + ShellQuote(FScratch.Host("locked.txt")), probe) == 0;

  const TToolRun run = Run({"a", "a.zip", "missing.txt", "folder", "ok.txt", "locked.txt"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Err, "corvelzip: a.zip: missing.txt: File not found\n")) << run.Err;
  EXPECT_TRUE(Contains(run.Err, "corvelzip: a.zip: folder: is a folder; only files are added\n"))
      << run.Err;
  if (!readable) {  // root reads every file
    EXPECT_TRUE(Contains(run.Err, "corvelzip: a.zip: locked.txt: Cannot open file")) << run.Err;
  }
  EXPECT_EQ(NamesIn("a.zip"), readable ? "ok.txt\nlocked.txt\n" : "ok.txt\n");

  // Nothing to add: a new archive is not created.
  const TToolRun none = Run({"a", "none.zip", "missing.txt"});
  EXPECT_EQ(none.Status, 1);
  EXPECT_FALSE(FScratch.Exists("none.zip"));
}

TEST_F(CorvelZipTest, HostAndWindowsPathsAndMasks) {
  FScratch.Write("drive/Data/a.txt", "on C:");
  FScratch.Write("drive/Data/b.txt", "also on C:");
  FScratch.Write("drive/Data/c.bin", "not matched");
  FScratch.Write("abs/host.txt", "absolute host path");
  const std::string drive = "ZELVORA_DRIVE_C=" + ShellQuote(FScratch.Host("drive"));

  const TToolRun run =
      Run({"a", "C:\\out.zip", "C:\\Data\\*.txt", FScratch.Host("abs/host.txt")}, drive);
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_TRUE(FScratch.Exists("drive/out.zip"));
  // A Windows path is stored without its drive, a host path without its leading '/'.
  std::string hostName = FScratch.Host("abs/host.txt").substr(1);
  EXPECT_EQ(NamesIn("drive/out.zip"), "Data/a.txt\nData/b.txt\n" + hostName + "\n");

  const TToolRun extract = Run({"x", "-d", "C:\\Restored", "C:\\out.zip"}, drive);
  ASSERT_EQ(extract.Status, 0) << extract.Err;
  EXPECT_EQ(FScratch.Read("drive/Restored/b.txt"), "also on C:");
  EXPECT_EQ(FScratch.Read("drive/Restored/host.txt"), "absolute host path");
}

// -------------------------------------------------------------- progress

TEST_F(CorvelZipTest, ProgressIsDrawnOnlyOnATerminal) {
  FScratch.Write("big.txt", WordBytes(3000000, 12));
  const TToolRun quiet = Run({"a", "a.zip", "big.txt"});
  ASSERT_EQ(quiet.Status, 0) << quiet.Err;
  EXPECT_EQ(quiet.Err, "");

  // Standard error on a pseudo-terminal, standard output on a pipe.
  std::string output;
  ASSERT_EQ(Python("import os, pty, subprocess, sys\n"
                   "master, slave = pty.openpty()\n"
                   "p = subprocess.run(sys.argv[1:], stderr=slave, stdout=subprocess.PIPE)\n"
                   "os.close(slave)\n"
                   "err = b''\n"
                   "while True:\n"
                   "  try: chunk = os.read(master, 65536)\n"
                   "  except OSError: break\n"
                   "  if not chunk: break\n"
                   "  err += chunk\n"
                   "sys.stdout.write(repr(err))\n"
                   "sys.exit(p.returncode)",
                   {CORVELZIP_PATH, "t", FScratch.Host("a.zip")}, output),
            0)
      << output;
  EXPECT_TRUE(Contains(output, "\\r[")) << output;
  EXPECT_TRUE(Contains(output, "100% big.txt")) << output;
  EXPECT_TRUE(Contains(output, "\\x1b[K")) << output;
}

}  // namespace
