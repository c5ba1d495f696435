#include "binding/builtin_vocabulary.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "binding/assign_native.h"
#include "binding/convert_native.h"
#include "binding/type_building.h"

namespace Kestrel {
struct CallbackHolder {
  std::string name;
  BindingCallback done;
};
}  // namespace Kestrel

VYN_STATIC_TYPE(Kestrel::CallbackHolder, "struct Kestrel::CallbackHolder");

namespace Kestrel {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct ExpectedField {
  const char* name;
  NativeKind kind;
  NativeKind element_kind;
  const char* element_type;  // registry name of the element record, or ""
  const char* description;
};

struct ExpectedType {
  const char* name;
  bool is_enum;
  const char* description;
  std::vector<std::string> tags;
  std::vector<ExpectedField> fields;
};

constexpr NativeKind kNo = NativeKind::kNone;

std::vector<ExpectedType> ExpectedVocabulary() {
  const std::vector<std::string> help = {"$builtin", "help"};
  const std::vector<std::string> builtin = {"$builtin"};
  const std::vector<std::string> async = {"$builtin", "async"};
  const char* id = "BindingFullTypeIdentifier";
  return {
      {"BindingHelpFormat", true, "Help format for binding functions and types.", help, {}},
      {"BindingFullTypeIdentifier",
       false,
       "Describes the type of a value.",
       help,
       {{"type", NativeKind::kString, kNo, "", ""},
        {"elementType", NativeKind::kString, kNo, "", ""}}},
      {"BindingFullArgumentHelp",
       false,
       "Describes a function parameter.",
       help,
       {{"name", NativeKind::kString, kNo, "", ""},
        {"description", NativeKind::kString, kNo, "", ""},
        {"type", NativeKind::kStruct, kNo, id, ""},
        {"optional", NativeKind::kBool, kNo, "", ""}}},
      {"BindingFullFunctionHelp",
       false,
       "Describes a function.",
       help,
       {{"name", NativeKind::kString, kNo, "", ""},
        {"nameSpace", NativeKind::kString, kNo, "", ""},
        {"arguments", NativeKind::kVector, NativeKind::kStruct, "BindingFullArgumentHelp", ""},
        {"returns", NativeKind::kStruct, kNo, id, ""},
        {"description", NativeKind::kString, kNo, "", ""},
        {"help", NativeKind::kString, kNo, "", ""},
        {"threadSafe", NativeKind::kBool, kNo, "", ""},
        {"async", NativeKind::kString, kNo, "", ""},
        {"tags", NativeKind::kVector, NativeKind::kString, "", ""}}},
      {"BindingFullEnumValueHelp",
       false,
       "Describes an enumerator.",
       help,
       {{"name", NativeKind::kString, kNo, "", ""},
        {"description", NativeKind::kString, kNo, "", ""},
        {"value", NativeKind::kInt32, kNo, "", ""}}},
      {"BindingFullFieldHelp",
       false,
       "Describes a member of a struct.",
       help,
       {{"name", NativeKind::kString, kNo, "", ""},
        {"description", NativeKind::kString, kNo, "", ""},
        {"offset", NativeKind::kUInt32, kNo, "", ""},
        {"type", NativeKind::kStruct, kNo, id, ""},
        {"optional", NativeKind::kBool, kNo, "", ""}}},
      {"BindingFullTypeHelp",
       false,
       "Describes a struct or enum type.",
       help,
       {{"name", NativeKind::kString, kNo, "", ""},
        {"nameSpace", NativeKind::kString, kNo, "", ""},
        {"size", NativeKind::kUInt32, kNo, "", ""},
        {"description", NativeKind::kString, kNo, "", ""},
        {"tags", NativeKind::kVector, NativeKind::kString, "", ""},
        {"fields", NativeKind::kVector, NativeKind::kStruct, "BindingFullFieldHelp", ""},
        {"values", NativeKind::kVector, NativeKind::kStruct, "BindingFullEnumValueHelp", ""}}},
      {"BindingFullEventHelp",
       false,
       "Describes an event.",
       help,
       {{"name", NativeKind::kString, kNo, "", ""},
        {"nameSpace", NativeKind::kString, kNo, "", ""},
        {"type", NativeKind::kStruct, kNo, id, ""},
        {"description", NativeKind::kString, kNo, "", ""},
        {"tags", NativeKind::kVector, NativeKind::kString, "", ""}}},
      {"BindingFullApiHelp",
       false,
       "Describes the exposed native API.",
       help,
       {{"functions", NativeKind::kVector, NativeKind::kStruct, "BindingFullFunctionHelp", ""},
        {"types", NativeKind::kVector, NativeKind::kStruct, "BindingFullTypeHelp", ""},
        {"events", NativeKind::kVector, NativeKind::kStruct, "BindingFullEventHelp", ""}}},
      {"BindingAsyncState", true, "Possible states of an asynchronous operation.", async, {}},
      {"BindingGenericEvent",
       false,
       "Represents generic data for an event.",
       builtin,
       {{"data", NativeKind::kObject, kNo, "", "Event data"}}},
      {"BindingCallbackEvent",
       false,
       "Represents the parameters of a call to a provided callback.",
       builtin,
       {{"id", NativeKind::kUInt32, kNo, "", "ID of the callback being invoked"},
        {"parameters", NativeKind::kVector, NativeKind::kObject, "", "Callback parameters"}}},
      {"BindingGenericAsyncEvent",
       false,
       "Represents generic data for an asynchronous event.",
       async,
       {{"asyncToken", NativeKind::kUInt32, kNo, "", "Asynchronous operation token"},
        {"data", NativeKind::kObject, kNo, "", "Event data"}}},
      {"BindingAsyncFailureEvent",
       false,
       "Represents a failed asynchronous operation.",
       async,
       {{"asyncToken", NativeKind::kUInt32, kNo, "", "Asynchronous operation token"},
        {"error", NativeKind::kString, kNo, "", "Error message"}}},
      {"BindingAsyncCancelEvent",
       false,
       "Represents a cancelled asynchronous operation.",
       async,
       {{"asyncToken", NativeKind::kUInt32, kNo, "", "Asynchronous operation token"}}},
  };
}

// Compares the registry's types, in order, with the expected vocabulary.
void ExpectExactlyTheVocabulary(const TypeRegistry& registry) {
  const std::vector<ExpectedType> expected = ExpectedVocabulary();
  const std::vector<const TypeRecord*> types = registry.SnapshotTypes();
  ASSERT_EQ(types.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TypeRecord& type = *types[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(type.name(), expected[i].name);
    EXPECT_EQ(type.is_enum(), expected[i].is_enum);
    EXPECT_EQ(type.description(), expected[i].description);
    EXPECT_EQ(type.tags(), expected[i].tags);
    EXPECT_EQ(type.name_space(), "");
    EXPECT_EQ(registry.FindTypeByName(expected[i].name), &type);
    EXPECT_EQ(registry.FindType(type.identity()), &type);
    ASSERT_EQ(type.fields().size(), expected[i].fields.size());
    for (size_t f = 0; f < expected[i].fields.size(); ++f) {
      const ExpectedField& want = expected[i].fields[f];
      const FieldRecord& field = type.fields()[f];
      SCOPED_TRACE(want.name);
      EXPECT_EQ(field.name, want.name);
      EXPECT_EQ(field.type.kind, want.kind);
      EXPECT_EQ(field.type.element_kind, want.element_kind);
      EXPECT_EQ(field.description, want.description);
      EXPECT_EQ(field.flags, 0u);
      if (*want.element_type == '\0') {
        EXPECT_EQ(field.type.element_type, nullptr);
      } else {
        ASSERT_NE(field.type.element_type, nullptr);
        EXPECT_EQ(field.type.element_type->name(), want.element_type);
      }
    }
  }
  const std::vector<const EventRecord*> events = registry.SnapshotEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name, "OnCallback");
  EXPECT_EQ(events[0]->description, "Fired when a callback is invoked.");
  EXPECT_THAT(events[0]->tags, ElementsAre("$builtin"));
  EXPECT_EQ(registry.FindType(events[0]->payload_type)->name(), "BindingCallbackEvent");
  EXPECT_EQ(registry.function_count(), 0u);
}

std::vector<std::pair<std::string, int32_t>> Values(const TypeRecord& type) {
  std::vector<std::pair<std::string, int32_t>> values;
  for (const auto& [name, value] : type.values()) values.emplace_back(name, value.value);
  return values;
}

TEST(BuiltinVocabulary, FreshRegistryHoldsExactlyTheBuiltinsInOrder) {
  TypeRegistry registry;
  ExpectExactlyTheVocabulary(registry);
}

TEST(BuiltinVocabulary, EnumeratorsAndNativeIdentities) {
  TypeRegistry registry;
  const TypeRecord* state = registry.FindType<BindingAsyncState::Type>();
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->name(), "BindingAsyncState");
  EXPECT_EQ(state->native_size(), 4u);
  EXPECT_THAT(Values(*state),
              ElementsAreArray(std::vector<std::pair<std::string, int32_t>>{{"Cancelled", 3},
                                                                            {"Cancelling", 2},
                                                                            {"Failed", 5},
                                                                            {"None", 0},
                                                                            {"Running", 1},
                                                                            {"Succeeded", 4}}));
  EXPECT_EQ(state->FindValue("Cancelling")->description,
            "A request to cancel the operation has been made");
  EXPECT_EQ(state->FindValue("None")->description, "Invalid state");
  const StaticTypeInfo* state_id = &StaticType::HashCode<BindingAsyncState::Type>();
  EXPECT_EQ(registry.FindEnumValue(state_id, BindingAsyncState::kFailed)->name, "Failed");
  EXPECT_EQ(registry.FindEnumNumber(state_id, "Failed"), 5);

