#include "binding/type_building.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "binding/binding_property.h"

namespace RegistryProbe {
enum class Color : uint16_t { kRed = 1, kGreen = 2 };
struct Inner {
  int32_t a = 0;
  std::string b;
};
struct Everything {
  bool flag;
  int8_t i8;
  uint8_t u8;
  int16_t i16;
  uint16_t u16;
  int32_t i32;
  uint32_t u32;
  int64_t i64;
  uint64_t u64;
  float f;
  double d;
  std::string text;
  Kestrel::BindingProperty object;
  std::vector<uint8_t> blob;
  std::vector<std::string> texts;
  std::vector<Kestrel::BindingProperty> objects;
  Color color;
  Inner inner;
  std::vector<Inner> inners;
  std::unordered_map<std::string, int32_t> counts;
  std::vector<std::vector<Color>> color_grid;
};
// A type whose codec is defined below, to watch what the adapter forwards.
struct Traced {
  int32_t value = 0;
};
struct HoldsTraced {
  char padding[3];
  Traced traced;
};
}  // namespace RegistryProbe

VYN_STATIC_TYPE(RegistryProbe::Color, "enum RegistryProbe::Color");
VYN_STATIC_TYPE(RegistryProbe::Inner, "struct RegistryProbe::Inner");
VYN_STATIC_TYPE(RegistryProbe::Everything, "struct RegistryProbe::Everything");
VYN_STATIC_TYPE(RegistryProbe::Traced, "struct RegistryProbe::Traced");
VYN_STATIC_TYPE(RegistryProbe::HoldsTraced, "struct RegistryProbe::HoldsTraced");

namespace Kestrel {

template <>
struct FieldCodec<RegistryProbe::Traced> {
  static void Assign(PropertyResult& status, RegistryProbe::Traced& native,
                     const BindingProperty& input, std::string_view path,
                     const TypeRecord* /*element_type*/, TypeRegistry& /*registry*/,
                     uint32_t flags) {
    native.value = static_cast<int32_t>(input.GetSigned()) + static_cast<int32_t>(flags);
    if (path == "fail") status.SetError("traced failure");
  }
  static bool Walk(NativeSink& sink, const RegistryProbe::Traced& native,
                   const TypeRecord* /*element_type*/, TypeRegistry& /*registry*/) {
    sink.Signed(native.value * 10);
    return true;
  }
};

namespace {

using RegistryProbe::Color;
using RegistryProbe::Everything;
using RegistryProbe::Inner;
using ::testing::ElementsAre;

std::vector<std::string> FieldNames(const TypeRecord& type) {
  std::vector<std::string> names;
  for (const FieldRecord& field : type.fields()) names.push_back(field.name);
  return names;
}

void RegisterInner(TypeRegistry& registry) {
  registry.RegisterStruct<Inner>("Inner").AddField("a", &Inner::a).AddField("b", &Inner::b);
}

void RegisterColor(TypeRegistry& registry) {
  registry.RegisterEnum<Color>("Color").AddValue("Red", 1).AddValue("Green", 2);
}

TEST(TypeRegistry, AddFieldDeducesKindIdentityOffsetAndAdapter) {
  TypeRegistry registry;
  RegisterInner(registry);
  RegisterColor(registry);
  registry.RegisterStruct<Everything>("Everything")
      .AddField("flag", &Everything::flag)
      .AddField("i8", &Everything::i8)
      .AddField("u8", &Everything::u8)
      .AddField("i16", &Everything::i16)
      .AddField("u16", &Everything::u16)
      .AddField("i32", &Everything::i32)
      .AddField("u32", &Everything::u32)
      .AddField("i64", &Everything::i64)
      .AddField("u64", &Everything::u64)
      .AddField("f", &Everything::f)
      .AddField("d", &Everything::d)
      .AddField("text", &Everything::text)
      .AddField("object", &Everything::object)
      .AddField("blob", &Everything::blob)
      .AddField("texts", &Everything::texts)
      .AddField("objects", &Everything::objects)
      .AddField("color", &Everything::color)
      .AddField("inner", &Everything::inner)
      .AddField("inners", &Everything::inners)
      .AddField("counts", &Everything::counts)
      .AddField("colorGrid", &Everything::color_grid);

  const TypeRecord* type = registry.FindType<Everything>();
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->name(), "Everything");
  EXPECT_EQ(type->native_size(), sizeof(Everything));
  EXPECT_FALSE(type->is_enum());
  EXPECT_EQ(type->registry(), &registry);
  const TypeRecord* inner = registry.FindTypeByName("Inner");
  const TypeRecord* color = registry.FindTypeByName("Color");
  ASSERT_NE(inner, nullptr);
  ASSERT_NE(color, nullptr);

