// Calls from several host threads at once. Availability calls, with the
// module's service-proxy answers delivered out of order and from other
// threads: some before the request that asks for them has returned, some by
// another caller's `Yield`, some by a thread of the host's own; every call
// must get exactly the names answered for it. Launches while the current game
// is read: every read is one whole game. Built for the thread checker too.
//
// The module is loaded in-process with a host function table of the test's
// own: a host that serialised calls into the plugin would hide the races this
// test is for.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host_abi/core_value.h"
#include "host_abi/host_records.h"
#include "plugin/host/plugin_entry.h"
#include "plugin/spectator/spectator_module.h"

namespace Kestrel::Client::Spectator {
namespace {

constexpr int kCallerThreads = 4;
constexpr int kCallsPerThread = 1000;
constexpr int kNamesPerCall = 4;
constexpr char kUuidPath[] = "/vyn-login/v1/service-proxy-uuid-requests";
constexpr char kUuidEvent[] = "OnServiceProxyUuidEvent";
constexpr char kEmptyText[] = "";

uint32_t VYN_CDECL LoadSpectator(CorePluginRecord* record) {
  return LoadPlugin<SpectatorModule>(record, PluginIdentity{"vyn-spectator"});
}

// The names of call `call` of thread `thread`, and the ones the server says
// can be watched: those whose bit is set in the call number.
std::string NameOf(int thread, int call, int index) {
  return "t" + std::to_string(thread) + "c" + std::to_string(call) + "n" + std::to_string(index);
}
bool IsAvailable(int call, int index) {
  return ((call >> index) & 1) != 0;
}

// Reads "t<thread>c<call>n<index>" back; false for anything else.
bool ParseName(const std::string& name, int* call, int* index) {
  const std::size_t c = name.find('c');
  const std::size_t n = name.find('n');
  if (name.empty() || name[0] != 't' || c == std::string::npos || n == std::string::npos || n < c) {
    return false;
  }
  *call = std::stoi(name.substr(c + 1, n - c - 1));
  *index = std::stoi(name.substr(n + 1));
  return true;
}

// The quoted texts of a JSON text, other than the field name.
std::vector<std::string> NamesInPayload(const std::string& payload) {
  std::vector<std::string> names;
  std::size_t start = payload.find('"');
  while (start != std::string::npos) {
    const std::size_t end = payload.find('"', start + 1);
    if (end == std::string::npos) break;
    std::string text = payload.substr(start + 1, end - start - 1);
    if (text != "teamOrSummonerIds") names.push_back(std::move(text));
    start = payload.find('"', end + 1);
  }
  return names;
}

// An answer waiting for delivery; `payload` is owned until delivered.
struct QueuedAnswer {
  CoreValue payload;
  std::thread::id caller;
  bool host_thread_only;
};

class ConcurrentHost {
 public:
  ConcurrentHost() {
    table_.functions = {&SendRequest, &Reserved2, &SendEvent, &Subscribe, &Unsubscribe,
                        &Reserved6,   &Yield,     &BeginWait, &EndWait,   &Log};
    table_.host = this;
    core_.functions = &table_.functions;
    core_.plugin_id = 7;
  }

  CoreInterface* core() { return &core_; }

  // Delivers one queued answer: a random one, or nothing when the queue holds
  // none this thread may take. Returns whether it delivered.
  bool DeliverOne(bool host_thread, std::mt19937& random) {
    QueuedAnswer answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::vector<std::size_t> candidates;
      for (std::size_t i = 0; i < queue_.size(); ++i) {
        if (host_thread || !queue_[i].host_thread_only) candidates.push_back(i);
      }
      if (candidates.empty()) return false;
      const std::size_t pick = candidates[random() % candidates.size()];
      answer = queue_[pick];
      queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(pick));
    }
    if (answer.caller != std::this_thread::get_id()) ++delivered_elsewhere_;
    Deliver(&answer.payload);
    return true;
  }

