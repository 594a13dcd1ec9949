// Replays a fuzz target's seed corpus without libFuzzer: every seed, every
// prefix of it and a fixed set of single-byte mutations of it go through the
// target, so a plain build still checks each target's rule on its seeds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunOne(const std::vector<uint8_t>& input) {
  // A copy of exactly the input's size, so that ASan sees reads past its end.
  std::vector<uint8_t> exact(input);
  LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

void RunVariants(const std::vector<uint8_t>& seed) {
  RunOne(seed);
  for (size_t n = 0; n < seed.size(); ++n) {
    RunOne(std::vector<uint8_t>(seed.begin(), seed.begin() + n));
  }
  static const uint8_t kBytes[] = {0x00, 0x01, 0x7F, 0x80, 0x81, 0x82, 0x84, 0xFF};
  for (size_t i = 0; i < seed.size(); ++i) {
    for (uint8_t b : kBytes) {
      std::vector<uint8_t> mutated(seed);
      mutated[i] = b;
      RunOne(mutated);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t seeds = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path root(argv[i]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(root)) {
      for (const auto& entry : std::filesystem::directory_iterator(root)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(root);
    }
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::vector<uint8_t> seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      RunVariants(seed);
      ++seeds;
    }
  }
  std::printf("replayed %zu seeds with their variants\n", seeds);
  return seeds == 0 ? 1 : 0;
}
