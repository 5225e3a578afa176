// Runs a fuzz target over files named on the command line (or every file in
// named folders) without libFuzzer: the kept crashers and the seed corpus
// replay on any compiler, under ctest.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  size_t count = 0;
  auto run = [&](const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++count;
  };
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto &e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file() && e.path().filename() != "README")
          run(e.path());
    } else if (std::filesystem::exists(p)) {
      run(p);
    }
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