  std::size_t queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
  }
  int delivered() const { return delivered_; }
  int delivered_early() const { return delivered_early_; }
  int delivered_elsewhere() const { return delivered_elsewhere_; }
  int unexpected_requests() const { return unexpected_requests_; }

 private:
  struct HostTable {
    CoreFunctionTable functions;
    ConcurrentHost* host;
  };
  struct Subscriber {
    std::string name;
    CoreEventCallback callback;
    void* context;
    uint32_t flag;
  };

  static ConcurrentHost* From(CoreFunctionTable* table) {
    return reinterpret_cast<HostTable*>(table)->host;
  }

  static void VYN_CDECL ReleaseResponse(CoreResponse* response) {
    ReleaseCoreValue(&response->value);
    std::memset(static_cast<void*>(response), 0, sizeof *response);
  }

  static std::string TextOf(const CoreArgument& argument) {
    const CoreValue& value = argument.value;
    if (value.kind != CoreValueKind::kBorrowedString && value.kind != CoreValueKind::kOwnedString) {
      return std::string();
    }
    return value.bytes.data == nullptr ? std::string() : std::string(value.bytes.data);
  }

  static void VYN_CDECL SendRequest(CoreFunctionTable* table, CoreResponse* response,
                                    const CoreRequest* request) {
    ConcurrentHost* host = From(table);
    std::memset(static_cast<void*>(response), 0, sizeof *response);
    response->content_type = kEmptyText;
    response->release = &ReleaseResponse;
    if (request->path == nullptr || std::strcmp(request->path, kUuidPath) != 0 ||
        request->argument_count < 4) {
      ++host->unexpected_requests_;
      return;
    }
    const std::string uuid = "uuid-" + std::to_string(++host->uuid_counter_);
    const std::string service = TextOf(request->arguments[0]);
    const std::string method = TextOf(request->arguments[1]);
    std::string answer = "{\"availableForWatching\":[";
    bool first = true;
    int call = 0;
    for (const std::string& name : NamesInPayload(TextOf(request->arguments[3]))) {
      int index = 0;
      if (!ParseName(name, &call, &index)) continue;
      if (!IsAvailable(call, index)) continue;
      answer += (first ? "\"" : ",\"") + name + "\"";
      first = false;
    }
    answer += "]}";

    QueuedAnswer queued{AnswerPayload(uuid, service, method, answer), std::this_thread::get_id(),
                        call % 3 == 2};
    if (call % 3 == 0) {
      // Before the POST returns: the module learns the answer before its key.
      ++host->delivered_early_;
      host->Deliver(&queued.payload);
    } else {
      std::lock_guard<std::mutex> lock(host->mutex_);
      host->queue_.push_back(queued);
    }
    (void)SetOwnedString(&response->value, uuid);
  }

  static CoreValue AnswerPayload(const std::string& uuid, const std::string& service,
                                 const std::string& method, const std::string& payload) {
    const std::string status = "200";
    const std::string none;
    const std::pair<const char*, const std::string*> fields[] = {
        {"uuid", &uuid},       {"serviceName", &service}, {"methodName", &method},
        {"payload", &payload}, {"status", &status},       {"error", &none}};
    CoreValue value{};
    if (!SetStructure(&value, 6)) return value;
    for (uint32_t i = 0; i < 6; ++i) {
      (void)SetEntryName(&value.structure.entries[i], fields[i].first);
      (void)SetOwnedString(&value.structure.entries[i].value, *fields[i].second);
    }
    return value;
  }

  void Deliver(CoreValue* payload) {
    std::vector<Subscriber> targets;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const Subscriber& subscriber : subscribers_) {
        if (subscriber.name == kUuidEvent) targets.push_back(subscriber);
      }
    }
    for (const Subscriber& subscriber : targets) {
      CoreEvent event{};
      event.name = kUuidEvent;
      event.payload = *payload;
      event.flag = subscriber.flag;
      event.context = subscriber.context;
      subscriber.callback(&event);
    }
    ReleaseCoreValue(payload);
    ++delivered_;
  }

  static void VYN_CDECL Subscribe(CoreFunctionTable* table, const char* name, uint32_t,
                                  CoreEventCallback callback, void* context, uint32_t flag) {
    ConcurrentHost* host = From(table);
    std::lock_guard<std::mutex> lock(host->mutex_);
    host->subscribers_.push_back(Subscriber{name, callback, context, flag});
  }
  static void VYN_CDECL Yield(CoreFunctionTable* table) {
    thread_local std::mt19937 random(
        static_cast<uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id())));
    From(table)->DeliverOne(false, random);
    std::this_thread::yield();
  }
  static void VYN_CDECL Reserved2(CoreFunctionTable*, uint32_t, uint32_t) {}
  static void VYN_CDECL SendEvent(CoreFunctionTable*, const CoreEvent*) {}
  static void VYN_CDECL Unsubscribe(CoreFunctionTable*, const char*, uint32_t) {}
  static void VYN_CDECL Reserved6(CoreFunctionTable*, uint32_t, uint32_t, uint32_t, double,
                                  uint32_t) {}
  static void VYN_CDECL BeginWait(CoreFunctionTable*, const char*, uint32_t) {}
  static void VYN_CDECL EndWait(CoreFunctionTable*) {}
  static void VYN_CDECL Log(CoreFunctionTable*, int32_t, const char*) {}

  HostTable table_;
  CoreInterface core_;
  std::mutex mutex_;
  std::vector<Subscriber> subscribers_;
  std::vector<QueuedAnswer> queue_;
  std::atomic<uint64_t> uuid_counter_{0};
  std::atomic<int> delivered_{0};
  std::atomic<int> delivered_early_{0};
  std::atomic<int> delivered_elsewhere_{0};
  std::atomic<int> unexpected_requests_{0};
};

