// The stand-in host reloading the real plugin library as builds replace it
// (`LibraryWatch` over `CoreHost`, served over HTTP on 127.0.0.1): calls in
// flight finish on the old build, later calls reach the new one, and a build
// that does not load answers 503 with the reason until a good one comes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "devhost/host/core_host.h"
#include "devhost/host/library_watch.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/server/http_server.h"
#include "httplib.h"

// On Windows the HTTP library's system headers define LoadLibrary as a macro.
#undef LoadLibrary

namespace Kestrel::DevHost {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLibrary = VYN_SPECTATOR_LIBRARY;
constexpr const char* kBuddyPath = "/vyn-spectator/v1/buddy/spectate";
constexpr const char* kLaunchPath = "/vyn-spectator/v1/spectate/launch";
constexpr auto kDeadline = std::chrono::seconds(20);
constexpr int kQuietMs = 100;

int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Polls `done` until it holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class ReloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("vyn-reload-test-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_);
    library_ = (folder_ / fs::path(kLibrary).filename()).string();
    fs::copy_file(kLibrary, library_);
    watch_ = std::make_unique<LibraryWatch>(library_, WatchOptions{20, kQuietMs, 5000});
    MaybeType<std::string> copy = watch_->CopyForFirstLoad();
    ASSERT_TRUE(copy.has_value()) << copy.ToText();
    peers_.Install(&host_);
    MaybeType<void> loaded = host_.LoadLibrary(copy.value());
    ASSERT_TRUE(loaded.has_value()) << loaded.ToText();
    ASSERT_TRUE(host_.Initialize().has_value());
    HttpServerOptions options;
    options.worker_threads = 4;
    server_ = std::make_unique<DevHttpServer>(&host_, options);
    MaybeType<int> port = server_->Bind("127.0.0.1", 0);
    ASSERT_TRUE(port.has_value()) << port.ToText();
    port_ = port.value();
    thread_ = std::thread([this] { server_->Run(); });
    watch_->Start(&host_, [this](const ReloadRecord& reload) {
      server_->PublishReload(reload);
      std::lock_guard<std::mutex> lock(mutex_);
      reloads_.push_back(reload);
    });
  }

  void TearDown() override {
    if (watch_ != nullptr) watch_->Stop();
    host_.Shutdown();
    if (server_ != nullptr) server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    host_.Unload();
    watch_.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Replaces (or writes again) the watched file as a build would: `bytes`
  // bytes of the real library (all by default), with a later modification
  // time.
  void Rebuild(size_t bytes = SIZE_MAX) {
    const fs::file_time_type before =
        fs::exists(library_) ? fs::last_write_time(library_) : fs::file_time_type::clock::now();
    std::ifstream in(kLibrary, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(library_, std::ios::binary | std::ios::trunc)
        .write(content.data(), static_cast<std::streamsize>(std::min(bytes, content.size())));
    fs::last_write_time(library_, before + std::chrono::seconds(2));
  }

  size_t reload_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reloads_.size();
  }
  ReloadRecord last_reload() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reloads_.back();
  }

  // The load that answered the last kept call to `path`; 0 when none.
  uint32_t LoadThatAnswered(const std::string& path) {
    uint32_t load = 0;
    for (const CallRecord& call : host_.calls()) {
      if (call.request.path == path) load = call.load;
    }
    return load;
  }

  fs::path folder_;
  std::string library_;
  CoreHost host_;
  SimulatedPeers peers_{DefaultRoster()};
  std::unique_ptr<LibraryWatch> watch_;
  std::unique_ptr<DevHttpServer> server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<ReloadRecord> reloads_;
};

