// The records the spectator feature exchanges: two resources that its
// endpoints take and return, and the two data-transfer objects of the game
// server's `spectator` service. All four are plain native records registered
// in the module's type registry, so that the binding layer converts them to
// and from `BindingProperty` by name and field order.
//
//   TypeRegistry registry;
//   ServerClassNames classes;
//   RegisterSpectatorTypes(registry, {"Plugins"}, classes);
//   classes.ByRegistryName("SpectatorLcdsSpectateAvailabilityDto");
//   // "com.kestrelsoft.platform.spectate.SpectateAvailabilityDto"
#ifndef VYN_PLUGIN_SPECTATOR_SPECTATOR_RECORDS_H_
#define VYN_PLUGIN_SPECTATOR_SPECTATOR_RECORDS_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "binding/static_type.h"
#include "binding/type_registry.h"

namespace Kestrel::Client::Spectator {

namespace Api {

// The game to watch, as the user interface hands it over and as the gameflow
// plugin takes it. All three fields are texts and pass through unchanged.
struct SpectateGameInfoResource {
  std::string dropInSpectateGameId;
  std::string gameQueueType;
  std::string allowObserveMode;

  bool operator==(const SpectateGameInfoResource&) const = default;
};

// The answer of the availability endpoint: the names that can be watched now.
struct SummonerOrTeamSpectateResource {
  std::vector<std::string> availableForWatching;

  bool operator==(const SummonerOrTeamSpectateResource&) const = default;
};

}  // namespace Api

namespace LCDS {

// Request payload of the server method `getDropInSpectateAvailability`.
struct SpectateAvailabilityDto {
  std::vector<std::string> teamOrSummonerIds;

  bool operator==(const SpectateAvailabilityDto&) const = default;
};

// The server's answer to it.
struct SpectateAvailabilityResponseDto {
  std::vector<std::string> availableForWatching;

  bool operator==(const SpectateAvailabilityResponseDto&) const = default;
};

}  // namespace LCDS

// Registry names of the four records ("Availabilty" is spelled so on purpose:
// the user interface knows the type by this name).
inline constexpr char kSpectateGameInfoName[] = "SpectateGameInfo";
inline constexpr char kSummonerOrTeamAvailabilityName[] = "SummonerOrTeamAvailabilty";
inline constexpr char kAvailabilityDtoName[] = "SpectatorLcdsSpectateAvailabilityDto";
inline constexpr char kAvailabilityResponseDtoName[] =
    "SpectatorLcdsSpectateAvailabilityResponseDto";

// Server class names of the two DTOs.
inline constexpr char kAvailabilityDtoClass[] =
    "com.kestrelsoft.platform.spectate.SpectateAvailabilityDto";
inline constexpr char kAvailabilityResponseDtoClass[] =
    "com.kestrelsoft.platform.spectate.SpectateAvailabilityResponseDto";

// The server class name of each registered DTO, recorded against its registry
// name and against its static identity.
class ServerClassNames {
 public:
  void Record(std::string_view registry_name, const StaticTypeInfo& identity,
              std::string_view class_name);
  // Returns the class name recorded for `registry_name`, or "" when none.
  std::string_view ByRegistryName(std::string_view registry_name) const;
  // Returns the class name recorded for the identity, or "" when none.
  std::string_view ByIdentity(const StaticTypeInfo& identity) const;
  std::size_t size() const { return by_name_.size(); }

 private:
  std::map<std::string, std::string, std::less<>> by_name_;
  std::map<uint32_t, std::string> by_identity_;
};

// Registers the two DTOs, then the two resources, each with its fields in
// declaration order and `tags`, and records the DTOs' server class names. A
// record whose name is already registered keeps the fields it has.
void RegisterSpectatorTypes(TypeRegistry& registry, const std::vector<std::string>& tags,
                            ServerClassNames& class_names);

}  // namespace Kestrel::Client::Spectator

VYN_STATIC_TYPE(Kestrel::Client::Spectator::Api::SpectateGameInfoResource,
                "struct Kestrel::Client::Spectator::Api::SpectateGameInfoResource");
VYN_STATIC_TYPE(Kestrel::Client::Spectator::Api::SummonerOrTeamSpectateResource,
                "struct Kestrel::Client::Spectator::Api::SummonerOrTeamSpectateResource");
VYN_STATIC_TYPE(Kestrel::Client::Spectator::LCDS::SpectateAvailabilityDto,
                "struct Kestrel::Client::Spectator::LCDS::SpectateAvailabilityDto");
VYN_STATIC_TYPE(Kestrel::Client::Spectator::LCDS::SpectateAvailabilityResponseDto,
                "struct Kestrel::Client::Spectator::LCDS::SpectateAvailabilityResponseDto");

#endif  // VYN_PLUGIN_SPECTATOR_SPECTATOR_RECORDS_H_