// The names of an availability answer, or a description of what is wrong.
std::vector<std::string> AnsweredNames(const CoreResponse& response, std::string* problem) {
  std::vector<std::string> names;
  if (response.error_flag != 0) {
    *problem = response.error_text != nullptr ? response.error_text : "error without text";
    return names;
  }
  const CoreValue& value = response.value;
  if (value.kind != CoreValueKind::kStructure || value.structure.count != 1) {
    *problem = "not a structure of one field";
    return names;
  }
  const CoreStructEntry& entry = value.structure.entries[0];
  const CoreValue list = entry.value;
  if (entry.name == nullptr || std::strcmp(entry.name, "availableForWatching") != 0 ||
      list.kind != CoreValueKind::kCollection) {
    *problem = "no list of names";
    return names;
  }
  for (uint32_t i = 0; i < list.collection.count; ++i) {
    const CoreValue item = list.collection.items[i];
    names.emplace_back(item.bytes.data == nullptr ? "" : item.bytes.data);
  }
  return names;
}

TEST(SpectatorConcurrency, EveryCallGetsItsOwnAnswerWhateverThreadDeliversIt) {
  CorePluginRecord record{};
  record.version_major = 18;
  (void)LoadSpectator(&record);
  ASSERT_NE(record.entry_table, nullptr);
  ConcurrentHost host;
  ASSERT_EQ(record.entry_table->Initialize(record.module, host.core()), 1);

  const CoreFunctionDescriptor* availability = nullptr;
  for (uint32_t i = 0; i < record.api_description->function_count; ++i) {
    const CoreFunctionDescriptor& function = record.api_description->functions[i];
    if (std::strcmp(function.path, kAvailabilityPath) == 0) availability = &function;
  }
  ASSERT_NE(availability, nullptr);

  std::atomic<bool> callers_done{false};
  std::thread deliverer([&host, &callers_done] {
    std::mt19937 random(99);
    while (!callers_done.load() || host.queued() != 0) {
      if (!host.DeliverOne(true, random)) std::this_thread::yield();
    }
  });

  std::atomic<int> wrong{0};
  std::mutex first_problem_mutex;
  std::string first_problem;
  std::vector<std::thread> callers;
  for (int thread = 0; thread < kCallerThreads; ++thread) {
    callers.emplace_back([&, thread] {
      for (int call = 0; call < kCallsPerThread; ++call) {
        std::string body = "[";
        std::vector<std::string> expected;
        for (int index = 0; index < kNamesPerCall; ++index) {
          const std::string name = NameOf(thread, call, index);
          body += (index == 0 ? "\"" : ",\"") + name + "\"";
          if (IsAvailable(call, index)) expected.push_back(name);
        }
        body += "]";
        CoreRequest request{};
        request.method = 6;
        request.path = kAvailabilityPath;
        request.function_context = availability->function.function_context;
        request.content_type = "application/json";
        request.body = body.c_str();
        request.body_length = static_cast<uint32_t>(body.size());
        CoreResponse response{};
        availability->callback(&response, &request);
        std::string problem;
        const std::vector<std::string> names = AnsweredNames(response, &problem);
        if (problem.empty() && names != expected) problem = "names of another call: " + body;
        if (!problem.empty()) {
          ++wrong;
          std::lock_guard<std::mutex> lock(first_problem_mutex);
          if (first_problem.empty()) first_problem = problem;
        }
        if (response.release != nullptr) response.release(&response);
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  callers_done = true;
  deliverer.join();

  EXPECT_EQ(wrong.load(), 0) << first_problem;
  EXPECT_EQ(host.unexpected_requests(), 0);
  EXPECT_EQ(host.delivered(), kCallerThreads * kCallsPerThread);
  EXPECT_EQ(host.queued(), 0u);
  // The orders this test is about did occur.
  EXPECT_GT(host.delivered_early(), 0);
  EXPECT_GT(host.delivered_elsewhere(), 0);
  record.entry_table->Shutdown(record.module);
}

// Launches on one host thread while another reads the current game: every
// read is one whole game, never the texts of two.
TEST(SpectatorConcurrency, TheCurrentGameIsReadWhileALaunchStoresOne) {
  SpectatorModule module;  // no host: the gameflow call and the event go nowhere
  module.RegisterApi();
  constexpr int kLaunches = 2000;
  std::atomic<bool> launched{false};
  std::thread launcher([&] {
    for (int i = 1; i <= kLaunches; ++i) {
      const std::string text = std::to_string(i);
      (void)module.Launch(Api::SpectateGameInfoResource{text, text, text});
    }
    launched = true;
  });
  int torn = 0;
  int reads = 0;
  while (!launched.load() || reads == 0) {
    const Api::SpectateGameInfoResource game = module.current_game();
    if (game.gameQueueType != game.dropInSpectateGameId ||
        game.allowObserveMode != game.dropInSpectateGameId) {
      ++torn;
    }
    ++reads;
  }
  launcher.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(module.current_game().dropInSpectateGameId, std::to_string(kLaunches));
}

}  // namespace
}  // namespace Kestrel::Client::Spectator
