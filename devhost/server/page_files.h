// The files of the stand-in host's page (`GET /`): which folder holds them,
// which URL path names which file, and the content type each is served with.
//
// The page folder holds the host's own hand-written files (`index.html`,
// `page.js`, `inspector.js`, `page.css`) and, in `node_modules/`, the kept
// packages that `scripts/setup` installs there with npm: the OpenAPI
// renderer, the MessagePack encoder and the memory panel's chart. A URL path
// reaches a file only through this table of mounts, and a path with an
// empty, "." or ".." segment, a backslash or a NUL reaches none, so no
// request reads outside them:
//
//   /                         index.html
//   /page/<file>              <folder>/<file>          (own files, one level)
//   /page/swagger-ui/<file>   <folder>/node_modules/swagger-ui-dist/<file>
//   /page/msgpack/<file>      <folder>/node_modules/@msgpack/msgpack/dist.umd/<file>
//   /page/uplot/<file>        <folder>/node_modules/uplot/dist/<file>
//
//   HttpAnswer answer = PageAnswer(DefaultPageFolder(), "/page/page.js");
#ifndef VYN_DEVHOST_SERVER_PAGE_FILES_H_
#define VYN_DEVHOST_SERVER_PAGE_FILES_H_

#include <string>
#include <string_view>

#include "devhost/server/http_answer.h"
#include "util/failure.h"

namespace Kestrel::DevHost {

// The page folder: `page` beside the program in an unpacked release, else the
// source tree's `devhost/program/page` of the build that made the program.
std::string DefaultPageFolder();

// Whether `url_path` is one the page serves ("/" or under "/page/").
bool IsPagePath(std::string_view url_path);

// The file `url_path` names under `folder`. Fails with 404 when the path is
// not one of the page's files or would leave its mount; never touches the disk.
MaybeType<std::string> PageFilePath(const std::string& folder, std::string_view url_path);

// The content type served for a file name by its extension; fails with 404
// for an extension the page does not serve.
MaybeType<std::string> PageContentType(std::string_view file_name);

// The answer to `GET url_path`: the file with its content type (200), 404
// with a message for a path that names no page file, or 503 with a message
// when the kept packages are not installed (`scripts/setup` installs them).
HttpAnswer PageAnswer(const std::string& folder, std::string_view url_path);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_PAGE_FILES_H_
