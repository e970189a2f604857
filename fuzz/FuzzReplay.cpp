// Runs a fuzz target over files without libFuzzer: every regular file of each
// folder named on the command line (in name order), or each file named. CTest
// replays the seed corpora and the regression inputs this way, with any
// compiler; a finding aborts the run.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& where) {
  std::vector<fs::path> inputs;
  if (fs::is_directory(where)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(where))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
  } else {
    inputs.push_back(where);
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& path : InputsOf(argv[i])) {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
      }
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
      std::fprintf(stderr, "%s\n", path.c_str());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  // A folder without inputs is a mistake in the build, not a pass.
  return replayed > 0 ? 0 : 1;
}
