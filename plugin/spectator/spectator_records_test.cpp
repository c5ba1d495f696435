#include "plugin/spectator/spectator_records.h"

#include <gtest/gtest.h>

#include <string>

#include "remoting/typed_result.h"
#include "util/fnv1a.h"

namespace Kestrel::Client::Spectator {
namespace {

struct ExpectedRecord {
  const char* name;
  std::vector<const char*> fields;
  NativeKind first_kind;
  NativeKind first_element_kind;
};

TEST(SpectatorRecordsTest, RegistersTheFourRecordsWithTheirWireFieldsInOrder) {
  TypeRegistry registry;
  ServerClassNames classes;
  const std::size_t builtin_count = registry.type_count();
  RegisterSpectatorTypes(registry, {"Plugins", "Plugin tmx-be-vyn-spectator"}, classes);

  const ExpectedRecord expected[] = {
      {"SpectatorLcdsSpectateAvailabilityDto",
       {"teamOrSummonerIds"},
       NativeKind::kVector,
       NativeKind::kString},
      {"SpectatorLcdsSpectateAvailabilityResponseDto",
       {"availableForWatching"},
       NativeKind::kVector,
       NativeKind::kString},
      {"SpectateGameInfo",
       {"dropInSpectateGameId", "gameQueueType", "allowObserveMode"},
       NativeKind::kString,
       NativeKind::kNone},
      {"SummonerOrTeamAvailabilty",
       {"availableForWatching"},
       NativeKind::kVector,
       NativeKind::kString},
  };
  std::vector<const TypeRecord*> types = registry.SnapshotTypes();
  ASSERT_EQ(types.size(), builtin_count + 4);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].name);
    const TypeRecord* type = types[builtin_count + i];
    EXPECT_EQ(type->name(), expected[i].name);
    EXPECT_FALSE(type->is_enum());
    EXPECT_EQ(type->tags(), (std::vector<std::string>{"Plugins", "Plugin tmx-be-vyn-spectator"}));
    EXPECT_TRUE(type->description().empty());
    ASSERT_EQ(type->fields().size(), expected[i].fields.size());
    for (std::size_t f = 0; f < type->fields().size(); ++f) {
      EXPECT_EQ(type->fields()[f].name, expected[i].fields[f]);
      EXPECT_TRUE(type->fields()[f].description.empty());
      EXPECT_EQ(type->fields()[f].flags, 0u);
    }
    EXPECT_EQ(type->fields()[0].type.kind, expected[i].first_kind);
    EXPECT_EQ(type->fields()[0].type.element_kind, expected[i].first_element_kind);
  }
  EXPECT_EQ(registry.FindType<Api::SpectateGameInfoResource>(),
            registry.FindTypeByName("SpectateGameInfo"));
  EXPECT_EQ(registry.FindType<LCDS::SpectateAvailabilityResponseDto>(),
            registry.FindTypeByName("SpectatorLcdsSpectateAvailabilityResponseDto"));
}

TEST(SpectatorRecordsTest, RecordsServerClassNamesOfTheDtosOnlyByNameAndIdentity) {
  TypeRegistry registry;
  ServerClassNames classes;
  RegisterSpectatorTypes(registry, {}, classes);
  EXPECT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes.ByRegistryName("SpectatorLcdsSpectateAvailabilityDto"),
            "com.kestrelsoft.platform.spectate.SpectateAvailabilityDto");
  EXPECT_EQ(classes.ByIdentity(StaticType::HashCode<LCDS::SpectateAvailabilityResponseDto>()),
            "com.kestrelsoft.platform.spectate.SpectateAvailabilityResponseDto");
  // The readable identity carries the same hash, so it finds the same name.
  EXPECT_EQ(classes.ByIdentity(StaticType::Name<LCDS::SpectateAvailabilityDto>()),
            "com.kestrelsoft.platform.spectate.SpectateAvailabilityDto");
  EXPECT_EQ(classes.ByRegistryName("SpectateGameInfo"), "");
  EXPECT_EQ(classes.ByIdentity(StaticType::HashCode<Api::SpectateGameInfoResource>()), "");
}

TEST(SpectatorRecordsTest, ARegisteredNameKeepsTheFieldsItHas) {
  struct Other {
    std::string x;
  };
  TypeRegistry registry;
  registry.RegisterStruct("SpectateGameInfo", sizeof(Other), StaticType::HashCode<void>());
  ServerClassNames classes;
  RegisterSpectatorTypes(registry, {"Plugins"}, classes);
  const TypeRecord* game = registry.FindTypeByName("SpectateGameInfo");
  ASSERT_NE(game, nullptr);
  EXPECT_TRUE(game->fields().empty());
  EXPECT_TRUE(game->tags().empty());
  EXPECT_EQ(registry.FindType<Api::SpectateGameInfoResource>(), nullptr);
}

TEST(SpectatorRecordsTest, IdentitiesReadAsTheirQualifiedNames) {
  const std::string game = "struct Kestrel::Client::Spectator::Api::SpectateGameInfoResource";
  struct Case {
    const StaticTypeInfo& hashed;
    const StaticTypeInfo& named;
    std::string spelling;
  };
  const Case cases[] = {
      {StaticType::HashCode<Api::SpectateGameInfoResource>(),
       StaticType::Name<Api::SpectateGameInfoResource>(), game},
      // The result of the GET of the current game.
      {StaticType::HashCode<RemotingTypedResult<Api::SpectateGameInfoResource>>(),
       StaticType::Name<RemotingTypedResult<Api::SpectateGameInfoResource>>(),
       "class Kestrel::RemotingTypedResult<" + game + ">"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spelling);
    EXPECT_EQ(c.hashed.hash_code,
              Fnv1a32("unsigned int __cdecl StaticType::HashCode<" + c.spelling + ">(void)"));
    EXPECT_EQ(c.named.hash_code, c.hashed.hash_code);
    EXPECT_EQ(c.named.display_name,
              "const char *__cdecl StaticType::Name<" + c.spelling + ">(void)");
  }
  EXPECT_NE(cases[0].hashed.hash_code, cases[1].hashed.hash_code);
  EXPECT_NE(StaticType::HashCode<LCDS::SpectateAvailabilityDto>().hash_code,
            StaticType::HashCode<LCDS::SpectateAvailabilityResponseDto>().hash_code);
}

}  // namespace
}  // namespace Kestrel::Client::Spectator
