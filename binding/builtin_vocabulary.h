// The built-in vocabulary that every `TypeRegistry` carries beside a module's own
// types: the help records in which an exposed API is described as data
// (`BindingHelpProvider`), the states of an asynchronous operation
// (`BindingAsyncState`), five event payload records and the event "OnCallback";
// beside them the base of resource records (`Resource`), which is not
// registered, and the callback type of binding_callback.h.
//
// A registry holds them from construction on and after every rebuild
// (`TypeRegistry::Initialize`, defined here since the vocabulary is built on
// the registry); modules register their types after them. The
// native records below are plain values owned by whoever holds them.
//
//   TypeRegistry registry;   // already holds "BindingHelpFormat" ... "OnCallback"
//   registry.FindType<BindingAsyncState::Type>()->FindValueByNumber(5)->name;  // "Failed"
#ifndef VYN_BINDING_BUILTIN_VOCABULARY_H_
#define VYN_BINDING_BUILTIN_VOCABULARY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_callback.h"
#include "binding/binding_property.h"
#include "binding/static_type.h"

namespace Kestrel {

class TypeRegistry;

// States of an asynchronous operation.
struct BindingAsyncState {
  enum Type : int32_t {
    kNone = 0,
    kRunning = 1,
    kCancelling = 2,
    kCancelled = 3,
    kSucceeded = 4,
    kFailed = 5,
  };
};
static_assert(sizeof(BindingAsyncState::Type) == 4);

// Generic data for an event.
struct BindingGenericEvent {
  BindingProperty data;
};
static_assert(sizeof(BindingGenericEvent) == sizeof(BindingProperty));

// The parameters of a call to a provided callback.
struct BindingCallbackEvent {
  uint32_t id = 0;
  std::vector<BindingProperty> parameters;
};

// Generic data for an asynchronous event.
struct BindingGenericAsyncEvent {
  uint32_t async_token = 0;
  BindingProperty data;
};

// A failed asynchronous operation.
struct BindingAsyncFailureEvent {
  uint32_t async_token = 0;
  std::string error;
};

// A cancelled asynchronous operation.
struct BindingAsyncCancelEvent {
  uint32_t async_token = 0;
};
static_assert(sizeof(BindingAsyncCancelEvent) == 4);

// The base of the native records that a module serves and publishes as
// resources (the data of a resource event); it holds nothing, so a record
// derived from it keeps its layout.
struct Resource {
  bool operator==(const Resource&) const = default;
};

// The records in which the exposed API is described as data.
struct BindingHelpProvider {
  enum HelpFormat : int32_t {
    kFull = 1,     // native help format
    kEpytext = 2,  // Python epytext format
  };

  struct FullTypeIdentifier {
    std::string type;
    std::string element_type;
  };

  struct FullArgumentHelp {
    std::string name;
    std::string description;
    FullTypeIdentifier type;
    bool optional = false;
  };

  struct FullFunctionHelp {
    std::string name;
    std::string name_space;
    std::vector<FullArgumentHelp> arguments;
    FullTypeIdentifier returns;
    std::string description;
    std::string help;
    bool thread_safe = false;
    std::string async;
    std::vector<std::string> tags;
  };

  struct FullEnumValueHelp {
    std::string name;
    std::string description;
    int32_t value = 0;
  };

  struct FullFieldHelp {
    std::string name;
    std::string description;
    uint32_t offset = 0;
    FullTypeIdentifier type;
    bool optional = false;
  };

  struct FullTypeHelp {
    std::string name;
    std::string name_space;
    uint32_t size = 0;
    std::string description;
    std::vector<std::string> tags;
    std::vector<FullFieldHelp> fields;
    std::vector<FullEnumValueHelp> values;
  };

  struct FullEventHelp {
    std::string name;
    std::string name_space;
    FullTypeIdentifier type;
    std::string description;
    std::vector<std::string> tags;
  };

  struct FullApiHelp {
    std::vector<FullFunctionHelp> functions;
    std::vector<FullTypeHelp> types;
    std::vector<FullEventHelp> events;
  };
};
static_assert(sizeof(BindingHelpProvider::HelpFormat) == 4);

// Tags of the built-in vocabulary.
inline constexpr const char kBuiltinTag[] = "$builtin";
inline constexpr const char kAsyncTag[] = "async";
inline constexpr const char kHelpTag[] = "help";

// Registers, in order, the help types ("BindingHelpFormat" first), the async
// state, the five event records and the event "OnCallback". Entries that exist
// already are left as they are, so calling it twice adds nothing. Never fails.
void RegisterBuiltinVocabulary(TypeRegistry& registry);

}  // namespace Kestrel

VYN_STATIC_TYPE(Kestrel::BindingAsyncState::Type, "enum Kestrel::BindingAsyncState::Type");
VYN_STATIC_TYPE(Kestrel::BindingGenericEvent, "struct Kestrel::BindingGenericEvent");
VYN_STATIC_TYPE(Kestrel::BindingCallbackEvent, "struct Kestrel::BindingCallbackEvent");
VYN_STATIC_TYPE(Kestrel::BindingGenericAsyncEvent, "struct Kestrel::BindingGenericAsyncEvent");
VYN_STATIC_TYPE(Kestrel::BindingAsyncFailureEvent, "struct Kestrel::BindingAsyncFailureEvent");
VYN_STATIC_TYPE(Kestrel::BindingAsyncCancelEvent, "struct Kestrel::BindingAsyncCancelEvent");
VYN_STATIC_TYPE(Kestrel::Resource, "struct Kestrel::Resource");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::HelpFormat,
                "enum Kestrel::BindingHelpProvider::HelpFormat");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullTypeIdentifier,
                "struct Kestrel::BindingHelpProvider::FullTypeIdentifier");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullArgumentHelp,
                "struct Kestrel::BindingHelpProvider::FullArgumentHelp");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullFunctionHelp,
                "struct Kestrel::BindingHelpProvider::FullFunctionHelp");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullEnumValueHelp,
                "struct Kestrel::BindingHelpProvider::FullEnumValueHelp");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullFieldHelp,
                "struct Kestrel::BindingHelpProvider::FullFieldHelp");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullTypeHelp,
                "struct Kestrel::BindingHelpProvider::FullTypeHelp");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullEventHelp,
                "struct Kestrel::BindingHelpProvider::FullEventHelp");
VYN_STATIC_TYPE(Kestrel::BindingHelpProvider::FullApiHelp,
                "struct Kestrel::BindingHelpProvider::FullApiHelp");

#endif  // VYN_BINDING_BUILTIN_VOCABULARY_H_