  struct Expected {
    const char* name;
    NativeKind kind;
    NativeKind element_kind;
    const TypeRecord* element_type;
  };
  const Expected expected[] = {
      {"flag", NativeKind::kBool, NativeKind::kNone, nullptr},
      {"i8", NativeKind::kInt8, NativeKind::kNone, nullptr},
      {"u8", NativeKind::kUInt8, NativeKind::kNone, nullptr},
      {"i16", NativeKind::kInt16, NativeKind::kNone, nullptr},
      {"u16", NativeKind::kUInt16, NativeKind::kNone, nullptr},
      {"i32", NativeKind::kInt32, NativeKind::kNone, nullptr},
      {"u32", NativeKind::kUInt32, NativeKind::kNone, nullptr},
      {"i64", NativeKind::kInt64, NativeKind::kNone, nullptr},
      {"u64", NativeKind::kUInt64, NativeKind::kNone, nullptr},
      {"f", NativeKind::kFloat, NativeKind::kNone, nullptr},
      {"d", NativeKind::kDouble, NativeKind::kNone, nullptr},
      {"text", NativeKind::kString, NativeKind::kNone, nullptr},
      {"object", NativeKind::kObject, NativeKind::kNone, nullptr},
      {"blob", NativeKind::kBlob, NativeKind::kNone, nullptr},
      {"texts", NativeKind::kVector, NativeKind::kString, nullptr},
      {"objects", NativeKind::kVector, NativeKind::kObject, nullptr},
      {"color", NativeKind::kEnum, NativeKind::kNone, color},
      {"inner", NativeKind::kStruct, NativeKind::kNone, inner},
      {"inners", NativeKind::kVector, NativeKind::kStruct, inner},
      {"counts", NativeKind::kMap, NativeKind::kInt32, nullptr},
      {"colorGrid", NativeKind::kVector, NativeKind::kVector, color},
  };
  ASSERT_EQ(type->fields().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const FieldRecord& field = type->fields()[i];
    SCOPED_TRACE(field.name);
    EXPECT_EQ(field.name, expected[i].name);
    EXPECT_EQ(field.name_hash, Fnv1a32(expected[i].name));
    EXPECT_EQ(field.type.kind, expected[i].kind);
    EXPECT_EQ(field.type.element_kind, expected[i].element_kind);
    EXPECT_EQ(field.type.element_type, expected[i].element_type);
    EXPECT_EQ(field.second_type, FieldType{});
    EXPECT_EQ(field.owner, type);
    EXPECT_NE(field.adapter, nullptr);
    EXPECT_NE(field.identity, nullptr);
    EXPECT_FALSE(field.use_adapter);
  }
  EXPECT_EQ(type->fields()[0].offset, offsetof(Everything, flag));
  EXPECT_EQ(type->fields()[7].offset, offsetof(Everything, i64));
  EXPECT_EQ(type->fields()[12].offset, offsetof(Everything, object));
  EXPECT_EQ(type->fields()[20].offset, offsetof(Everything, color_grid));
  EXPECT_EQ(type->fields()[11].identity, &StaticType::HashCode<std::string>());
  EXPECT_EQ(type->fields()[18].identity, &StaticType::HashCode<std::vector<Inner>>());
  EXPECT_EQ(type->FindField("counts"), &type->fields()[19]);
  EXPECT_EQ(type->FindField("missing"), nullptr);
}

TEST(TypeRegistry, FlagsSecondTypeAndUseAdapterAreKept) {
  TypeRegistry registry;
  const FieldType second{NativeKind::kString, NativeKind::kNone, nullptr};
  registry.RegisterStruct<Inner>("Inner")
      .AddField("a", &Inner::a, "the a", kFieldOmitIfZero | kFieldRequired, second)
      .UseAdapter()
      .AddField<std::string>("b", offsetof(Inner, b));
  const TypeRecord* type = registry.FindTypeByName("Inner");
  ASSERT_NE(type, nullptr);
  ASSERT_EQ(type->fields().size(), 2u);
  EXPECT_EQ(type->fields()[0].description, "the a");
  EXPECT_EQ(type->fields()[0].flags, 3u);
  EXPECT_EQ(type->fields()[0].second_type, second);
  EXPECT_TRUE(type->fields()[0].use_adapter);
  EXPECT_FALSE(type->fields()[1].use_adapter);
  EXPECT_EQ(type->fields()[1].offset, offsetof(Inner, b));
  EXPECT_EQ(type->fields()[1].type.kind, NativeKind::kString);
}

TEST(TypeRegistry, AdapterForwardsTheTypedFieldToItsCodec) {
  TypeRegistry registry;
  registry.RegisterStruct<RegistryProbe::HoldsTraced>("HoldsTraced")
      .AddField("traced", &RegistryProbe::HoldsTraced::traced);
  const FieldRecord& field = registry.FindTypeByName("HoldsTraced")->fields()[0];
  EXPECT_EQ(field.offset, offsetof(RegistryProbe::HoldsTraced, traced));

  RegistryProbe::HoldsTraced native{};
  void* address = reinterpret_cast<char*>(&native) + field.offset;
  BindingProperty input;
  input.SetSigned(40);
  PropertyResult status;
  field.adapter->Assign(status, address, input, "traced", nullptr, registry, 2);
  EXPECT_TRUE(status.IsValid());
  EXPECT_EQ(native.traced.value, 42);
  field.adapter->Assign(status, address, input, "fail", nullptr, registry, 0);
  EXPECT_FALSE(status.IsValid());
  EXPECT_EQ(status.GetError(), "traced failure");

  PropertyResult output;
  field.adapter->Convert(output, address, nullptr, registry);
  EXPECT_EQ(output.GetSigned(), 400);
}

TEST(TypeRegistry, SecondRegistrationOfANameChangesNothing) {
  TypeRegistry registry;
  TypeBuilder first = registry.RegisterStruct<Inner>("Inner");
  EXPECT_FALSE(first.existing());
  first.AddField("a", &Inner::a).SetDescription("first").AddTag("one");

  TypeBuilder second = registry.RegisterStruct("Inner", 99, StaticType::HashCode<Color>());
  EXPECT_TRUE(second.existing());
  EXPECT_EQ(second.record(), first.record());
  second.AddField("b", &Inner::b).SetDescription("second").AddTag("two").AddValue("X", 1);

  const TypeRecord* type = registry.FindTypeByName("Inner");
  EXPECT_THAT(FieldNames(*type), ElementsAre("a"));
  EXPECT_EQ(type->description(), "first");
  EXPECT_THAT(type->tags(), ElementsAre("one"));
  EXPECT_TRUE(type->values().empty());
  EXPECT_EQ(type->native_size(), sizeof(Inner));
  // The ignored registration did not index the other identity either.
  EXPECT_EQ(registry.FindType<Color>(), nullptr);
}

TEST(TypeRegistry, NestedTypesAreResolvedWhenTheFieldIsAdded) {
  TypeRegistry registry;
  // Registered before its nested types: the references stay null for good.
  registry.RegisterStruct<Everything>("Early")
      .AddField("inner", &Everything::inner)
      .AddField("inners", &Everything::inners)
      .AddField("color", &Everything::color);
  RegisterInner(registry);
  RegisterColor(registry);
  registry.RegisterStruct("Late", sizeof(Everything), StaticType::HashCode<void>())
      .AddField("inner", &Everything::inner)
      .AddField("inners", &Everything::inners)
      .AddField("color", &Everything::color);

  const TypeRecord* early = registry.FindTypeByName("Early");
  const TypeRecord* late = registry.FindTypeByName("Late");
  const TypeRecord* inner = registry.FindTypeByName("Inner");
  for (const FieldRecord& field : early->fields()) {
    EXPECT_EQ(field.type.element_type, nullptr) << field.name;
  }
  EXPECT_EQ(late->fields()[0].type.element_type, inner);
  EXPECT_EQ(late->fields()[1].type.element_type, inner);
  EXPECT_EQ(late->fields()[2].type.element_type, registry.FindTypeByName("Color"));
  EXPECT_EQ(registry.DeduceFieldType<std::vector<Inner>>(),
            (FieldType{NativeKind::kVector, NativeKind::kStruct, inner}));
  EXPECT_EQ(registry.DeduceFieldType<bool>(), (FieldType{NativeKind::kBool}));
}

TEST(TypeRegistry, VoidIdentityIsFoundByNameOnly) {
  TypeRegistry registry;
  const size_t before = registry.type_count();
  registry.RegisterStruct("Loose", 0, StaticType::HashCode<void>());
  EXPECT_NE(registry.FindTypeByName("Loose"), nullptr);
  EXPECT_EQ(registry.FindType(&StaticType::HashCode<void>()), nullptr);
  EXPECT_EQ(registry.FindTypeByHash(StaticType::HashCode<void>().hash_code), nullptr);
  EXPECT_EQ(registry.type_count(), before + 1);
  EXPECT_EQ(registry.FindType(nullptr), nullptr);
  EXPECT_EQ(registry.FindTypeByName("Nothing"), nullptr);
}

TEST(TypeRegistry, LaterTypeWithTheSameIdentityTakesTheIdentityIndex) {
  TypeRegistry registry;
  registry.RegisterStruct<Inner>("InnerA");
  registry.RegisterStruct<Inner>("InnerB");
  EXPECT_EQ(registry.FindType<Inner>(), registry.FindTypeByName("InnerB"));
  // Removing the superseded type must not unindex the one that replaced it.
  EXPECT_TRUE(registry.RemoveType("InnerA"));
  EXPECT_EQ(registry.FindType<Inner>(), registry.FindTypeByName("InnerB"));
  EXPECT_TRUE(registry.RemoveType("InnerB"));
  EXPECT_EQ(registry.FindType<Inner>(), nullptr);
}

TEST(TypeRegistry, TagsKeepOrderAndSkipEmptyTexts) {
  TypeRegistry registry;
  registry.RegisterStruct<Inner>("Inner")
      .AddTag("")
      .AddTag("first")
      .AddTags({"second", "", "third"})
      .AddTag("first");
  EXPECT_THAT(registry.FindTypeByName("Inner")->tags(),
              ElementsAre("first", "second", "third", "first"));
}

TEST(TypeRegistry, EnumeratorLookups) {
  TypeRegistry registry;
  registry.RegisterEnum<Color>("Color")
      .AddValue("Red", 1, "warm")
      .AddValue("Crimson", 1)
      .AddValue("green", 2)
      .AddValue("Blue", 3)
      .AddValue("Blue", 4, "replaced")
      .SetDescription("Colours.");
  const TypeRecord* color = registry.FindType<Color>();
  ASSERT_NE(color, nullptr);
  EXPECT_TRUE(color->is_enum());
  EXPECT_EQ(color->native_size(), 2u);

  // Name order, byte by byte: upper case before lower case.
  std::vector<std::string> names;
  for (const auto& [name, value] : color->values()) names.push_back(name);
  EXPECT_THAT(names, ElementsAre("Blue", "Crimson", "Red", "green"));
  EXPECT_EQ(color->FindValue("Blue")->value, 4);
  EXPECT_EQ(color->FindValue("Blue")->description, "replaced");
  EXPECT_EQ(color->FindValue("Red")->owner, color);

  const StaticTypeInfo* id = &StaticType::HashCode<Color>();
  ASSERT_NE(registry.FindEnumValue(id, 1), nullptr);
  EXPECT_EQ(registry.FindEnumValue(id, 1)->name, "Crimson");  // first name for a shared number
  EXPECT_EQ(registry.FindEnumValue(&StaticType::Name<Color>(), 2)->name, "green");
  EXPECT_EQ(registry.FindEnumValue(id, 3), nullptr);  // replaced by 4
  EXPECT_TRUE(registry.HasEnumValue(id, 4));
  EXPECT_FALSE(registry.HasEnumValue(id, 0));
  EXPECT_EQ(registry.FindEnumNumber(id, "green"), 2);
  EXPECT_EQ(registry.FindEnumNumber(id, "Green"), std::nullopt);
  EXPECT_EQ(registry.FindEnumNumber(id, "Blu"), std::nullopt);
  EXPECT_EQ(registry.FindEnumValue(&StaticType::HashCode<Inner>(), 1), nullptr);
  EXPECT_EQ(registry.FindEnumNumber(nullptr, "Red"), std::nullopt);
}

TEST(TypeRegistry, SnapshotsListEntriesInRegistrationOrderAndAreCopies) {
  TypeRegistry registry;
  const size_t builtin_types = registry.type_count();
  RegisterInner(registry);
  RegisterColor(registry);
  registry.RegisterFunction("GetThing", registry.DeduceFieldType<Inner>(), {});
  registry.RegisterEvent<Inner>("OnThing");

  const std::vector<const TypeRecord*> types = registry.SnapshotTypes();
  ASSERT_EQ(types.size(), builtin_types + 2);
  EXPECT_EQ(types[builtin_types]->name(), "Inner");
  EXPECT_EQ(types[builtin_types + 1]->name(), "Color");
  const std::vector<const FunctionRecord*> functions = registry.SnapshotFunctions();
  ASSERT_EQ(functions.size(), 1u);
  EXPECT_EQ(functions[0]->name, "GetThing");
  const std::vector<const EventRecord*> events = registry.SnapshotEvents();
  ASSERT_EQ(events.size(), 2u);  // "OnCallback" first
  EXPECT_EQ(events[1]->name, "OnThing");
  EXPECT_EQ(events[1]->payload_type, &StaticType::HashCode<Inner>());

  registry.RegisterStruct<Everything>("Everything");
  EXPECT_EQ(types.size(), builtin_types + 2);
  EXPECT_EQ(registry.SnapshotTypes().size(), builtin_types + 3);
}

TEST(TypeRegistry, RemovalAndClearing) {
  TypeRegistry registry;
  const size_t builtin_types = registry.type_count();
  RegisterInner(registry);
  RegisterColor(registry);
  EXPECT_FALSE(registry.RemoveType("Nothing"));
  EXPECT_TRUE(registry.RemoveType("Inner"));
  EXPECT_FALSE(registry.RemoveType("Inner"));
  EXPECT_EQ(registry.FindTypeByName("Inner"), nullptr);
  EXPECT_EQ(registry.FindType<Inner>(), nullptr);
  EXPECT_EQ(registry.type_count(), builtin_types + 1);
  for (const TypeRecord* type : registry.SnapshotTypes()) EXPECT_NE(type->name(), "Inner");

  // The name is free again and takes a new definition.
  registry.RegisterStruct<Inner>("Inner").AddField("b", &Inner::b);
  EXPECT_THAT(FieldNames(*registry.FindType<Inner>()), ElementsAre("b"));

  registry.RegisterFunction("F", {}, {});
  registry.ClearTypes();
  registry.ClearFunctions();
  registry.ClearEvents();
  EXPECT_EQ(registry.type_count(), 0u);
  EXPECT_EQ(registry.function_count(), 0u);
  EXPECT_EQ(registry.event_count(), 0u);
  EXPECT_EQ(registry.FindType<Color>(), nullptr);
  EXPECT_EQ(registry.FindFunction("F"), nullptr);
  EXPECT_EQ(registry.FindEvent("OnCallback"), nullptr);
}

TEST(TypeRegistry, FunctionArgumentsAreDeclaredByPosition) {
  TypeRegistry registry;
  RegisterInner(registry);
  const FieldType text = registry.DeduceFieldType<std::string>();
  const FieldType inner = registry.DeduceFieldType<Inner>();
  FunctionBuilder builder = registry.RegisterFunction("PostThing", inner, {text, inner});
  EXPECT_FALSE(builder.failed());
  const FieldType override_type{NativeKind::kVector, NativeKind::kString, nullptr};
  builder.DeclareArgument("name", "the name")
      .DeclareArgument("body", "", true, override_type)
      .DeclareArgument("extra")
      .SetDescription("Posts.")
      .SetHelp("help text")
      .SetNameSpace("ns")
      .SetThreadSafe(true)
      .SetAsync(true)
      .AddTag("")
      .AddTags({"a", "b"});

  const FunctionRecord* function = registry.FindFunction("PostThing");
  ASSERT_NE(function, nullptr);
  ASSERT_EQ(function->arguments.size(), 3u);  // grew for the third declaration
  EXPECT_EQ(function->arguments[0].name, "name");
  EXPECT_EQ(function->arguments[0].name_hash, Fnv1a32("name"));
  EXPECT_EQ(function->arguments[0].description, "the name");
  EXPECT_EQ(function->arguments[0].type.effective(), text);
  EXPECT_TRUE(function->arguments[1].optional);
  EXPECT_EQ(function->arguments[1].type.primary, inner);
  EXPECT_EQ(function->arguments[1].type.effective(), override_type);
  EXPECT_EQ(function->arguments[2].type.primary, FieldType{});
  EXPECT_EQ(function->result_type.effective(), inner);
  EXPECT_EQ(function->description, "Posts.");
  EXPECT_EQ(function->help, "help text");
  EXPECT_EQ(function->name_space, "ns");
  EXPECT_TRUE(function->thread_safe);
  EXPECT_TRUE(function->async);
  EXPECT_THAT(function->tags, ElementsAre("a", "b"));
  EXPECT_EQ(function->registry, &registry);

  // A second registration fails: declarations only advance, nothing changes.
  FunctionBuilder again = registry.RegisterFunction("PostThing", text, {});
  EXPECT_TRUE(again.failed());
  again.DeclareArgument("other").DeclareArgument("fifth").SetDescription("x").AddTag("c");
  EXPECT_EQ(function->arguments.size(), 3u);
  EXPECT_EQ(function->arguments[0].name, "name");
  EXPECT_EQ(function->description, "Posts.");
  EXPECT_EQ(function->result_type.primary, inner);
  EXPECT_THAT(function->tags, ElementsAre("a", "b"));
}

TEST(TypeRegistry, EventsKeepTheirFirstDefinition) {
  TypeRegistry registry;
  registry.RegisterEvent<Inner>("OnThing").SetDescription("first").SetNameSpace("ns").AddTag("t");
  EventBuilder again = registry.RegisterEvent<Color>("OnThing");
  EXPECT_TRUE(again.existing());
  again.SetDescription("second").AddTag("u");
  const EventRecord* event = registry.FindEvent("OnThing");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->payload_type, &StaticType::HashCode<Inner>());
  EXPECT_EQ(event->description, "first");
  EXPECT_EQ(event->name_space, "ns");
  EXPECT_THAT(event->tags, ElementsAre("t"));
}

TEST(TypeRegistry, ConcurrentRegistrationAndLookupKeepEveryEntry) {
  TypeRegistry registry;
  const size_t builtin_types = registry.type_count();
  constexpr int kThreads = 4;
  constexpr int kTypesPerThread = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&registry, t] {
      for (int i = 0; i < kTypesPerThread; ++i) {
        const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
        registry.RegisterStruct("Shared", sizeof(Inner), StaticType::HashCode<Inner>())
            .AddField("a", &Inner::a);
        registry.RegisterStruct(name, sizeof(Inner), StaticType::HashCode<void>())
            .AddField("inner", &Everything::inner)
            .AddTag(name);
        const TypeRecord* found = registry.FindTypeByName(name);
        if (found == nullptr || found->tags().size() != 1) ADD_FAILURE() << name;
        registry.SnapshotTypes();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(registry.type_count(), builtin_types + 1 + kThreads * kTypesPerThread);
  // "Shared" was registered once and given its field once.
  EXPECT_THAT(FieldNames(*registry.FindTypeByName("Shared")), ElementsAre("a"));
}

}  // namespace
}  // namespace Kestrel
