#include "binding/builtin_vocabulary.h"

#include "binding/type_building.h"

namespace Kestrel {
namespace {

using Help = BindingHelpProvider;

void RegisterHelpTypes(TypeRegistry& registry) {
  const std::vector<std::string> tags = {kBuiltinTag, kHelpTag};

  registry.RegisterEnum<Help::HelpFormat>("BindingHelpFormat")
      .AddValue("Full", Help::kFull, "Native help format")
      .AddValue("Epytext", Help::kEpytext, "Python epytext format")
      .SetDescription("Help format for binding functions and types.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullTypeIdentifier>("BindingFullTypeIdentifier")
      .AddField("type", &Help::FullTypeIdentifier::type)
      .AddField("elementType", &Help::FullTypeIdentifier::element_type)
      .SetDescription("Describes the type of a value.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullArgumentHelp>("BindingFullArgumentHelp")
      .AddField("name", &Help::FullArgumentHelp::name)
      .AddField("description", &Help::FullArgumentHelp::description)
      .AddField("type", &Help::FullArgumentHelp::type)
      .AddField("optional", &Help::FullArgumentHelp::optional)
      .SetDescription("Describes a function parameter.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullFunctionHelp>("BindingFullFunctionHelp")
      .AddField("name", &Help::FullFunctionHelp::name)
      .AddField("nameSpace", &Help::FullFunctionHelp::name_space)
      .AddField("arguments", &Help::FullFunctionHelp::arguments)
      .AddField("returns", &Help::FullFunctionHelp::returns)
      .AddField("description", &Help::FullFunctionHelp::description)
      .AddField("help", &Help::FullFunctionHelp::help)
      .AddField("threadSafe", &Help::FullFunctionHelp::thread_safe)
      .AddField("async", &Help::FullFunctionHelp::async)
      .AddField("tags", &Help::FullFunctionHelp::tags)
      .SetDescription("Describes a function.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullEnumValueHelp>("BindingFullEnumValueHelp")
      .AddField("name", &Help::FullEnumValueHelp::name)
      .AddField("description", &Help::FullEnumValueHelp::description)
      .AddField("value", &Help::FullEnumValueHelp::value)
      .SetDescription("Describes an enumerator.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullFieldHelp>("BindingFullFieldHelp")
      .AddField("name", &Help::FullFieldHelp::name)
      .AddField("description", &Help::FullFieldHelp::description)
      .AddField("offset", &Help::FullFieldHelp::offset)
      .AddField("type", &Help::FullFieldHelp::type)
      .AddField("optional", &Help::FullFieldHelp::optional)
      .SetDescription("Describes a member of a struct.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullTypeHelp>("BindingFullTypeHelp")
      .AddField("name", &Help::FullTypeHelp::name)
      .AddField("nameSpace", &Help::FullTypeHelp::name_space)
      .AddField("size", &Help::FullTypeHelp::size)
      .AddField("description", &Help::FullTypeHelp::description)
      .AddField("tags", &Help::FullTypeHelp::tags)
      .AddField("fields", &Help::FullTypeHelp::fields)
      .AddField("values", &Help::FullTypeHelp::values)
      .SetDescription("Describes a struct or enum type.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullEventHelp>("BindingFullEventHelp")
      .AddField("name", &Help::FullEventHelp::name)
      .AddField("nameSpace", &Help::FullEventHelp::name_space)
      .AddField("type", &Help::FullEventHelp::type)
      .AddField("description", &Help::FullEventHelp::description)
      .AddField("tags", &Help::FullEventHelp::tags)
      .SetDescription("Describes an event.")
      .AddTags(tags);

  registry.RegisterStruct<Help::FullApiHelp>("BindingFullApiHelp")
      .AddField("functions", &Help::FullApiHelp::functions)
      .AddField("types", &Help::FullApiHelp::types)
      .AddField("events", &Help::FullApiHelp::events)
      .SetDescription("Describes the exposed native API.")
      .AddTags(tags);
}

void RegisterAsyncAndEvents(TypeRegistry& registry) {
  registry.RegisterEnum<BindingAsyncState::Type>("BindingAsyncState")
      .AddValue("None", BindingAsyncState::kNone, "Invalid state")
      .AddValue("Running", BindingAsyncState::kRunning, "The operation is in flight")
      .AddValue("Cancelling", BindingAsyncState::kCancelling,
                "A request to cancel the operation has been made")
      .AddValue("Cancelled", BindingAsyncState::kCancelled, "The operation was cancelled")
      .AddValue("Succeeded", BindingAsyncState::kSucceeded, "The operation completed successfully")
      .AddValue("Failed", BindingAsyncState::kFailed, "The operation encountered an error")
      .SetDescription("Possible states of an asynchronous operation.")
      .AddTag(kBuiltinTag)
      .AddTag(kAsyncTag);

  registry.RegisterStruct<BindingGenericEvent>("BindingGenericEvent")
      .AddField("data", &BindingGenericEvent::data, "Event data")
      .SetDescription("Represents generic data for an event.")
      .AddTag(kBuiltinTag);

  registry.RegisterStruct<BindingCallbackEvent>("BindingCallbackEvent")
      .AddField("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .AddField("parameters", &BindingCallbackEvent::parameters, "Callback parameters")
      .SetDescription("Represents the parameters of a call to a provided callback.")
      .AddTag(kBuiltinTag);

  registry.RegisterStruct<BindingGenericAsyncEvent>("BindingGenericAsyncEvent")
      .AddField("asyncToken", &BindingGenericAsyncEvent::async_token,
                "Asynchronous operation token")
      .AddField("data", &BindingGenericAsyncEvent::data, "Event data")
      .SetDescription("Represents generic data for an asynchronous event.")
      .AddTag(kBuiltinTag)
      .AddTag(kAsyncTag);

  registry.RegisterStruct<BindingAsyncFailureEvent>("BindingAsyncFailureEvent")
      .AddField("asyncToken", &BindingAsyncFailureEvent::async_token,
                "Asynchronous operation token")
      .AddField("error", &BindingAsyncFailureEvent::error, "Error message")
      .SetDescription("Represents a failed asynchronous operation.")
      .AddTag(kBuiltinTag)
      .AddTag(kAsyncTag);

  registry.RegisterStruct<BindingAsyncCancelEvent>("BindingAsyncCancelEvent")
      .AddField("asyncToken", &BindingAsyncCancelEvent::async_token, "Asynchronous operation token")
      .SetDescription("Represents a cancelled asynchronous operation.")
      .AddTag(kBuiltinTag)
      .AddTag(kAsyncTag);

  registry.RegisterEvent<BindingCallbackEvent>("OnCallback")
      .SetDescription("Fired when a callback is invoked.")
      .AddTag(kBuiltinTag);
}

}  // namespace

void RegisterBuiltinVocabulary(TypeRegistry& registry) {
  RegisterHelpTypes(registry);
  RegisterAsyncAndEvents(registry);
}

// A registry's construction and rebuild live with the vocabulary they register:
// the vocabulary's types are built on the registry, and the registry itself
// knows nothing of them.
TypeRegistry::TypeRegistry() {
  Initialize();
}

void TypeRegistry::Initialize() {
  if (populated_) {
    ClearFunctions();
    ClearEvents();
    ClearTypes();
  }
  RegisterBuiltinVocabulary(*this);
  populated_ = true;
}

}  // namespace Kestrel
