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
  const char* data;
  uint32_t length;
};

// Elements of a collection (kind 9): an owned array of `count` values.
struct CoreCollection {
  CoreValue* items;
  uint32_t count;
};

struct CoreStructEntry;

// Fields of a structure (kind 10): an owned array of `count` entries.
struct CoreStructure {
  CoreStructEntry* entries;
  uint32_t count;
};

// A host value: a kind word and an 8-byte payload chosen by the kind.
struct CoreValue {
  CoreValueKind kind;
  union {
    uint8_t bool_value;  // kind 1: 0 or 1
    int64_t signed_value;
    uint64_t unsigned_value;
    double float_value;
    CoreBytes bytes;  // kinds 5 to 8
    CoreCollection collection;
    CoreStructure structure;
  };
};

// One field of a structure value. `name` is freed with the value when
// `name_owned` is set.
struct CoreStructEntry {
  const char* name;
  CoreValue value;
  uint8_t name_owned;
};

// An event published or delivered through the host. `context` is the context
// given to `Subscribe`, handed back on delivery.
struct CoreEvent {
  const char* name;
  CoreValue payload;
  uint32_t flag;
  void* context;
};

// ---------------------------------------------------------------------------
// Requests and responses

// A request header or response header: name and value texts. In a request they
// belong to the sender; in a response filled by the plugin both are owned
// copies freed by the response's release function.
struct CoreHeader {
  const char* name;
  const char* value;
};

// One host argument; `name` is null for a positional argument.
struct CoreArgument {
  const char* name;
  CoreValue value;
};

// A call of a plugin function, or a call the plugin makes to another plugin.
// Everything it points to belongs to the sender for the duration of the call.
struct CoreRequest {
  uint32_t method;   // 0 to 8; any larger value is read as 0
  const char* path;  // the path, possibly followed by "?" and a query string
  const CoreArgument* arguments;
  uint32_t argument_count;
  void* function_context;  // copied by the host from the called function's descriptor
  const CoreHeader* headers;
  uint32_t header_count;
  const char* content_type;
  const char* body;         // JSON and YAML bodies are NUL-terminated text
  uint32_t body_length;     // used for binary bodies
  uint32_t caller_id;       // opaque, handed to the handler unchanged
  const char* method_name;  // read only when `method` is 8
};

// Reads up to `*length` bytes of a streamed response into `buffer`, sets
// `*length` to the bytes read and `*more` when data remains.
using CoreStreamReadFunction = uint8_t(VYN_CDECL*)(void* stream, char* buffer, uint32_t* length,
                                                   uint8_t* more);
// Destroys a response stream.
using CoreStreamReleaseFunction = void(VYN_CDECL*)(void* stream);
// Frees everything a response owns and zeroes it.
using CoreResponseReleaseFunction = void(VYN_CDECL*)(CoreResponse* response);

// The answer to a request. Owned parts (error text, content type copy, header
// array and its texts, the value's owned parts) are freed by `release`, which
// the filling side stores; a stream is released through `stream_release`.
struct CoreResponse {
  CoreValue value;
  char* error_text;  // owned; valid when `error_flag` is 1
  uint8_t error_flag;
  uint8_t result_flag;
  uint32_t body_encoding;    // 1, 2, 3 or 0
  uint32_t status_code;      // 0 when not set
  const char* content_type;  // owned copy, or a shared empty text
  CoreHeader* headers;       // owned array of owned texts
  uint32_t header_count;
  CoreStreamReadFunction stream_read;
  CoreStreamReleaseFunction stream_release;
  uint64_t stream_size;
  void* stream;
  CoreResponseReleaseFunction release;
};

// ---------------------------------------------------------------------------
// Host function table, module entry table and the load record

struct CoreFunctionTable;

using CoreEventCallback = void(VYN_CDECL*)(const CoreEvent* event);

// The host's services. Each function takes the table itself first. Entries 2
// and 6 are never called by the plugin.
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
  CoreFunctionTable* functions;
  uint32_t plugin_id;
};

// The allocator counters as the host reads them.
struct MemoryStats {
  uint64_t peak_live_bytes;
  uint64_t peak_live_allocations;
  uint64_t bytes_allocated;
  uint64_t allocations;
  uint64_t bytes_freed;
  uint64_t frees;
  uint32_t reserved1;  // always 0
  uint32_t reserved2;  // always 0
};

