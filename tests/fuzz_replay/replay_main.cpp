// Replays fuzz inputs through a fuzz target's LLVMFuzzerTestOneInput
// without libFuzzer, so that any compiler can build it. Every argument is a
// file or a directory of files (read in name order); a directory that does
// not exist is skipped. A failed check inside the target aborts the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

bool replay(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
  // A copy of exactly the input's size, so that a read past its end is seen
  // by AddressSanitizer as it would be under libFuzzer.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      std::vector<std::filesystem::path> files;
      for (const auto &entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto &file : files) {
        if (!replay(file)) return 1;
        ++count;
      }
    } else if (std::filesystem::exists(arg)) {
      if (!replay(arg)) return 1;
      ++count;
    }
  }
  std::fprintf(stderr, "%zu inputs replayed\n", count);
  // No input at all means the corpus was not found: that is a failure.
  return count > 0 ? 0 : 1;
}
