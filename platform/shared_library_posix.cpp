#include "platform/shared_library.h"

#include <dlfcn.h>

namespace Kestrel::Platform {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  // A path without "/" would make the loader search the library path; the
  // host always names a file, so make a bare name relative to the directory.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* text = dlerror();
      *error = text != nullptr ? text : "the library could not be loaded";
    }
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() {
  dlclose(handle_);
}

void* SharedLibrary::FindSymbol(const char* symbol) const {
  if (symbol == nullptr) return nullptr;
  return dlsym(handle_, symbol);
}

}  // namespace Kestrel::Platform
