// The plain records and function tables shared with the plugin host.
//
// Every record here crosses the boundary to the host as raw bytes: packed,
// little-endian, 32-bit pointers, cdecl functions. Texts are NUL-terminated
// UTF-8 and belong to the side that allocated them; each field that passes
// memory says who frees it. Nothing in this header owns anything: the host
// records are filled and released by the code that uses them (see
// core_value.h for the release of a `CoreValue`).
//
//   CoreValue value{};                        // kind nil
//   value.kind = CoreValueKind::kSigned;
//   value.signed_value = 42;
//
// The layout checks apply to the product's 32-bit build; a 64-bit build (used
// for thread checks only) compiles the same records with wider pointers.
#ifndef VYN_PLUGIN_HOST_ABI_HOST_RECORDS_H_
#define VYN_PLUGIN_HOST_ABI_HOST_RECORDS_H_

#include <cstddef>
#include <cstdint>

// The host calls and is called with the C calling convention. On i386 it is
// the compiler's default too; the attribute makes the contract visible and
// keeps it if the default is ever changed by a flag.
#if defined(__i386__)
#define VYN_CDECL __attribute__((cdecl))
#else
#define VYN_CDECL
#endif

namespace Kestrel::Client {

#pragma pack(push, 1)

struct CoreValue;
struct CoreEvent;
struct CoreRequest;
struct CoreResponse;
struct CoreInterface;
struct ApiDescription;

// ---------------------------------------------------------------------------
// Values

// The kind word of a `CoreValue`. Borrowed parts belong to whoever made the
// value; owned parts are freed by `ReleaseCoreValue` (core_value.h).
enum class CoreValueKind : uint32_t {
  kNil = 0,
  kBool = 1,
  kSigned = 2,
  kUnsigned = 3,
  kFloat = 4,
  kBorrowedString = 5,
  kOwnedString = 6,
  kBorrowedBlob = 7,
  kOwnedBlob = 8,
  kCollection = 9,
  kStructure = 10,
};

// Text or bytes with their length (kinds 5 to 8). A borrowed string is read as
// NUL-terminated text; its length is not relied on.
struct CoreBytes {
  const char* data;  // the first byte; owned by the value for kinds 6 and 8
  uint32_t length;   // in bytes, without a terminating NUL
};

// Elements of a collection (kind 9): an owned array of `count` values.
struct CoreCollection {
  CoreValue* items;  // `count` values in order; null when `count` is 0
  uint32_t count;
};

struct CoreStructEntry;

// Fields of a structure (kind 10): an owned array of `count` entries.
struct CoreStructure {
  CoreStructEntry* entries;  // `count` fields in order; null when `count` is 0
  uint32_t count;
};

// A host value: a kind word and an 8-byte payload chosen by the kind.
struct CoreValue {
  CoreValueKind kind;  // picks the member of the payload that is valid
  union {
    uint8_t bool_value;         // kind 1: 0 or 1
    int64_t signed_value;       // kind 2
    uint64_t unsigned_value;    // kind 3
    double float_value;         // kind 4
    CoreBytes bytes;            // kinds 5 to 8
    CoreCollection collection;  // kind 9
    CoreStructure structure;    // kind 10
  };
};

// One field of a structure value. `name` is freed with the value when
// `name_owned` is set.
struct CoreStructEntry {
  const char* name;    // the field's name, NUL-terminated
  CoreValue value;     // released with the structure
  uint8_t name_owned;  // 1: `name` was allocated for the value and is freed with it
};

// An event published or delivered through the host. `context` is the context
// given to `Subscribe`, handed back on delivery.
struct CoreEvent {
  const char* name;   // the event name subscribers registered under
  CoreValue payload;  // the event's record as a host value; the sender's
  uint32_t flag;      // 0 when the plugin publishes; on delivery, the host's
  void* context;      // null when published; the subscriber's context on delivery
};

// ---------------------------------------------------------------------------
// Requests and responses

// A request header or response header: name and value texts. In a request they
// belong to the sender; in a response filled by the plugin both are owned
// copies freed by the response's release function.
struct CoreHeader {
  const char* name;   // as sent; compared without regard to case
  const char* value;  // NUL-terminated text
};

// One host argument; `name` is null for a positional argument.
struct CoreArgument {
  const char* name;  // null for a positional argument
  CoreValue value;   // the argument's value; the sender's
};

// A call of a plugin function, or a call the plugin makes to another plugin.
// Everything it points to belongs to the sender for the duration of the call.
struct CoreRequest {
  uint32_t method;                // `HttpMethod` 0 to 8; any larger value is read as 0
  const char* path;               // the path, possibly followed by "?" and a query string
  const CoreArgument* arguments;  // `argument_count` host arguments; may be null when 0
  uint32_t argument_count;
  void* function_context;     // copied by the host from the called function's descriptor
  const CoreHeader* headers;  // `header_count` pairs; may be null when 0
  uint32_t header_count;
  const char* content_type;  // of the body; null or "" when there is none
  const char* body;          // JSON and YAML bodies are NUL-terminated text; may be null
  uint32_t body_length;      // used for binary bodies
  uint32_t caller_id;        // opaque, handed to the handler unchanged
  const char* method_name;   // read only when `method` is 8
};

// Reads up to `*length` bytes of a streamed response into `buffer`, sets
// `*length` to the bytes read and `*more` when data remains; returns 0 when
// the read failed. `stream` is the response's stream; no pointer may be null.
using CoreStreamReadFunction = uint8_t(VYN_CDECL*)(void* stream, char* buffer, uint32_t* length,
                                                   uint8_t* more);
// Destroys a response stream (the response's `stream`, not null).
using CoreStreamReleaseFunction = void(VYN_CDECL*)(void* stream);
// Frees everything a response owns and zeroes it; `response` is not null.
using CoreResponseReleaseFunction = void(VYN_CDECL*)(CoreResponse* response);

// The answer to a request. Owned parts (error text, content type copy, header
// array and its texts, the value's owned parts) are freed by `release`, which
// the filling side stores; a stream is released through `stream_release`.
struct CoreResponse {
  CoreValue value;           // the result; nil when the call failed or gave none
  char* error_text;          // owned; valid when `error_flag` is 1
  uint8_t error_flag;        // 1: the call failed and `error_text` says why
  uint8_t result_flag;       // copied from the handler's `CallResult`
  uint32_t body_encoding;    // 1, 2, 3 copied from the `CallResult`, else 0
  uint32_t status_code;      // HTTP status; 0 when not set
  const char* content_type;  // owned copy, or a shared empty text
  CoreHeader* headers;       // owned array of owned texts
  uint32_t header_count;
  CoreStreamReadFunction stream_read;        // null unless the answer is a stream
  CoreStreamReleaseFunction stream_release;  // destroys `stream`; null without one
  uint64_t stream_size;                 // the stream's declared size in bytes: a claim, not a limit
  void* stream;                         // the stream object handed to both stream functions
  CoreResponseReleaseFunction release;  // frees the owned parts; null when none
};

// ---------------------------------------------------------------------------
// Host function table, module entry table and the load record

struct CoreFunctionTable;

// Receives one delivered event; the plugin's call-backs ignore a null `event`.
using CoreEventCallback = void(VYN_CDECL*)(const CoreEvent* event);

// The host's services. Each function takes the table itself first. Entries 2
// and 6 are never called by the plugin. The plugin passes no null pointer:
// the table, the records and the texts (name, label, log text) are always
// given; a subscription's `context` is the module.
struct CoreFunctionTable {
  // Synchronous: `response` is filled on return.
  void(VYN_CDECL* SendRequest)(CoreFunctionTable* table, CoreResponse* response,
                               const CoreRequest* request);
  void(VYN_CDECL* Reserved2)(CoreFunctionTable* table, uint32_t first, uint32_t second);
  void(VYN_CDECL* SendEvent)(CoreFunctionTable* table, const CoreEvent* event);
  void(VYN_CDECL* Subscribe)(CoreFunctionTable* table, const char* name, uint32_t plugin_id,
                             CoreEventCallback callback, void* context, uint32_t flag);
  void(VYN_CDECL* Unsubscribe)(CoreFunctionTable* table, const char* name, uint32_t plugin_id);
  void(VYN_CDECL* Reserved6)(CoreFunctionTable* table, uint32_t first, uint32_t second,
                             uint32_t third, double fourth, uint32_t fifth);
  // Runs pending host work, then returns.
  void(VYN_CDECL* Yield)(CoreFunctionTable* table);
  void(VYN_CDECL* BeginWait)(CoreFunctionTable* table, const char* label, uint32_t zero);
  void(VYN_CDECL* EndWait)(CoreFunctionTable* table);
  void(VYN_CDECL* Log)(CoreFunctionTable* table, int32_t level, const char* text);
};

// What the host hands the module at `Initialize`; owned by the host.
struct CoreInterface {
  CoreFunctionTable* functions;  // the host's services; never null from a working host
  uint32_t plugin_id;            // the plugin's id, passed back in requests and subscriptions
};

// The allocator counters as the host reads them.
struct MemoryStats {
  uint64_t peak_live_bytes;        // the most bytes live at once
  uint64_t peak_live_allocations;  // live allocations at that peak
  uint64_t bytes_allocated;        // bytes allocated since load
  uint64_t allocations;            // allocations since load
  uint64_t bytes_freed;            // bytes freed since load
  uint64_t frees;                  // frees since load
  uint32_t reserved1;              // always 0
  uint32_t reserved2;              // always 0
};

// The module's entry points, called by the host.
struct ModuleEntryTable {
  // Returns non-zero when the module started; 0 for a null `module`, a null
  // `core` or a null function table in it.
  uint8_t(VYN_CDECL* Initialize)(void* module, CoreInterface* core);
  // Stops and destroys the module; a null `module` is ignored.
  void(VYN_CDECL* Shutdown)(void* module);
  // Fills `stats` (null is ignored) with the plugin's allocator counters.
  void(VYN_CDECL* GetMemoryStats)(uint32_t ignored, MemoryStats* stats);
};

// The argument of `load_vyn_spectator`, seven 32-bit words. The host writes
// its plugin API version into words 0-2; the entry point overwrites them with
// its own and fills the rest. Everything it points to belongs to the module.
struct CorePluginRecord {
  uint32_t version_major;  // in: the host's plugin API version; out: the plugin's
  uint32_t version_minor;
  uint32_t version_patch;
  const ModuleEntryTable* entry_table;    // out: how the host drives the module
  void* module;                           // out: handed to every entry-table function
  const char* plugin_name;                // out: the full plugin name
  const ApiDescription* api_description;  // out: the plugin's functions, types and events
};

// The exported entry point: fills `record` (a null one is ignored), returns
// the result word.
using LoadPluginFunction = uint32_t(VYN_CDECL*)(CorePluginRecord* record);

// ---------------------------------------------------------------------------
// API description. Every array below is also a singly linked list: the first
// word of each record points to the next record of its array, 0 in the last.
// Texts point into the module's registry and live as long as the module.

// The type of an argument, result or field.
struct CoreTypeId {
  uint32_t kind;          // native kind 1..19, else 0
  uint32_t element_kind;  // the elements' kind for a vector or map, else 0
  // The registered name of the value's (or its elements') type record for
  // vectors, enums, structs and maps; "" when there is none.
  const char* type_name;
};

struct CoreArgumentRecord {
  CoreArgumentRecord* next;
  const char* name;
  const char* description;  // "" when none was declared
  CoreTypeId type;
  uint8_t optional;  // 1: the call may leave the argument out
};

struct CoreFunctionRecord {
  CoreFunctionRecord* next;
  uint32_t reserved;       // 0
  void* function_context;  // 0 here; the descriptor's copy carries the context
  const char* name;
  const char* name_space;         // "" unless a registration set one
  CoreArgumentRecord* arguments;  // in declaration order
  uint32_t argument_count;
  CoreTypeId result_type;
  const char* description;
  const char* help;                    // the function's help text; "" when none
  uint8_t thread_safe;                 // 1: the function may run on several host threads at once
  const char* async_result_type_name;  // "" unless the function is asynchronous
  const char* const* tags;             // `tag_count` texts
  uint32_t tag_count;
};

// One entry of a descriptor's argument locations.
struct CoreArgumentLocationEntry {
  CoreArgumentLocationEntry* next;
  uint32_t location;  // `ArgumentLocation` 1 to 5, anything else written as 0
};

// One entry of a descriptor's route text lists.
struct CoreRouteTextList {
  CoreRouteTextList* next;
  const char* const* texts;  // `count` texts; nothing in this system sets any
  uint32_t count;
};

// The host's call of a plugin function: fills `response` for `request`;
// neither may be null.
using CoreFunctionCallback = void(VYN_CDECL*)(CoreResponse* response, const CoreRequest* request);

struct CoreFunctionDescriptor {
  CoreFunctionRecord function;    // its function context is set here
  CoreFunctionCallback callback;  // what the host calls for a request of this function
  CoreArgumentLocationEntry* argument_locations;  // one per location the route records
  const char* path;                               // the path template; "" when none
  uint32_t method;                                // 1 to 8, anything else written as 0
  uint8_t route_flag;                             // 0: nothing in this system sets it
  CoreRouteTextList* route_text_lists;            // empty: nothing in this system sets any
  uint32_t route_text_list_count;
  const char* method_name;  // "" unless the method is 8
};

struct CoreFieldRecord {
  CoreFieldRecord* next;
  const char* name;
  const char* description;  // "" when none was registered
  uint32_t offset;          // byte offset in the native record
  CoreTypeId type;
  uint8_t flags;  // bit 0 omit when zero on output, bit 1 required on input
};

struct CoreEnumValueRecord {
  CoreEnumValueRecord* next;  // enumerators run in ascending order of their names
  const char* name;
  const char* description;  // "" when none was registered
  int32_t value;
};

struct CoreTypeRecord {
  CoreTypeRecord* next;
  const char* name;
  const char* name_space;   // "" unless a registration set one
  uint32_t native_size;     // sizeof the native type, in bytes
  const char* description;  // "" when none was registered
  const char* const* tags;  // `tag_count` texts
  uint32_t tag_count;
  CoreFieldRecord* fields;           // set for a type with fields, else 0
  CoreEnumValueRecord* enumerators;  // set otherwise (possibly an empty list)
  uint32_t member_count;             // of whichever of the two is set
};

struct CoreEventRecord {
  CoreEventRecord* next;
  const char* name;
  const char* name_space;         // "" unless a registration set one
  const char* payload_type_name;  // the registered name of the payload's type record
  const char* description;
  const char* const* tags;  // `tag_count` texts
  uint32_t tag_count;
};

// What the plugin offers; built once at load and owned by the module.
struct ApiDescription {
  CoreFunctionDescriptor* functions;  // one per exposed function
  uint32_t function_count;
  CoreTypeRecord* types;  // every registered type, in the registry's order
  uint32_t type_count;
  CoreEventRecord* events;  // every registered event, in the registry's order
  uint32_t event_count;
};

#pragma pack(pop)

// Reads a field of a record above by value. The records have no alignment, so
// binding a reference to one of their fields (as generic code and assertion
// macros do) may be a misaligned access; a copy never is.
//
//   EXPECT_EQ(ReadPacked(descriptor.method), 6u);
template <typename T>
constexpr T ReadPacked(T field) {
  return field;
}

// ---------------------------------------------------------------------------
// Layout checks. Sizes that hold for any pointer width are checked always; the
// rest wherever pointers are 4 bytes, as in the product.

static_assert(sizeof(CoreValueKind) == 4);
static_assert(sizeof(MemoryStats) == 56);
static_assert(offsetof(CoreValue, signed_value) == 4);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(CoreValue) == 12);
static_assert(sizeof(CoreBytes) == 8);
static_assert(sizeof(CoreStructEntry) == 17);
static_assert(offsetof(CoreStructEntry, value) == 4);
static_assert(offsetof(CoreStructEntry, name_owned) == 16);
static_assert(sizeof(CoreEvent) == 24);
static_assert(offsetof(CoreEvent, payload) == 4);
static_assert(offsetof(CoreEvent, flag) == 16);
static_assert(offsetof(CoreEvent, context) == 20);

