#include "bench/transport_fixture.h"

#include <cstring>

#include "devhost/peers/roster.h"
#include "host_abi/core_value.h"
#include "plugin/host/plugin_entry.h"
#include "plugin/spectator/spectator_module.h"

namespace Kestrel::Bench {
namespace {

using Client::CoreResponse;
using Client::CoreStructEntry;
using Client::CoreValue;
using Client::CoreValueKind;
using Client::ReadPacked;

// The content type the floor answers: empty, never freed.
constexpr char kEmptyContentType[] = "";

// The plugin's entry point, linked into this program instead of loaded from
// the shared library, so that both sides of a figure run the same build.
uint32_t VYN_CDECL LoadSpectatorInProcess(Client::CorePluginRecord* record) {
  return Client::LoadPlugin<Client::Spectator::SpectatorModule>(
      record, Client::PluginIdentity{"vyn-spectator"});
}

std::string_view TextOf(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

bool IsText(CoreValueKind kind) {
  return kind == CoreValueKind::kBorrowedString || kind == CoreValueKind::kOwnedString;
}

std::string ValueDifference(const CoreValue& a, const CoreValue& b, const std::string& at) {
  const CoreValueKind kind = ReadPacked(a.kind);
  if (kind != ReadPacked(b.kind)) return at + ": kinds differ";
  switch (kind) {
    case CoreValueKind::kNil:
      return "";
    case CoreValueKind::kBool:
      return a.bool_value == b.bool_value ? "" : at + ": bools differ";
    case CoreValueKind::kSigned:
    case CoreValueKind::kUnsigned:
    case CoreValueKind::kFloat:
      return ReadPacked(a.unsigned_value) == ReadPacked(b.unsigned_value) ? ""
                                                                          : at + ": numbers differ";
    case CoreValueKind::kCollection: {
      const uint32_t count = ReadPacked(a.collection.count);
      if (count != ReadPacked(b.collection.count)) return at + ": sizes differ";
      for (uint32_t i = 0; i < count; ++i) {
        std::string found = ValueDifference(a.collection.items[i], b.collection.items[i],
                                            at + "[" + std::to_string(i) + "]");
        if (!found.empty()) return found;
      }
      return "";
    }
    case CoreValueKind::kStructure: {
      const uint32_t count = ReadPacked(a.structure.count);
      if (count != ReadPacked(b.structure.count)) return at + ": entry counts differ";
      for (uint32_t i = 0; i < count; ++i) {
        const CoreStructEntry& x = a.structure.entries[i];
        const CoreStructEntry& y = b.structure.entries[i];
        const std::string name(TextOf(x.name));
        if (name != TextOf(y.name) || x.name_owned != y.name_owned) {
          return at + ": entry " + std::to_string(i) + " is named differently";
        }
        std::string found = ValueDifference(x.value, y.value, at + "." + name);
        if (!found.empty()) return found;
      }
      return "";
    }
    default: {
      // Texts and blobs: same bytes (a text up to its NUL, as the host reads it).
      const std::string_view x(a.bytes.data, ReadPacked(a.bytes.length));
      const std::string_view y(b.bytes.data, ReadPacked(b.bytes.length));
      if (IsText(kind) ? TextOf(a.bytes.data) != TextOf(b.bytes.data) : x != y) {
        return at + ": '" + std::string(x) + "' vs '" + std::string(y) + "'";
      }
      return ReadPacked(a.bytes.length) == ReadPacked(b.bytes.length) ? ""
                                                                      : at + ": lengths differ";
    }
  }
}

}  // namespace

SpectatorInProcess::SpectatorInProcess()
    : peers_(std::make_unique<DevHost::SimulatedPeers>(DevHost::DefaultRoster())) {
  peers_->Install(&host_);
}

SpectatorInProcess::~SpectatorInProcess() {
  host_.Unload();
}

MaybeType<void> SpectatorInProcess::Start() {
  MaybeType<void> loaded = host_.Load(&LoadSpectatorInProcess);
  if (loaded.is_failure()) return loaded;
  MaybeType<void> started = host_.Initialize();
  if (started.is_failure()) return started;
  MaybeType<DevHost::CallOutcome> launched = host_.Call(DevHost::CallRequest::Json(
      Kestrel::kMethodPost, Client::Spectator::kLaunchPath, kLaunchedGameJson));
  if (launched.is_failure()) return launched.failure();
  if (launched.value().error) return Failure("Launch failed: %1", launched.value().error_text);
  ForgetRecords();
  return MaybeType<void>();
}

const Client::CoreFunctionDescriptor* SpectatorInProcess::Find(uint32_t method,
                                                               std::string_view path) const {
  return host_.FindFunction(method, path);
}

Client::Spectator::Api::SpectateGameInfoResource SpectatorInProcess::CurrentGame() const {
  void* module = host_.plugin_record().module;
  if (module == nullptr) return {};
  // The record holds the module as its base; this program loaded a spectator module.
  return static_cast<const Client::Spectator::SpectatorModule*>(
             static_cast<Client::CoreAppModule*>(module))
      ->current_game();
}

void SpectatorInProcess::ForgetRecords() {
  host_.ClearRecords();
  peers_ = std::make_unique<DevHost::SimulatedPeers>(DevHost::DefaultRoster());
  peers_->Install(&host_);
}

void HandWrittenCurrentGame(CoreResponse* response, const Client::CoreRequest* request) {
  const auto* game = static_cast<const Client::Spectator::Api::SpectateGameInfoResource*>(
      ReadPacked(request->function_context));
  response->release = &ReleaseHandWrittenResponse;
  response->content_type = kEmptyContentType;
  CoreValue& value = response->value;
  if (!Client::SetStructure(&value, 3)) return;
  CoreStructEntry* entries = value.structure.entries;
  // Name order, as every structure reaches the host.
  (void)Client::SetEntryName(&entries[0], "allowObserveMode");
  (void)Client::SetOwnedString(&entries[0].value, game->allowObserveMode);
  (void)Client::SetEntryName(&entries[1], "dropInSpectateGameId");
  (void)Client::SetOwnedString(&entries[1].value, game->dropInSpectateGameId);
  (void)Client::SetEntryName(&entries[2], "gameQueueType");
  (void)Client::SetOwnedString(&entries[2].value, game->gameQueueType);
}

void ReleaseHandWrittenResponse(CoreResponse* response) {
  Client::ReleaseCoreValue(&response->value);
  std::memset(static_cast<void*>(response), 0, sizeof(CoreResponse));
}

std::string ResponseDifference(const CoreResponse& a, const CoreResponse& b) {
  std::string found = ValueDifference(a.value, b.value, "value");
  if (!found.empty()) return found;
  if (a.error_flag != b.error_flag) return "error flags differ";
  if (a.error_flag != 0 && TextOf(a.error_text) != TextOf(b.error_text)) {
    return "error texts differ";
  }
  if (ReadPacked(a.status_code) != ReadPacked(b.status_code)) return "statuses differ";
  if (a.result_flag != b.result_flag) return "result flags differ";
  if (ReadPacked(a.body_encoding) != ReadPacked(b.body_encoding)) return "encodings differ";
  if ((a.content_type == nullptr) != (b.content_type == nullptr) ||
      TextOf(a.content_type) != TextOf(b.content_type)) {
    return "content types differ";
  }
  const uint32_t headers = ReadPacked(a.header_count);
  if (headers != ReadPacked(b.header_count)) return "header counts differ";
  for (uint32_t i = 0; i < headers; ++i) {
    if (TextOf(a.headers[i].name) != TextOf(b.headers[i].name) ||
        TextOf(a.headers[i].value) != TextOf(b.headers[i].value)) {
      return "header " + std::to_string(i) + " differs";
    }
  }
  if ((a.stream != nullptr) != (b.stream != nullptr)) return "streams differ";
  return "";
}

}  // namespace Kestrel::Bench
