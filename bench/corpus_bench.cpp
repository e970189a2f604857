// The engine against zlib, Info-ZIP and 7-Zip on one corpus, in one run:
// per file group and for the whole corpus, our Deflate at levels "s", "f",
// "n", "x" beside zlib levels 1, 6 and 9, our Inflate beside zlib's, CRC-32
// and the cipher both ways; then whole archives: corvelzip a -p against
// zip -6 -P, corvelzip t -p against unzip -t -P and 7zz t -p, the peak
// resident memory of the backup, and the share of its time the work stream's
// copy takes. Throughput is MB of uncompressed data per CPU second. Prints
// figures, checks nothing but that every round trip gives the data back.
//
// Usage: corpus_bench CORPUS_FOLDER [--no-tools] [--no-zlib-levels] [--levels LETTERS]
// (bench/run_corpus_bench.sh makes the corpus and runs this).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/AbUtils.h"
#include "archive/AbVMStrm.h"
#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "archive/inflate/AbDfCryS.h"
#include "archive/inflate/AbDfDec.h"
#include "platform/Classes.h"
#include "tests/support/BytesReader.h"

#ifndef CORVELZIP_PATH
#define CORVELZIP_PATH "corvelzip"
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kPassword = "735296482913572";

// ------------------------------------------------------------ streams over memory

// Collects what is written (or only counts it).
class TBytesWriter : public TStream {
 public:
  explicit TBytesWriter(bool aKeep) : FKeep(aKeep) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* aBuffer, int32_t aCount) override {
    if (FKeep) {
      const auto* bytes = static_cast<const uint8_t*>(aBuffer);
      Bytes.insert(Bytes.end(), bytes, bytes + aCount);
    }
    FPos += aCount;
    return aCount;
  }
  int64_t Seek(int64_t aOffset, int aOrigin) override {
    if (aOrigin == soFromBeginning) FPos = aOffset;
    if (aOrigin != soFromBeginning) FPos += aOffset;
    return FPos;
  }
  std::vector<uint8_t> Bytes;

 private:
  bool FKeep;
  int64_t FPos = 0;
};

// ------------------------------------------------------------ timing

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Rate(int64_t aBytes, double aSeconds) {
  return aSeconds > 0 ? double(aBytes) / 1e6 / aSeconds : 0;
}

// ------------------------------------------------------------ corpus

struct TFile {
  std::string RelPath;
  std::vector<uint8_t> Bytes;
};

struct TGroup {
  std::string Name;
  std::vector<const TFile*> Files;
  int64_t Size = 0;
};

std::vector<std::string> FileNames(const fs::path& aRoot) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(aRoot))
    if (entry.is_regular_file())
      names.push_back(fs::relative(entry.path(), aRoot).generic_string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<TFile> LoadCorpus(const fs::path& aRoot) {
  std::vector<TFile> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(aRoot)) {
    if (!entry.is_regular_file()) continue;
    TFile file;
    file.RelPath = fs::relative(entry.path(), aRoot).generic_string();
    std::ifstream in(entry.path(), std::ios::binary);
    file.Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(),
            [](const TFile& a, const TFile& b) { return a.RelPath < b.RelPath; });
  return files;
}

std::vector<TGroup> GroupsOf(const std::vector<TFile>& aFiles) {
  std::map<std::string, TGroup> byName;
  for (const TFile& file : aFiles) {
    const std::string top = file.RelPath.substr(0, file.RelPath.find('/'));
    TGroup& group = byName[top];
    group.Name = top;
    group.Files.push_back(&file);
    group.Size += int64_t(file.Bytes.size());
  }
  std::vector<TGroup> groups;
  for (auto& [name, group] : byName) groups.push_back(group);
  return groups;
}

// ------------------------------------------------------------ codecs

std::vector<uint8_t> OurDeflate(const std::vector<uint8_t>& aData, char aLevel, bool aPassword) {
  TBytesReader source(aData);
  TBytesWriter dest(true);
  TAbDeflateHelper helper;
  helper.SelectLevel('0');
  helper.SelectLevel(aLevel);
  if (aPassword) {
    helper.Password = kPassword;
    helper.HeaderCheck = 0x12345678;
  }
  Deflate(&source, &dest, &helper);
  return std::move(dest.Bytes);
}