static_assert(sizeof(CoreHeader) == 8);
static_assert(sizeof(CoreArgument) == 16);
static_assert(sizeof(CoreRequest) == 48);
static_assert(offsetof(CoreRequest, path) == 4);
static_assert(offsetof(CoreRequest, function_context) == 16);
static_assert(offsetof(CoreRequest, headers) == 20);
static_assert(offsetof(CoreRequest, content_type) == 28);
static_assert(offsetof(CoreRequest, body) == 32);
static_assert(offsetof(CoreRequest, body_length) == 36);
static_assert(offsetof(CoreRequest, caller_id) == 40);
static_assert(offsetof(CoreRequest, method_name) == 44);

static_assert(sizeof(CoreResponse) == 62);
static_assert(offsetof(CoreResponse, value) == 0);
static_assert(offsetof(CoreResponse, error_text) == 12);
static_assert(offsetof(CoreResponse, error_flag) == 16);
static_assert(offsetof(CoreResponse, result_flag) == 17);
static_assert(offsetof(CoreResponse, body_encoding) == 18);
static_assert(offsetof(CoreResponse, status_code) == 22);
static_assert(offsetof(CoreResponse, content_type) == 26);
static_assert(offsetof(CoreResponse, headers) == 30);
static_assert(offsetof(CoreResponse, header_count) == 34);
static_assert(offsetof(CoreResponse, stream_read) == 38);
static_assert(offsetof(CoreResponse, stream_release) == 42);
static_assert(offsetof(CoreResponse, stream_size) == 46);
static_assert(offsetof(CoreResponse, stream) == 54);
static_assert(offsetof(CoreResponse, release) == 58);

