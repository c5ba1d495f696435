#include "plugin/spectator/spectator_records.h"

#include "binding/type_building.h"

namespace Kestrel::Client::Spectator {

void ServerClassNames::Record(std::string_view registry_name, const StaticTypeInfo& identity,
                              std::string_view class_name) {
  by_name_.insert_or_assign(std::string(registry_name), std::string(class_name));
  by_identity_.insert_or_assign(identity.hash_code, std::string(class_name));
}

std::string_view ServerClassNames::ByRegistryName(std::string_view registry_name) const {
  auto found = by_name_.find(registry_name);
  return found == by_name_.end() ? std::string_view() : std::string_view(found->second);
}

std::string_view ServerClassNames::ByIdentity(const StaticTypeInfo& identity) const {
  auto found = by_identity_.find(identity.hash_code);
  return found == by_identity_.end() ? std::string_view() : std::string_view(found->second);
}

void RegisterSpectatorTypes(TypeRegistry& registry, const std::vector<std::string>& tags,
                            ServerClassNames& class_names) {
  using Api::SpectateGameInfoResource;
  using Api::SummonerOrTeamSpectateResource;
  using LCDS::SpectateAvailabilityDto;
  using LCDS::SpectateAvailabilityResponseDto;

  registry.RegisterStruct<SpectateAvailabilityDto>(kAvailabilityDtoName)
      .AddField("teamOrSummonerIds", &SpectateAvailabilityDto::teamOrSummonerIds)
      .AddTags(tags);
  class_names.Record(kAvailabilityDtoName, StaticType::HashCode<SpectateAvailabilityDto>(),
                     kAvailabilityDtoClass);

  registry.RegisterStruct<SpectateAvailabilityResponseDto>(kAvailabilityResponseDtoName)
      .AddField("availableForWatching", &SpectateAvailabilityResponseDto::availableForWatching)
      .AddTags(tags);
  class_names.Record(kAvailabilityResponseDtoName,
                     StaticType::HashCode<SpectateAvailabilityResponseDto>(),
                     kAvailabilityResponseDtoClass);

  registry.RegisterStruct<SpectateGameInfoResource>(kSpectateGameInfoName)
      .AddField("dropInSpectateGameId", &SpectateGameInfoResource::dropInSpectateGameId)
      .AddField("gameQueueType", &SpectateGameInfoResource::gameQueueType)
      .AddField("allowObserveMode", &SpectateGameInfoResource::allowObserveMode)
      .AddTags(tags);

  registry.RegisterStruct<SummonerOrTeamSpectateResource>(kSummonerOrTeamAvailabilityName)
      .AddField("availableForWatching", &SummonerOrTeamSpectateResource::availableForWatching)
      .AddTags(tags);
}

}  // namespace Kestrel::Client::Spectator