// The module's entry points, called by the host.
struct ModuleEntryTable {
  // Returns non-zero when the module started.
  uint8_t(VYN_CDECL* Initialize)(void* module, CoreInterface* core);
  // Stops and destroys the module.
  void(VYN_CDECL* Shutdown)(void* module);
  void(VYN_CDECL* GetMemoryStats)(uint32_t ignored, MemoryStats* stats);
};

// The argument of `load_vyn_spectator`, seven 32-bit words. The host writes
// its plugin API version into words 0-2; the entry point overwrites them with
// its own and fills the rest. Everything it points to belongs to the module.
struct CorePluginRecord {
  uint32_t version_major;
  uint32_t version_minor;
  uint32_t version_patch;
  const ModuleEntryTable* entry_table;
  void* module;
  const char* plugin_name;
  const ApiDescription* api_description;
};

// The exported entry point: fills `record`, returns the result word.
using LoadPluginFunction = uint32_t(VYN_CDECL*)(CorePluginRecord* record);

// ---------------------------------------------------------------------------
// API description. Every array below is also a singly linked list: the first
// word of each record points to the next record of its array, 0 in the last.
// Texts point into the module's registry and live as long as the module.

// The type of an argument, result or field.
struct CoreTypeId {
  uint32_t kind;  // native kind 1..19, else 0
  uint32_t element_kind;
  const char* type_name;  // "" when there is none
};

struct CoreArgumentRecord {
  CoreArgumentRecord* next;
  const char* name;
  const char* description;
  CoreTypeId type;
  uint8_t optional;
};

struct CoreFunctionRecord {
  CoreFunctionRecord* next;
  uint32_t reserved;  // 0
  void* function_context;
  const char* name;
  const char* name_space;
  CoreArgumentRecord* arguments;
  uint32_t argument_count;
  CoreTypeId result_type;
  const char* description;
  const char* help;
  uint8_t thread_safe;                 // 1: the function may run on several host threads at once
  const char* async_result_type_name;  // "" unless the function is asynchronous
  const char* const* tags;
  uint32_t tag_count;
};

// One entry of a descriptor's argument locations.
struct CoreArgumentLocationEntry {
  CoreArgumentLocationEntry* next;
  uint32_t location;  // 1 to 5, anything else written as 0
};

// One entry of a descriptor's route text lists.
struct CoreRouteTextList {
  CoreRouteTextList* next;
  const char* const* texts;
  uint32_t count;
};

// The host's call of a plugin function: fills `response` for `request`.
using CoreFunctionCallback = void(VYN_CDECL*)(CoreResponse* response, const CoreRequest* request);

struct CoreFunctionDescriptor {
  CoreFunctionRecord function;  // its function context is set here
  CoreFunctionCallback callback;
  CoreArgumentLocationEntry* argument_locations;
  const char* path;  // "" when none
  uint32_t method;   // 1 to 8, anything else written as 0
  uint8_t route_flag;
  CoreRouteTextList* route_text_lists;
  uint32_t route_text_list_count;
  const char* method_name;  // "" unless the method is 8
};

struct CoreFieldRecord {
  CoreFieldRecord* next;
  const char* name;
  const char* description;
  uint32_t offset;  // byte offset in the native record
  CoreTypeId type;
  uint8_t flags;  // bit 0 omit when zero on output, bit 1 required on input
};

struct CoreEnumValueRecord {
  CoreEnumValueRecord* next;
  const char* name;
  const char* description;
  int32_t value;
};

struct CoreTypeRecord {
  CoreTypeRecord* next;
  const char* name;
  const char* name_space;
  uint32_t native_size;
  const char* description;
  const char* const* tags;
  uint32_t tag_count;
  CoreFieldRecord* fields;           // set for a type with fields, else 0
  CoreEnumValueRecord* enumerators;  // set otherwise (possibly an empty list)
  uint32_t member_count;             // of whichever of the two is set
};

struct CoreEventRecord {
  CoreEventRecord* next;
  const char* name;
  const char* name_space;
  const char* payload_type_name;
  const char* description;
  const char* const* tags;
  uint32_t tag_count;
};

struct ApiDescription {
  CoreFunctionDescriptor* functions;
  uint32_t function_count;
  CoreTypeRecord* types;
  uint32_t type_count;
  CoreEventRecord* events;
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