static_assert(sizeof(CoreFunctionTable) == 40);
static_assert(offsetof(CoreFunctionTable, Yield) == 24);
static_assert(offsetof(CoreFunctionTable, Log) == 36);
static_assert(sizeof(CoreInterface) == 8);
static_assert(sizeof(ModuleEntryTable) == 12);
static_assert(sizeof(CorePluginRecord) == 28);
static_assert(offsetof(CorePluginRecord, entry_table) == 12);
static_assert(offsetof(CorePluginRecord, api_description) == 24);

static_assert(sizeof(ApiDescription) == 24);
static_assert(sizeof(CoreTypeId) == 12);
static_assert(sizeof(CoreFunctionRecord) == 61);
static_assert(offsetof(CoreFunctionRecord, result_type) == 28);
static_assert(offsetof(CoreFunctionRecord, description) == 40);
static_assert(offsetof(CoreFunctionRecord, thread_safe) == 48);
static_assert(offsetof(CoreFunctionRecord, async_result_type_name) == 49);
static_assert(offsetof(CoreFunctionRecord, tags) == 53);
static_assert(offsetof(CoreFunctionRecord, tag_count) == 57);
static_assert(sizeof(CoreArgumentRecord) == 25);
static_assert(offsetof(CoreArgumentRecord, optional) == 24);
static_assert(sizeof(CoreFunctionDescriptor) == 90);
static_assert(offsetof(CoreFunctionDescriptor, callback) == 61);
static_assert(offsetof(CoreFunctionDescriptor, argument_locations) == 65);
static_assert(offsetof(CoreFunctionDescriptor, path) == 69);
static_assert(offsetof(CoreFunctionDescriptor, method) == 73);
static_assert(offsetof(CoreFunctionDescriptor, route_flag) == 77);
static_assert(offsetof(CoreFunctionDescriptor, route_text_lists) == 78);
static_assert(offsetof(CoreFunctionDescriptor, route_text_list_count) == 82);
static_assert(offsetof(CoreFunctionDescriptor, method_name) == 86);
static_assert(sizeof(CoreArgumentLocationEntry) == 8);
static_assert(sizeof(CoreRouteTextList) == 12);
static_assert(sizeof(CoreTypeRecord) == 40);
static_assert(offsetof(CoreTypeRecord, fields) == 28);
static_assert(offsetof(CoreTypeRecord, member_count) == 36);
static_assert(sizeof(CoreFieldRecord) == 29);
static_assert(offsetof(CoreFieldRecord, type) == 16);
static_assert(offsetof(CoreFieldRecord, flags) == 28);
static_assert(sizeof(CoreEnumValueRecord) == 16);
static_assert(sizeof(CoreEventRecord) == 28);
#endif

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_ABI_HOST_RECORDS_H_
