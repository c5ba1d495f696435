#include "devhost/host/library_watch.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

#include "devhost/host/core_host_parts.h"

namespace Kestrel::DevHost {
namespace {

namespace fs = std::filesystem;

// A folder name no other watch, in this process or another, picks.
std::string NewFolderName() {
  std::random_device random;
  return FormatText("vyn-devhost-%1%2", random(), random());
}

}  // namespace

WatchedFile StatWatchedFile(const std::string& path) {
  std::error_code error;
  WatchedFile file;
  const fs::file_time_type modified = fs::last_write_time(path, error);
  if (error) return file;
  const uintmax_t size = fs::file_size(path, error);
  if (error) return file;
  file.exists = true;
  file.size = size;
  file.modified_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::file_clock::to_sys(modified).time_since_epoch())
                         .count();
  return file;
}

LibraryWatch::LibraryWatch(std::string path, WatchOptions options)
    : path_(std::move(path)), options_(options) {}

LibraryWatch::~LibraryWatch() {
  Stop();
  if (!folder_.empty()) {
    std::error_code ignored;  // a copy still loaded stays (Windows) until the system cleans up
    fs::remove_all(folder_, ignored);
  }
}

MaybeType<std::string> LibraryWatch::Copy() {
  std::error_code error;
  if (folder_.empty()) {
    const fs::path folder = fs::temp_directory_path(error) / NewFolderName();
    if (error || !fs::create_directories(folder, error)) {
      return Failure(500, "Cannot make a folder for the plugin's copies: %1", error.message());
    }
    folder_ = folder.string();
  }
  // Numbered per load: the previous copy may still be loaded.
  const fs::path copy =
      fs::path(folder_) / (std::to_string(++copies_) + "-" + fs::path(path_).filename().string());
  if (!fs::copy_file(path_, copy, error)) {
    return Failure(404, "Cannot copy plugin library '%1': %2", path_, error.message());
  }
  return copy.string();
}

MaybeType<std::string> LibraryWatch::CopyForFirstLoad() {
  loaded_file_ = StatWatchedFile(path_);
  MaybeType<std::string> copy = Copy();
  if (copy.has_value()) loaded_copy_ = copy.value();
  return copy;
}

void LibraryWatch::Start(CoreHost* host, std::function<void(const ReloadRecord&)> on_reload) {
  thread_ = std::thread([this, host, on_reload = std::move(on_reload)] { Run(host, on_reload); });
}

void LibraryWatch::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LibraryWatch::Run(CoreHost* host, const std::function<void(const ReloadRecord&)>& on_reload) {
  using Clock = std::chrono::steady_clock;
  WatchedFile seen = loaded_file_;
  Clock::time_point changed_at = Clock::now();
  bool changed = false;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_changed_.wait_for(lock, std::chrono::milliseconds(options_.poll_ms),
                                 [this] { return stopping_; })) {
    const WatchedFile now = StatWatchedFile(path_);
    if (!(now == seen)) {
      // A build writes in several steps: wait until it has been quiet.
      seen = now;
      changed_at = Clock::now();
      changed = true;
      continue;
    }
    if (!changed || !now.exists ||
        Clock::now() - changed_at < std::chrono::milliseconds(options_.quiet_ms)) {
      continue;
    }
    changed = false;
    lock.unlock();
    ReloadRecord reload = ReloadNow(host, now);
    if (on_reload) on_reload(reload);
    lock.lock();
  }
}

ReloadRecord LibraryWatch::ReloadNow(CoreHost* host, const WatchedFile& now) {
  const auto started = std::chrono::steady_clock::now();
  ReloadRecord reload;
  reload.path = path_;
  reload.old_file = loaded_file_;
  reload.new_file = now;
  // A build that cannot be loaded is not tried again until it changes.
  loaded_file_ = now;
  MaybeType<std::string> copy = Copy();
  MaybeType<void> loaded =
      copy.has_value() ? host->Reload(copy.value(), std::chrono::milliseconds(options_.drain_ms))
                       : MaybeType<void>(copy.failure());
  if (copy.has_value()) {
    std::error_code ignored;  // gone with the folder at the latest
    if (!loaded_copy_.empty()) fs::remove(loaded_copy_, ignored);
    loaded_copy_ = copy.value();
  }
  reload.succeeded = loaded.has_value();
  if (loaded.is_failure()) reload.reason = loaded.failure().message();
  reload.load = host->initialized() ? host->load_number() : 0;
  reload.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  reload.time_ms = NowMs();
  return reload;
}

}  // namespace Kestrel::DevHost