  const TypeRecord* format = registry.FindType<BindingHelpProvider::HelpFormat>();
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format->name(), "BindingHelpFormat");
  EXPECT_THAT(Values(*format), ElementsAreArray(std::vector<std::pair<std::string, int32_t>>{
                                   {"Epytext", 2}, {"Full", 1}}));
  EXPECT_EQ(format->FindValue("Epytext")->description, "Python epytext format");
  EXPECT_EQ(format->FindValue("Full")->description, "Native help format");
  const StaticTypeInfo* format_id = &StaticType::HashCode<BindingHelpProvider::HelpFormat>();
  EXPECT_EQ(registry.FindEnumValue(format_id, 2)->name, "Epytext");
  EXPECT_EQ(registry.FindEnumNumber(format_id, "Epytext"), 2);
  EXPECT_EQ(registry.FindEnumValue(format_id, 0), nullptr);

  EXPECT_EQ(registry.FindType<BindingCallbackEvent>()->native_size(), sizeof(BindingCallbackEvent));
  EXPECT_EQ(registry.FindType<BindingHelpProvider::FullApiHelp>()->name(), "BindingFullApiHelp");
  EXPECT_EQ(registry.FindType<BindingAsyncFailureEvent>()->fields()[1].offset,
            offsetof(BindingAsyncFailureEvent, error));
  EXPECT_EQ(StaticType::Name<BindingGenericEvent>().display_name,
            "const char *__cdecl StaticType::Name<struct Kestrel::BindingGenericEvent>(void)");
}

