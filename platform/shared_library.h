// Loading a shared library by path and looking up its exported symbols.
//
// The stand-in host uses this to load the plugin library the way the real host
// does. A `SharedLibrary` owns one reference to the loaded library and drops
// it when destroyed; addresses found through it are valid only while it lives.
//
//   std::string error;
//   std::unique_ptr<SharedLibrary> library = SharedLibrary::Open("./libx.so", &error);
//   if (library == nullptr) { /* error says why */ }
//   void* entry = library->FindSymbol("load_x");  // nullptr when not exported
#ifndef VYN_PLATFORM_SHARED_LIBRARY_H_
#define VYN_PLATFORM_SHARED_LIBRARY_H_

#include <memory>
#include <string>

namespace Kestrel::Platform {

class SharedLibrary {
 public:
  // Loads the library at `path` with its symbols resolved now and kept local.
  // Returns nullptr and sets `*error` (when `error` is not null) to the
  // loader's explanation when it cannot be loaded. Any thread.
  static std::unique_ptr<SharedLibrary> Open(const std::string& path, std::string* error);

  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  // Unloads the library (drops this reference).
  ~SharedLibrary();

  // Returns the address of the exported `symbol` (which may be null), or
  // nullptr when it is not exported or `symbol` is null. Any thread.
  void* FindSymbol(const char* symbol) const;

  const std::string& path() const { return path_; }

 private:
  SharedLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  void* handle_;
  std::string path_;
};

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_SHARED_LIBRARY_H_
