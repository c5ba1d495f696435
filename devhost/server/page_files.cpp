#include "devhost/server/page_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devhost/host/beside_program.h"

#ifndef VYN_DEFAULT_PAGE_FOLDER
#define VYN_DEFAULT_PAGE_FOLDER "devhost/program/page"
#endif

namespace Kestrel::DevHost {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPagePrefix = "/page/";
// The package whose presence tells that `scripts/setup` installed the page's packages.
constexpr const char* kRendererFolder = "node_modules/swagger-ui-dist";

// A URL prefix under "/page/" and the folder, relative to the page folder,
// that serves the rest of the path.
struct Mount {
  std::string_view prefix;
  const char* folder;
  bool packaged;  // installed by npm rather than kept in the repository
};

constexpr Mount kMounts[] = {
    {"/page/swagger-ui/", kRendererFolder, true},
    {"/page/msgpack/", "node_modules/@msgpack/msgpack/dist.umd", true},
    {"/page/uplot/", "node_modules/uplot/dist", true},
};

struct ContentType {
  std::string_view extension;
  const char* type;
};

// Only what the page loads: package manifests and lock files are not served.
constexpr ContentType kContentTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".map", "application/json"},
    {".png", "image/png"},
};

// Whether every "/"-separated segment of `rest` names a file or folder
// inside its parent: none empty, "." or "..", none with a backslash or NUL.
bool IsSafeRelativePath(std::string_view rest) {
  if (rest.empty()) return false;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view segment = rest.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (segment.find('\\') != std::string_view::npos) return false;
    if (segment.find('\0') != std::string_view::npos) return false;
    start = end + 1;
  }
  return true;
}

const Mount* MountOf(std::string_view url_path) {
  for (const Mount& mount : kMounts) {
    if (url_path.substr(0, mount.prefix.size()) == mount.prefix) return &mount;
  }
  return nullptr;
}

MaybeType<std::string> ReadWholeFile(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return Failure(404, "No page file '%1'", path.string());
  std::ifstream file(path, std::ios::binary);
  if (!file) return Failure(404, "Cannot read page file '%1'", path.string());
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return Failure(500, "Cannot read page file '%1'", path.string());
  return text.str();
}

// Whether `path`, symbolic links resolved, lies inside `root`.
bool StaysInside(const fs::path& root, const fs::path& path) {
  std::error_code error;
  fs::path real_root = fs::weakly_canonical(root, error);
  if (error) return false;
  fs::path real_path = fs::weakly_canonical(path, error);
  if (error) return false;
  auto [root_end, unused] =
      std::mismatch(real_root.begin(), real_root.end(), real_path.begin(), real_path.end());
  return root_end == real_root.end();
}

HttpAnswer MessageAnswer(int status, const std::string& message) {
  return HttpAnswer{status, "application/json", ErrorBody(message)};
}

}  // namespace

std::string DefaultPageFolder() {
  return BesideProgramOr("page", VYN_DEFAULT_PAGE_FOLDER);
}

bool IsPagePath(std::string_view url_path) {
  return url_path == "/" || url_path.substr(0, kPagePrefix.size()) == kPagePrefix;
}

MaybeType<std::string> PageFilePath(const std::string& folder, std::string_view url_path) {
  if (url_path == "/") return (fs::path(folder) / "index.html").string();
  if (const Mount* mount = MountOf(url_path)) {
    std::string_view rest = url_path.substr(mount->prefix.size());
    if (!IsSafeRelativePath(rest)) return Failure(404, "No page file at '%1'", url_path);
    return (fs::path(folder) / mount->folder / fs::path(std::string(rest))).string();
  }
  if (url_path.substr(0, kPagePrefix.size()) != kPagePrefix) {
    return Failure(404, "No page file at '%1'", url_path);
  }
  std::string_view name = url_path.substr(kPagePrefix.size());
  // Own files are one level deep.
  if (!IsSafeRelativePath(name) || name.find('/') != std::string_view::npos) {
    return Failure(404, "No page file at '%1'", url_path);
  }
  return (fs::path(folder) / std::string(name)).string();
}

MaybeType<std::string> PageContentType(std::string_view file_name) {
  for (const ContentType& known : kContentTypes) {
    if (file_name.size() > known.extension.size() &&
        file_name.substr(file_name.size() - known.extension.size()) == known.extension) {
      return std::string(known.type);
    }
  }
  return Failure(404, "The page serves no file like '%1'", file_name);
}

HttpAnswer PageAnswer(const std::string& folder, std::string_view url_path) {
  MaybeType<std::string> path = PageFilePath(folder, url_path);
  if (path.is_failure()) return MessageAnswer(404, path.failure().message());
  MaybeType<std::string> content_type = PageContentType(path.value());
  if (content_type.is_failure()) {
    return MessageAnswer(404, FormatText("No page file at '%1'", url_path));
  }
  const Mount* mount = MountOf(url_path);
  std::error_code error;
  if ((url_path == "/" || (mount != nullptr && mount->packaged)) &&
      !fs::is_directory(fs::path(folder) / kRendererFolder, error)) {
    return MessageAnswer(503, FormatText("The page's packages are not installed in '%1': run "
                                         "scripts/setup",
                                         (fs::path(folder) / "node_modules").string()));
  }
  fs::path root = mount != nullptr ? fs::path(folder) / mount->folder : fs::path(folder);
  if (!StaysInside(root, path.value())) {
    return MessageAnswer(404, FormatText("No page file at '%1'", url_path));
  }
  MaybeType<std::string> body = ReadWholeFile(path.value());
  if (body.is_failure()) {
    return MessageAnswer(body.failure().code(), FormatText("No page file at '%1'", url_path));
  }
  return HttpAnswer{200, content_type.TakeValue(), body.TakeValue()};
}

}  // namespace Kestrel::DevHost
