// Runs every fuzz target over every file of its committed corpus, so seeds and
// the inputs kept from findings are checked by the ordinary test suite too. A
// target ends the process on a wrong result, which fails this test program.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_request.h"
#include "fuzz/fuzz_support.h"

namespace Kestrel::Fuzz {
namespace {

struct Target {
  const char* name;  // the executable's name and its corpus folder
  int (*run)(const uint8_t* data, std::size_t size);
};

constexpr Target kTargets[] = {
    {"parse_json_fuzzer", &FuzzParseJson},
    {"parse_msgpack_fuzzer", &FuzzParseMessagePack},
    {"parse_yaml_fuzzer", &FuzzParseYaml},
    {"format_text_fuzzer", &FuzzFormatText},
    {"base64_fuzzer", &FuzzDecodeBase64},
    {"from_core_value_fuzzer", &FuzzFromCoreValue},
    {"dispatch_test_module_fuzzer", &FuzzDispatchTestModule},
    {"dispatch_spectator_fuzzer", &FuzzDispatchSpectator},
    {"gathering_json_fuzzer", &FuzzGatheringJson},
    {"gathering_msgpack_fuzzer", &FuzzGatheringMessagePack},
    {"gathering_yaml_fuzzer", &FuzzGatheringYaml},
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(stream), {});
}

TEST(CorpusReplay, EveryTargetRunsItsWholeCorpus) {
  for (const Target& target : kTargets) {
    SCOPED_TRACE(target.name);
    const std::filesystem::path folder = std::filesystem::path(VYN_FUZZ_CORPUS_DIR) / target.name;
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().filename().string());
      const std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
      // Copied into a buffer of exactly the file's size, as the fuzzer hands it.
      std::vector<uint8_t> exact(bytes.begin(), bytes.end());
      EXPECT_EQ(target.run(exact.data(), exact.size()), 0);
      ++files;
    }
    EXPECT_GT(files, 0u) << "no seeds for " << target.name;
  }
}

TEST(CorpusReplay, EveryTargetAcceptsEmptyInput) {
  for (const Target& target : kTargets) {
    SCOPED_TRACE(target.name);
    const uint8_t none[1] = {0};
    EXPECT_EQ(target.run(none, 0), 0);
    EXPECT_EQ(target.run(none, 1), 0);
  }
}

}  // namespace
}  // namespace Kestrel::Fuzz