void OurInflate(const std::vector<uint8_t>& aPacked, size_t aExpectedSize) {
  TBytesReader source(aPacked);
  TBytesWriter dest(false);
  Inflate(&source, &dest, nullptr);
  if (dest.Position() != int64_t(aExpectedSize)) {
    std::fprintf(stderr, "our inflate gave %lld bytes, not %zu\n",
                 static_cast<long long>(dest.Position()), aExpectedSize);
    std::exit(1);
  }
}

size_t ZlibDeflate(const std::vector<uint8_t>& aData, int aLevel, std::vector<uint8_t>& aOut) {
  z_stream stream{};
  deflateInit2(&stream, aLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  aOut.resize(deflateBound(&stream, uLong(aData.size())));
  stream.next_in = const_cast<Bytef*>(aData.data());
  stream.avail_in = uInt(aData.size());
  stream.next_out = aOut.data();
  stream.avail_out = uInt(aOut.size());
  deflate(&stream, Z_FINISH);
  const size_t size = stream.total_out;
  deflateEnd(&stream);
  aOut.resize(size);
  return size;
}

void ZlibInflate(const std::vector<uint8_t>& aPacked, size_t aExpectedSize,
                 std::vector<uint8_t>& aOut) {
  z_stream stream{};
  inflateInit2(&stream, -15);
  aOut.resize(aExpectedSize + 1);
  stream.next_in = const_cast<Bytef*>(aPacked.data());
  stream.avail_in = uInt(aPacked.size());
  stream.next_out = aOut.data();
  stream.avail_out = uInt(aOut.size());
  const int result = inflate(&stream, Z_FINISH);
  if (result != Z_STREAM_END || stream.total_out != aExpectedSize) {
    std::fprintf(stderr, "zlib could not inflate our output (%d)\n", result);
    std::exit(1);
  }
  inflateEnd(&stream);
}

// ------------------------------------------------------------ report

// One figure of a group: CPU seconds over the group's data, the packed size
// (-1: none) and the row it is compared with.
struct TMeasure {
  std::string Name;
  double Seconds = 0;
  int64_t Size = -1;
  std::string Peer;
};

using TMeasures = std::vector<TMeasure>;

const TMeasure* Find(const TMeasures& aMeasures, const std::string& aName) {
  for (const TMeasure& m : aMeasures)
    if (m.Name == aName) return &m;
  return nullptr;
}

void PrintMeasures(const std::string& aTitle, const TMeasures& aMeasures, int64_t aOriginal) {
  std::printf("\n%s, %lld bytes\n", aTitle.c_str(), static_cast<long long>(aOriginal));
  std::printf("  %-24s %14s  %12s  %6s\n", "", "CPU", "packed", "ratio");
  for (const TMeasure& m : aMeasures) {
    const double rate = Rate(aOriginal, m.Seconds);
    std::printf("  %-24s %9.1f MB/s", m.Name.c_str(), rate);
    if (m.Size >= 0)
      std::printf("  %12lld  %6.3f", static_cast<long long>(m.Size),
                  double(m.Size) / double(aOriginal));
    else
      std::printf("  %12s  %6s", "", "");
    if (const TMeasure* peer = Find(aMeasures, m.Peer)) {
      std::printf("   speed x%.2f vs %s", peer->Seconds / m.Seconds, peer->Name.c_str());
      if (m.Size >= 0 && peer->Size > 0)
        std::printf(", size x%.3f", double(m.Size) / double(peer->Size));
    }
    std::printf("\n");
  }
}

// CPU seconds of `aStep` run on every file of the group.
double TimeFiles(const TGroup& aGroup, const std::function<void(size_t, const TFile&)>& aStep) {
  const double start = CpuSeconds();
  for (size_t i = 0; i < aGroup.Files.size(); ++i) aStep(i, *aGroup.Files[i]);
  return CpuSeconds() - start;
}

TMeasures BenchGroup(const TGroup& aGroup, const std::string& aLevels, bool aPeerLevels) {
  TMeasures result;
  std::vector<std::vector<uint8_t>> scratch(aGroup.Files.size());
  // Ours beside the zlib level of about the same effort.
  const std::map<char, int> peerLevel = {{'s', 1}, {'f', 1}, {'n', 6}, {'x', 9}};
  std::vector<std::vector<uint8_t>> normal(aGroup.Files.size());
  for (char level : aLevels) {
    TMeasure m{std::string("ours \"") + level + "\"", 0, 0,
               "zlib " + std::to_string(peerLevel.count(level) ? peerLevel.at(level) : 6)};
    m.Seconds = TimeFiles(aGroup, [&](size_t i, const TFile& f) {
      std::vector<uint8_t> packed = OurDeflate(f.Bytes, level, false);
      m.Size += int64_t(packed.size());
      if (level == 'n') normal[i] = std::move(packed);
    });
    result.push_back(m);
  }
  for (int level : {1, 6, 9}) {
    if (!aPeerLevels) break;
    TMeasure m{"zlib " + std::to_string(level), 0, 0, ""};
    m.Seconds = TimeFiles(aGroup, [&](size_t i, const TFile& f) {
      m.Size += int64_t(ZlibDeflate(f.Bytes, level, scratch[i]));
    });
    result.push_back(m);
  }

  if (aLevels.find('n') != std::string::npos) {
    result.push_back(
        {"ours inflate (of \"n\")",
         TimeFiles(aGroup,
                   [&](size_t i, const TFile& f) { OurInflate(normal[i], f.Bytes.size()); }),
         -1, "zlib inflate"});
    std::vector<uint8_t> out;
    result.push_back(
        {"zlib inflate",
         TimeFiles(aGroup,
                   [&](size_t i, const TFile& f) { ZlibInflate(normal[i], f.Bytes.size(), out); }),
         -1, ""});
  }

  uint32_t ourCrc = 0;
  uLong zlibCrc = 0;
  bool crcAgrees = true;
  result.push_back({"ours CRC-32",
                    TimeFiles(aGroup,
                              [&](size_t, const TFile& f) {
                                ourCrc = UpdateCrc32(0xFFFFFFFF, f.Bytes.data(),
                                                     int32_t(f.Bytes.size()));
                              }),
                    -1, "zlib crc32"});
  result.push_back({"zlib crc32",
                    TimeFiles(aGroup,
                              [&](size_t, const TFile& f) {
                                zlibCrc = crc32(0, f.Bytes.data(), uInt(f.Bytes.size()));
                                crcAgrees = crcAgrees && zlibCrc == crc32(0, f.Bytes.data(),
                                                                          uInt(f.Bytes.size()));
                              }),
                    -1, ""});
  if ((ourCrc ^ 0xFFFFFFFF) != zlibCrc || !crcAgrees)
    std::fprintf(stderr, "CRC-32 differs from zlib's\n");

  std::vector<uint8_t> work;
  TAbZipEncryptEngine encrypter;
  TAbZipEncryptHeader header;
  encrypter.CreateHeader(header, kPassword, 0x12345678);
  result.push_back({"ours encrypt",
                    TimeFiles(aGroup,
                              [&](size_t, const TFile& f) {
                                work = f.Bytes;
                                encrypter.EncodeBuffer(work.data(), int32_t(work.size()));
                              }),
                    -1, ""});
  TAbZipDecryptEngine decrypter;
  decrypter.VerifyHeader(header, kPassword, 0x12345678);
  result.push_back({"ours decrypt",
                    TimeFiles(aGroup,
                              [&](size_t, const TFile& f) {
                                work = f.Bytes;
                                decrypter.Decode(work.data(), int32_t(work.size()));
                              }),
                    -1, ""});
  return result;
}

// ------------------------------------------------------------ tools

struct TRun {
  bool Ok = false;
  double Cpu = 0, Wall = 0;
  long PeakKiB = 0;
};

bool OnPath(const std::string& aTool) {
  return std::system(("command -v " + aTool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs the program in `aFolder` with stdout and stderr discarded.
TRun RunTool(const std::vector<std::string>& aArgs, const std::string& aFolder) {
  TRun run;
  std::vector<char*> argv;
  for (const std::string& arg : aArgs) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string saved = fs::current_path().string();
  fs::current_path(aFolder);
  const double start = WallSeconds();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  fs::current_path(saved);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.Wall = WallSeconds() - start;
  run.Cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  run.PeakKiB = usage.ru_maxrss;
  run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

void PrintRun(const char* aName, const TRun& aRun, int64_t aBytes, const TRun* aPeer) {
  std::printf("  %-24s %9.1f MB/s  %6.2f s CPU %6.2f s wall  peak %6.1f MiB%s", aName,
              Rate(aBytes, aRun.Cpu), aRun.Cpu, aRun.Wall, double(aRun.PeakKiB) / 1024.0,
              aRun.Ok ? "" : "  FAILED");
  if (aPeer != nullptr && aRun.Cpu > 0) std::printf("   speed x%.2f", aPeer->Cpu / aRun.Cpu);
  std::printf("\n");
}

// The work stream's share of a backup: the packed items written to a
// swap-backed work stream and copied on into a file, as the zipper does.
double WorkStreamSeconds(const std::vector<std::vector<uint8_t>>& aPacked,
                         const std::string& aFolder) {
  const std::string target = aFolder + "/workstream.out";
  const double start = WallSeconds();
  {
    TFileStream out(target, fmCreate);
    for (const std::vector<uint8_t>& packed : aPacked) {
      TAbVirtualMemoryStream work;
      work.SetSwapDir(aFolder);
      // The encoder's bit writer hands on 16 KiB at a time.
      for (size_t at = 0; at < packed.size(); at += 16384)
        work.WriteBuffer(packed.data() + at, int32_t(std::min<size_t>(16384, packed.size() - at)));
      work.Seek(0, soFromBeginning);
      if (work.Size() > 0) out.CopyFrom(work, work.Size());
    }
  }
  const double seconds = WallSeconds() - start;
  fs::remove(target);
  return seconds;
}

struct TToolFigures {
  TRun OursAdd, ZipAdd, OursTest, UnzipTest, SevenTest;
  int64_t OursSize = 0, ZipSize = 0;
};

// Runs before the corpus is loaded: a child's peak resident memory counts the
// parent's at the moment it was started.
TToolFigures RunTools(const fs::path& aCorpus, const std::vector<std::string>& aNames,
                      const std::string& aCorvelzip, const std::string& aWork) {
  TToolFigures t;
  const std::string ours = aWork + "/ours.zip";
  const std::string infozip = aWork + "/infozip.zip";
  std::vector<std::string> args = {aCorvelzip, "a", "-p", kPassword, "-l", "n", ours};
  args.insert(args.end(), aNames.begin(), aNames.end());
  t.OursAdd = RunTool(args, aCorpus.string());
  if (OnPath("zip")) {
    args = {"zip", "-q", "-6", "-P", kPassword, infozip};
    args.insert(args.end(), aNames.begin(), aNames.end());
    t.ZipAdd = RunTool(args, aCorpus.string());
  }
  t.OursSize = fs::exists(ours) ? int64_t(fs::file_size(ours)) : 0;
  t.ZipSize = fs::exists(infozip) ? int64_t(fs::file_size(infozip)) : 0;
  t.OursTest = RunTool({aCorvelzip, "t", "-p", kPassword, ours}, aWork);
  if (OnPath("unzip")) t.UnzipTest = RunTool({"unzip", "-t", "-q", "-P", kPassword, ours}, aWork);
  if (OnPath("7zz"))
    t.SevenTest = RunTool({"7zz", "t", std::string("-p") + kPassword, ours}, aWork);
  return t;
}

void PrintTools(const TToolFigures& t, const std::vector<TFile>& aFiles, int64_t aTotal,
                const std::string& aWork) {
  std::printf("\nwhole archives (%lld bytes; CPU time of the child process)\n",
              static_cast<long long>(aTotal));
  PrintRun("corvelzip a -p (\"n\")", t.OursAdd, aTotal, t.ZipAdd.Ok ? &t.ZipAdd : nullptr);
  if (t.ZipAdd.Ok) PrintRun("zip -6 -P", t.ZipAdd, aTotal, nullptr);
  std::printf("  archive sizes: ours %lld, zip -6 %lld (x%.4f)\n",
              static_cast<long long>(t.OursSize), static_cast<long long>(t.ZipSize),
              t.ZipSize > 0 ? double(t.OursSize) / double(t.ZipSize) : 0.0);
  PrintRun("corvelzip t -p", t.OursTest, aTotal, t.SevenTest.Ok ? &t.SevenTest : nullptr);
  if (t.UnzipTest.Ok) PrintRun("unzip -t -P", t.UnzipTest, aTotal, nullptr);
  if (t.SevenTest.Ok) PrintRun("7zz t -p", t.SevenTest, aTotal, nullptr);

  // The items as the backup packs them, then through the work stream.
  std::vector<std::vector<uint8_t>> packed;
  for (const TFile& file : aFiles) packed.push_back(OurDeflate(file.Bytes, 'n', true));
  const double workSeconds = WorkStreamSeconds(packed, aWork);
  std::printf("  work stream copy: %.2f s wall, %.1f %% of the backup's %.2f s\n", workSeconds,
              t.OursAdd.Wall > 0 ? 100.0 * workSeconds / t.OursAdd.Wall : 0.0, t.OursAdd.Wall);

  std::printf("\ngoals (whole archives)\n");
  if (t.ZipAdd.Ok)
    std::printf("  backup \"n\" -p vs zip -6 -P: speed x%.2f (goal 2), size x%.4f (goal <= 1.03)\n",
                t.ZipAdd.Cpu / t.OursAdd.Cpu, double(t.OursSize) / double(t.ZipSize));
  if (t.SevenTest.Ok)
    std::printf("  test -p vs 7zz t -p: speed x%.2f (goal > 1)\n",
                t.SevenTest.Cpu / t.OursTest.Cpu);
  std::printf("  peak resident memory of the backup: %.1f MiB (goal < 32)\n",
              double(t.OursAdd.PeakKiB) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(
        stderr,
        "usage: corpus_bench CORPUS_FOLDER [--no-tools] [--no-zlib-levels] [--levels LETTERS]\n");
    return 2;
  }
  const fs::path corpus = fs::absolute(argv[1]);
  bool tools = true;
  bool peerLevels = true;
  std::string levels = "sfnx";
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-tools") tools = false;
    if (arg == "--no-zlib-levels") peerLevels = false;
    if (arg == "--levels" && i + 1 < argc) levels = argv[++i];
  }
  const std::string work =
      (fs::temp_directory_path() / ("corpus-bench-" + std::to_string(getpid()))).string();
  fs::create_directories(work);
  TToolFigures toolFigures;
  if (tools) toolFigures = RunTools(corpus, FileNames(corpus), CORVELZIP_PATH, work);

  const std::vector<TFile> files = LoadCorpus(corpus);
  const std::vector<TGroup> groups = GroupsOf(files);
  TMeasures whole;
  int64_t total = 0;
  for (const TGroup& group : groups) {
    const TMeasures measures = BenchGroup(group, levels, peerLevels);
    PrintMeasures(group.Name + ": " + std::to_string(group.Files.size()) + " files", measures,
                  group.Size);
    if (whole.empty())
      whole = measures;
    else
      for (size_t i = 0; i < whole.size(); ++i) {
        whole[i].Seconds += measures[i].Seconds;
        if (whole[i].Size >= 0) whole[i].Size += measures[i].Size;
      }
    total += group.Size;
  }
  PrintMeasures("whole corpus: " + std::to_string(files.size()) + " files", whole, total);

  const TMeasure* ourInflate = Find(whole, "ours inflate (of \"n\")");
  const TMeasure* zlibInflate = Find(whole, "zlib inflate");
  std::printf("\ngoals (whole corpus, in memory)\n");
  if (ourInflate != nullptr && zlibInflate != nullptr)
    std::printf("  inflate vs zlib: x%.2f (goal 1.5)\n",
                zlibInflate->Seconds / ourInflate->Seconds);
  std::printf("  CRC-32: %.0f MB/s (goal 1500)\n",
              Rate(total, Find(whole, "ours CRC-32")->Seconds));
  if (tools) PrintTools(toolFigures, files, total, work);
  fs::remove_all(work);
  return 0;
}
