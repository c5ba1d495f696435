#include "platform/shared_library.h"

#include <gtest/gtest.h>

#include <string>

namespace Kestrel::Platform {
namespace {

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
  EXPECT_NE(error.find("/nonexistent/libnothing.so"), std::string::npos) << error;

  // A file that exists but is not a library (this test's own source).
  error.clear();
  EXPECT_EQ(SharedLibrary::Open(VYN_TEST_SOURCE_PATH, &error), nullptr);
  EXPECT_FALSE(error.empty());

  // A bare name is taken relative to the working directory, not searched for
  // on the library path: libc's soname is not in the test's directory.
  error.clear();
  EXPECT_EQ(SharedLibrary::Open("libc.so.6", &error), nullptr);
  EXPECT_NE(error.find("./libc.so.6"), std::string::npos) << error;

  // A null error pointer is allowed.
  EXPECT_EQ(SharedLibrary::Open("/nonexistent/libnothing.so", nullptr), nullptr);
}

}  // namespace
}  // namespace Kestrel::Platform
