#include "devhost/server/page_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace Kestrel::DevHost {
namespace {

namespace fs = std::filesystem;

TEST(PageFilesTest, UrlPathsMapThroughTheMounts) {
  const std::pair<const char*, const char*> cases[] = {
      {"/", "/p/index.html"},
      {"/page/page.js", "/p/page.js"},
      {"/page/swagger-ui/swagger-ui.css", "/p/node_modules/swagger-ui-dist/swagger-ui.css"},
      {"/page/msgpack/msgpack.min.js", "/p/node_modules/@msgpack/msgpack/dist.umd/msgpack.min.js"},
  };
  for (const auto& [url, file] : cases) {
    MaybeType<std::string> path = PageFilePath("/p", url);
    ASSERT_TRUE(path.has_value()) << url;
    // Compared as paths: the Windows build joins with its own separator.
    EXPECT_EQ(fs::path(path.value()), fs::path(file)) << url;
    EXPECT_TRUE(IsPagePath(url)) << url;
  }
}

TEST(PageFilesTest, PathsThatLeaveAMountNameNoFile) {
  for (const char* url :
       {"/page/../CMakeLists.txt", "/page/swagger-ui/../package.json", "/page/swagger-ui/./x.js",
        "/page/swagger-ui//x.js", "/page/", "/page/swagger-ui/", "/page/sub/page.js",
        "/page/a\\b.js", "/page/msgpack/..", "/index.html", "/pages/page.js"}) {
    MaybeType<std::string> path = PageFilePath("/p", url);
    ASSERT_TRUE(path.is_failure()) << url << " -> " << path.value();
    EXPECT_EQ(path.failure().code(), 404) << url;
  }
  EXPECT_TRUE(PageFilePath("/p", std::string_view("/page/a\0b.js", 12)).is_failure());
}

TEST(PageFilesTest, ContentTypesOfTheFilesThePageLoads) {
  EXPECT_EQ(PageContentType("index.html").value(), "text/html; charset=utf-8");
  EXPECT_EQ(PageContentType("a/page.js").value(), "text/javascript; charset=utf-8");
  EXPECT_EQ(PageContentType("swagger-ui.css").value(), "text/css; charset=utf-8");
  for (const char* name : {"package.json", "package-lock.json", "LICENSE", ".js"}) {
    EXPECT_TRUE(PageContentType(name).is_failure()) << name;
  }
}

// A page folder with its own file, an installed renderer and a link out of it.
class PageAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(::testing::TempDir()) / "page_answer_test";
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    std::ofstream(folder_ / "index.html") << "<html>page</html>";
    std::ofstream(folder_ / "secret.txt") << "secret";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Returns whether the link out of the renderer's folder could be made:
  // Wine, for one, has no symbolic links.
  bool InstallRenderer() {
    fs::create_directories(folder_ / "node_modules/swagger-ui-dist");
    std::ofstream(folder_ / "node_modules/swagger-ui-dist/swagger-ui.css") << "css";
    std::error_code error;
    fs::create_symlink(folder_ / "index.html", folder_ / "node_modules/swagger-ui-dist/out.html",
                       error);
    return !error;
  }

  fs::path folder_;
};

TEST_F(PageAnswerTest, WithoutThePackagesThePageSaysToRunSetup) {
  HttpAnswer answer = PageAnswer(folder_.string(), "/");
  EXPECT_EQ(answer.status, 503);
  EXPECT_NE(answer.body.find("run scripts/setup"), std::string::npos) << answer.body;
  EXPECT_EQ(PageAnswer(folder_.string(), "/page/swagger-ui/swagger-ui.css").status, 503);
}

TEST_F(PageAnswerTest, ServesFilesInsideTheMountsOnly) {
  const bool linked_out = InstallRenderer();
  HttpAnswer page = PageAnswer(folder_.string(), "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
  EXPECT_EQ(page.body, "<html>page</html>");
  EXPECT_EQ(PageAnswer(folder_.string(), "/page/swagger-ui/swagger-ui.css").body, "css");

  EXPECT_EQ(PageAnswer(folder_.string(), "/page/missing.js").status, 404);
  EXPECT_EQ(PageAnswer(folder_.string(), "/page/secret.txt").status, 404);  // not a page type
  // A link that leads out of its mount is not followed.
  if (!linked_out) GTEST_SKIP() << "no symbolic links here";
  HttpAnswer linked = PageAnswer(folder_.string(), "/page/swagger-ui/out.html");
  EXPECT_EQ(linked.status, 404);
  EXPECT_EQ(linked.body, R"({"message":"No page file at '/page/swagger-ui/out.html'"})");
}

}  // namespace
}  // namespace Kestrel::DevHost