TEST_F(ReloadTest, ACallInFlightFinishesOnTheOldBuildAndLaterCallsReachTheNew) {
  // The gameflow plugin keeps the launch's request until the test lets it go.
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  host_.SetRequestHandler(kMethodPost, kGameflowLaunchPath, [&](const RecordedRequest&) {
    entered.set_value();
    released.wait();
    return ScriptedResponse::Nil();
  });
  httplib::Client launching("127.0.0.1", port_), asking("127.0.0.1", port_);
  launching.set_read_timeout(std::chrono::seconds(30));
  asking.set_read_timeout(std::chrono::seconds(30));
  auto launch = std::async(std::launch::async, [&] {
    return launching.Post(kLaunchPath, R"({"dropInSpectateGameId":"g1"})", "application/json");
  });
  ASSERT_EQ(entered.get_future().wait_for(kDeadline), std::future_status::ready);

  const int64_t writing_ms = WallMs();
  Rebuild();
  ASSERT_TRUE(WaitUntil([&] { return host_.reloading(); }));
  // Held at the gate until the new build runs.
  auto availability = std::async(std::launch::async, [&] {
    return asking.Post(kBuddyPath, R"(["Ann"])", "application/json");
  });
  release.set_value();

  auto launched = launch.get();
  ASSERT_TRUE(launched);
  EXPECT_EQ(launched->status, 204) << launched->body;
  auto answered = availability.get();
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200) << answered->body;
  EXPECT_EQ(LoadThatAnswered(kLaunchPath), 1u);
  EXPECT_EQ(LoadThatAnswered(kBuddyPath), 2u);
  ASSERT_TRUE(WaitUntil([&] { return reload_count() == 1; }));
  const ReloadRecord reload = last_reload();
  EXPECT_TRUE(reload.succeeded) << reload.reason;
  EXPECT_EQ(reload.load, 2u);
  EXPECT_EQ(reload.new_file, StatWatchedFile(library_));
  EXPECT_NE(reload.old_file, reload.new_file);
  // Not before the file has been quiet for the quiet period.
  EXPECT_GE(reload.time_ms - reload.duration_ms, writing_ms + kQuietMs - 2);
}

TEST_F(ReloadTest, ADeletedLibraryIsNotReloaded) {
  fs::remove(library_);
  // A reload would come within a few quiet periods; none may.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(5 * kQuietMs);
  while (reload_count() == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Rebuild();
  ASSERT_TRUE(WaitUntil([&] { return reload_count() >= 1; }));
  const ReloadRecord first = last_reload();
  EXPECT_TRUE(first.succeeded) << first.reason;
  EXPECT_TRUE(first.new_file.exists);
}

TEST_F(ReloadTest, ABrokenBuildAnswers503WithTheReasonUntilAGoodOneLoads) {
  httplib::Client client("127.0.0.1", port_);
  Rebuild(4096);  // a build cut short
  ASSERT_TRUE(WaitUntil([&] { return reload_count() == 1; }));
  const ReloadRecord broken = last_reload();
  EXPECT_FALSE(broken.succeeded);
  EXPECT_EQ(broken.new_file.size, 4096u);
  EXPECT_EQ(broken.load, 0u);
  auto refused = client.Post(kBuddyPath, R"(["Ann"])", "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  EXPECT_NE(refused->body.find(R"({"message":"The plugin did not reload: )"), std::string::npos)
      << refused->body;
  EXPECT_NE(refused->body.find(broken.reason.substr(0, 20)), std::string::npos) << refused->body;

  Rebuild();
  ASSERT_TRUE(WaitUntil([&] { return reload_count() == 2; }));
  EXPECT_TRUE(last_reload().succeeded) << last_reload().reason;
  auto answered = client.Post(kBuddyPath, R"(["Ann"])", "application/json");
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200) << answered->body;
  EXPECT_EQ(LoadThatAnswered(kBuddyPath), 2u);

  // The inspector stream tells both reloads, the failed one with its reason.
  std::string stream;
  client.Get("/devhost/inspector", [&](const char* data, size_t length) {
    stream.append(data, length);
    return stream.find(R"("succeeded":true)") == std::string::npos;
  });
  EXPECT_NE(stream.find("event: reload\ndata: {"), std::string::npos) << stream;
  EXPECT_NE(stream.find(R"("succeeded":false,"reason":"Cannot load plugin library )"),
            std::string::npos)
      << stream;
  EXPECT_NE(stream.find(R"("new":{"modified":)"), std::string::npos) << stream;
}

}  // namespace
}  // namespace Kestrel::DevHost
