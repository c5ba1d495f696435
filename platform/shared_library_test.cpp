#include "platform/shared_library.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <elf.h>
#endif

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Kestrel::Platform {
namespace {

// `path` with the system's folder separator, as the loader reports it.
std::string Native(std::string path) {
#ifdef _WIN32
  for (char& c : path) c = c == '/' ? '\\' : c;
#endif
  return path;
}

// A system library that is not in the test's working directory, and how the
// loader names the file it looked for instead (in the working directory).
#ifdef _WIN32
constexpr char kSystemLibrary[] = "kernel32.dll";
constexpr char kSystemLibraryInWorkingDirectory[] = "\\kernel32.dll";
#else
constexpr char kSystemLibrary[] = "libc.so.6";
constexpr char kSystemLibraryInWorkingDirectory[] = "./libc.so.6";
#endif

TEST(SharedLibraryTest, LoadsALibraryAndFindsOnlyItsExports) {
  std::string error;
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(VYN_TEST_MODULE_PATH, &error);
  ASSERT_NE(library, nullptr) << error;
  EXPECT_EQ(library->path(), VYN_TEST_MODULE_PATH);
  using Answer = int (*)();
  auto answer = reinterpret_cast<Answer>(library->FindSymbol("vyn_test_module_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(library->FindSymbol("vyn_test_module_missing"), nullptr);
  EXPECT_EQ(library->FindSymbol(nullptr), nullptr);
}

TEST(SharedLibraryTest, MissingOrInvalidFilesFailWithTheLoaderReason) {
  std::string error;
  EXPECT_EQ(SharedLibrary::Open("/nonexistent/libnothing.so", &error), nullptr);
  EXPECT_NE(error.find(Native("/nonexistent/libnothing.so")), std::string::npos) << error;

  // A file that exists but is not a library (this test's own source).
  error.clear();
  EXPECT_EQ(SharedLibrary::Open(VYN_TEST_SOURCE_PATH, &error), nullptr);
  EXPECT_FALSE(error.empty());

  // A bare name is taken relative to the working directory, not searched for
  // on the library path: the system library is not in the test's directory.
  error.clear();
  EXPECT_EQ(SharedLibrary::Open(kSystemLibrary, &error), nullptr);
  EXPECT_NE(error.find(kSystemLibraryInWorkingDirectory), std::string::npos) << error;

  // A library cut short (a build still writing it) is refused, not mapped.
  {
    std::ifstream whole(VYN_TEST_MODULE_PATH, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 4096u);
    const std::string cut = ::testing::TempDir() + "cut_short_module";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), 4096);
    error.clear();
    EXPECT_EQ(SharedLibrary::Open(cut, &error), nullptr);
    EXPECT_FALSE(error.empty());
#ifndef _WIN32
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
#endif
    std::remove(cut.c_str());
  }

  // A null error pointer is allowed.
  EXPECT_EQ(SharedLibrary::Open("/nonexistent/libnothing.so", nullptr), nullptr);
}

#ifndef _WIN32
// The test module's bytes and where each of its loaded segments' file bytes end.
std::pair<std::string, std::vector<size_t>> ModuleAndSegmentEnds() {
  using Header = std::conditional_t<sizeof(void*) == 8, Elf64_Ehdr, Elf32_Ehdr>;
  using ProgramHeader = std::conditional_t<sizeof(void*) == 8, Elf64_Phdr, Elf32_Phdr>;
  std::ifstream whole(VYN_TEST_MODULE_PATH, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
  Header header;
  std::memcpy(&header, bytes.data(), sizeof(header));
  std::vector<size_t> ends;
  for (size_t i = 0; i < header.e_phnum; ++i) {
    ProgramHeader segment;
    std::memcpy(&segment, bytes.data() + header.e_phoff + i * sizeof(segment), sizeof(segment));
    if (segment.p_type == PT_LOAD) ends.push_back(segment.p_offset + segment.p_filesz);
  }
  return {bytes, ends};
}

TEST(SharedLibraryTest, RefusesOnlyFilesEndingBeforeALoadedSegmentEnds) {
  const auto [bytes, ends] = ModuleAndSegmentEnds();
  ASSERT_GE(ends.size(), 2u);
  const std::string cut = ::testing::TempDir() + "segment_cut_module";
  // Ending with the first segment leaves the later ones wholly past the end;
  // ending with the last segment's file bytes leaves every segment whole.
  for (const auto& [size, cut_short] : {std::pair{ends.front(), true}, {ends.back(), false}}) {
    std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
    std::string error;
    const bool loaded = SharedLibrary::Open(cut, &error) != nullptr;
    EXPECT_EQ(loaded, !cut_short) << size << ": " << error;
    EXPECT_EQ(error.find("cut short") != std::string::npos, cut_short) << size << ": " << error;
  }
  std::remove(cut.c_str());
}
#endif

}  // namespace
}  // namespace Kestrel::Platform
