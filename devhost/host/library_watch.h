// `LibraryWatch`: follows a plugin library file as builds replace it and
// reloads the plugin into a `CoreHost` once a build is done writing it.
//
// The host never loads the watched file itself but a copy of it, made per
// load in a folder of the watch's own under the system's temporary folder:
// a loaded Windows DLL cannot be replaced, and a Linux build that rewrites
// the file in place would change pages the process has mapped, so the copy
// serves both systems alike. The watch polls the file's modification time
// and size; when they changed and then stayed the same for `quiet_ms`, it
// copies the file and has the host `Reload` the copy, then reports what
// happened. A build that does not load leaves no plugin loaded until the
// next change. The watch owns its copies and its thread; it borrows the host,
// which must unload the plugin before the watch goes (Windows keeps a loaded
// copy from being removed).
//
//   LibraryWatch watch("/build/libvyn_spectator.so", WatchOptions{});
//   MaybeType<std::string> copy = watch.CopyForFirstLoad();
//   host.LoadLibrary(copy.value()); host.Initialize();
//   watch.Start(&host, [](const ReloadRecord& reload) { ... });
//   ... host.Unload(); watch.Stop();
#ifndef VYN_DEVHOST_HOST_LIBRARY_WATCH_H_
#define VYN_DEVHOST_HOST_LIBRARY_WATCH_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "devhost/host/core_host.h"
#include "util/failure.h"

namespace Kestrel::DevHost {

// A file's state as the watch sees it.
struct WatchedFile {
  bool exists = false;
  int64_t modified_ms = 0;  // wall clock, milliseconds since 1970
  uint64_t size = 0;

  bool operator==(const WatchedFile&) const = default;
};

// The state of the file at `path` now; `exists` false when it cannot be
// read. Never fails; safe from any thread.
WatchedFile StatWatchedFile(const std::string& path);

// One reload: the watched file as it was at the previous load and as it was
// loaded now, whether the new plugin runs, and why not.
struct ReloadRecord {
  int64_t time_ms = 0;  // when the reload ended, wall clock
  std::string path;     // the watched file
  WatchedFile old_file;
  WatchedFile new_file;
  bool succeeded = false;
  std::string reason;       // when it failed
  uint32_t load = 0;        // the host's load number afterwards (0: none loaded)
  int64_t duration_ms = 0;  // from copying the file to the plugin initialized
};

struct WatchOptions {
  int poll_ms = 50;
  // How long the file must stay unchanged before it is loaded.
  int quiet_ms = 300;
  // How long calls in progress may take to finish on the old plugin.
  int drain_ms = 5000;
};

class LibraryWatch {
 public:
  LibraryWatch(std::string path, WatchOptions options);
  LibraryWatch(const LibraryWatch&) = delete;
  LibraryWatch& operator=(const LibraryWatch&) = delete;
  // Stops the watch and removes its copies.
  ~LibraryWatch();

  // Copies the watched file for the host's first load and returns the
  // copy's path. Fails when the file cannot be copied. Before `Start`.
  MaybeType<std::string> CopyForFirstLoad();

  // Watches the file on a thread of its own, reloading `host` (borrowed,
  // not null) and passing each reload to `on_reload` (may be empty), which
  // is called on that thread. Once.
  void Start(CoreHost* host, std::function<void(const ReloadRecord&)> on_reload);

  // Ends the watch; a reload under way finishes first. Repeatable.
  void Stop();

 private:
  void Run(CoreHost* host, const std::function<void(const ReloadRecord&)>& on_reload);
  ReloadRecord ReloadNow(CoreHost* host, const WatchedFile& now);
  MaybeType<std::string> Copy();

  const std::string path_;
  const WatchOptions options_;
  std::string folder_;  // "" until the first copy
  uint32_t copies_ = 0;
  std::string loaded_copy_;
  WatchedFile loaded_file_;
  std::mutex mutex_;
  std::condition_variable stop_changed_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_LIBRARY_WATCH_H_