TEST(BuiltinVocabulary, CallbackFieldsHaveTheCallbackKindAndConvertTheirIdThroughTheAdapter) {
  TypeRegistry registry;
  registry.RegisterStruct<CallbackHolder>("CallbackHolder")
      .AddField("name", &CallbackHolder::name)
      .AddField("done", &CallbackHolder::done);
  const FieldRecord& field = registry.FindType<CallbackHolder>()->fields()[1];
  EXPECT_EQ(field.type, (FieldType{NativeKind::kCallback, NativeKind::kNone, nullptr}));
  EXPECT_EQ(field.identity, &StaticType::HashCode<BindingCallback>());

  BindingProperty input;
  input.Field("name").SetString("job");
  input.Field("done").SetString("7");
  CallbackHolder holder;
  PropertyResult status;
  AssignNative(status, holder, input, "holder", registry);
  ASSERT_TRUE(status.IsValid()) << status.GetError();
  EXPECT_EQ(holder.done, BindingCallback{7});

  PropertyResult output;
  ConvertNative(output, holder, registry);
  ASSERT_TRUE(output.IsValid());
  EXPECT_EQ(output.GetField("done").kind(), PropertyKind::kUnsigned);
  EXPECT_EQ(output.GetField("done").GetUnsigned(), 7u);

  input.Field("done").SetSigned(-1);
  AssignNative(status, holder, input, "holder", registry);
  EXPECT_EQ(status.GetError(), "Value -1 for 'done' of type uint32 is out of range");
}

TEST(BuiltinVocabulary, ResourceHasBothIdentityRecords) {
  const StaticTypeInfo& hashed = StaticType::HashCode<Resource>();
  const StaticTypeInfo& named = StaticType::Name<Resource>();
  EXPECT_EQ(hashed.hash_code,
            Fnv1a32("unsigned int __cdecl StaticType::HashCode<struct Kestrel::Resource>(void)"));
  EXPECT_EQ(named.hash_code, hashed.hash_code);
  EXPECT_EQ(named.display_name,
            "const char *__cdecl StaticType::Name<struct Kestrel::Resource>(void)");
}

TEST(BuiltinVocabulary, RebuildLeavesExactlyOneOfEachAndDropsModuleEntries) {
  TypeRegistry registry;
  registry.RegisterStruct("ModuleType", 4, StaticType::HashCode<int>());
  registry.RegisterFunction("ModuleFunction", {}, {});
  registry.RegisterEvent<int>("OnModuleEvent");
  const TypeRecord* old_state = registry.FindTypeByName("BindingAsyncState");
  ASSERT_NE(old_state, nullptr);

  registry.Initialize();
  ExpectExactlyTheVocabulary(registry);
  EXPECT_EQ(registry.FindTypeByName("ModuleType"), nullptr);
  EXPECT_EQ(registry.FindType<int>(), nullptr);
  EXPECT_EQ(registry.FindFunction("ModuleFunction"), nullptr);
  EXPECT_EQ(registry.FindEvent("OnModuleEvent"), nullptr);
  EXPECT_EQ(registry.FindType<BindingAsyncState::Type>()->values().size(), 6u);

  // Registering the vocabulary again over a populated registry adds nothing.
  RegisterBuiltinVocabulary(registry);
  ExpectExactlyTheVocabulary(registry);
  registry.Initialize();
  ExpectExactlyTheVocabulary(registry);
}

TEST(BuiltinVocabulary, RegistersIntoAClearedRegistry) {
  TypeRegistry registry;
  registry.ClearTypes();
  registry.ClearEvents();
  ASSERT_EQ(registry.type_count(), 0u);
  RegisterBuiltinVocabulary(registry);
  ExpectExactlyTheVocabulary(registry);
}

}  // namespace
}  // namespace Kestrel
