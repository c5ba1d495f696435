#include "plugin/spectator/spectator_module.h"

#include "log/logger.h"
#include "plugin/host/module_events.h"
#include "plugin/host/outgoing_request.h"
#include "plugin/host/service_proxy.h"
#include "util/format_text.h"

namespace Kestrel::Client::Spectator {
namespace {

// Feature lines go to the log as "vyn-spectator: <text>" at the error level.
void LogFeatureError(const std::string& text) {
  LogMessage(kLogLevelError, kLogGroupGen, "vyn-spectator: %s", text.c_str());
}

}  // namespace

SpectatorModule::~SpectatorModule() = default;

void SpectatorModule::RegisterApi() {
  RegisterSpectatorTypes(registry(), tags(), server_class_names_);

  Post(kAvailabilityPath,
       [this](const std::vector<std::string>& names)
           -> MaybeType<Api::SummonerOrTeamSpectateResource> { return GetAvailability(names); })
      .Body("summonerOrTeamNames");
  Post(kLaunchPath, [this](const Api::SpectateGameInfoResource& game) -> MaybeType<void> {
    return Launch(game);
  }).Body("spectateGameInfo");
  Get(kCurrentGamePath, [this]() -> RemotingTypedResult<Api::SpectateGameInfoResource> {
    return CurrentGameResult();
  });
}

MaybeType<Api::SummonerOrTeamSpectateResource> SpectatorModule::GetAvailability(
    const std::vector<std::string>& names) {
  LCDS::SpectateAvailabilityDto request;
  request.teamOrSummonerIds = names;
  std::future<MaybeType<LCDS::SpectateAvailabilityResponseDto>> pending =
      CallService<LCDS::SpectateAvailabilityResponseDto>(*this, kSpectatorService,
                                                         kAvailabilityMethod, request);
  MaybeType<LCDS::SpectateAvailabilityResponseDto> answer = Await(pending);
  if (answer.is_failure()) {
    LogFeatureError(
        FormatText("Error getting spectate availability for summoner/team: %1", answer.failure()));
    return Failure(500,
                   "Error getting spectate availability for summoner/team, request buddy size: "
                   "%1, error: %2",
                   static_cast<uint32_t>(request.teamOrSummonerIds.size()), answer.failure());
  }
  Api::SummonerOrTeamSpectateResource result;
  result.availableForWatching = std::move(answer.value().availableForWatching);
  return result;
}

Api::SpectateGameInfoResource SpectatorModule::current_game() const {
  return CurrentGameResult().result().value();
}

RemotingTypedResult<Api::SpectateGameInfoResource> SpectatorModule::CurrentGameResult() const {
  std::lock_guard<std::mutex> guard(current_game_mutex_);
  return RemotingTypedResult<Api::SpectateGameInfoResource>(std::in_place, current_game_);
}

MaybeType<void> SpectatorModule::Launch(const Api::SpectateGameInfoResource& game) {
  {
    std::lock_guard<std::mutex> guard(current_game_mutex_);
    current_game_ = game;
  }
  // The game this launch stored goes on; another thread may store the next.
  MaybeType<void> launched = Request(requests(), HttpMethod::kPost, kGameflowLaunchPath, game);
  if (launched.is_failure()) {
    LogFeatureError(
        FormatText("Failed to set launch spectator mode: %1", launched.failure().message()));
    return Failure("Failed to set launch spectator mode: %1", launched.failure());
  }
  // Publishing is best effort: the launch itself succeeded.
  MaybeType<void> published =
      PublishResourceEvent(PluginResourceEventType::Update, kCurrentGamePath, game);
  (void)published;
  return MaybeType<void>();
}

}  // namespace Kestrel::Client::Spectator
