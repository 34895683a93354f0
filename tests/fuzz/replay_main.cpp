// Replays seed corpora through a fuzz target where no libFuzzer drives it: every build runs each target over its
// seeds as an ordinary test, so a target always builds and its seeds keep passing.
//
//   fuzz_<target> FOLDER|FILE ...
//
// Files of a folder are replayed in name order; a run that finds no file at all fails, so an emptied or moved corpus
// shows up rather than passing in silence.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoInput = 1;

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& given) {
  std::vector<std::filesystem::path> inputs;
  if (std::filesystem::is_directory(given)) {
    for (const auto& entry : std::filesystem::directory_iterator(given)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
  } else if (std::filesystem::is_regular_file(given)) {
    inputs.push_back(given);
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path& input : Inputs(argv[i])) {
      std::ifstream file(input, std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      std::printf("%s (%zu bytes)\n", input.string().c_str(), bytes.size());
      std::fflush(stdout);
      // A target reads only size bytes; an empty input still gets a valid pointer, as under libFuzzer.
      const char empty = 0;
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.empty() ? &empty : bytes.data()),
                             bytes.size());
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no input to replay\n");
    return kExitNoInput;
  }
  std::printf("%d inputs replayed\n", replayed);
  return kExitOk;
}
