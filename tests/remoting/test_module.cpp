#include "tests/remoting/test_module.h"

#include <cstring>
#include <utility>

#include "binding/convert_native.h"
#include "binding/type_building.h"
#include "remoting/api_description.h"
#include "remoting/call_result.h"
#include "remoting/remoting_request.h"
#include "util/failure.h"

namespace Kestrel::Testing {
namespace {

using Location = ArgumentLocation;

constexpr bool kOptional = true;

// The native value as a property; an unregistered struct gives the failure's
// message as a string, which an echo then shows instead of hiding it.
template <class T>
BindingProperty Echo(const T& value, TypeRegistry& registry) {
  PropertyResult converted;
  ConvertNative(converted, value, registry);
  if (!converted.IsValid()) {
    BindingProperty message;
    message.SetString(converted.GetError());
    return message;
  }
  return static_cast<BindingProperty&&>(converted);
}

BindingProperty Text(std::string_view text) {
  BindingProperty value;
  value.SetString(text);
  return value;
}

}  // namespace

TestModule::TestModule() : endpoints_(registry_, nullptr) {
  RegisterTypes();
  RegisterRoutes();
  description_ = &endpoints_.BuildApiDescription();
}

const Client::CoreFunctionDescriptor& TestModule::descriptor(std::size_t index) const {
  return description_->functions[index];
}

const Client::CoreFunctionDescriptor* TestModule::FindDescriptor(std::string_view name) const {
  for (std::size_t i = 0; i < descriptor_count(); ++i) {
    const Client::CoreFunctionDescriptor& candidate = descriptor(i);
    if (candidate.function.name != nullptr && name == candidate.function.name) return &candidate;
  }
  return nullptr;
}

void TestModule::RegisterTypes() {
  registry_.RegisterEnum<Shade>("Shade")
      .AddValue("None", 0)
      .AddValue("Light", 1)
      .AddValue("Dark", 2);
  registry_.RegisterEnum<Tone>("Tone").AddValue("Low", 1).AddValue("High", 100);
  registry_.RegisterStruct<Inner>("Inner")
      .AddField("id", &Inner::id, "Required.", kFieldRequired)
      .AddField("label", &Inner::label);
  registry_.RegisterStruct<Scalars>("Scalars")
      .AddField("flag", &Scalars::flag)
      .AddField("int8", &Scalars::int8)
      .AddField("uint8", &Scalars::uint8)
      .AddField("int16", &Scalars::int16)
      .AddField("uint16", &Scalars::uint16)
      .AddField("int32", &Scalars::int32)
      .AddField("uint32", &Scalars::uint32)
      .AddField("int64", &Scalars::int64)
      .AddField("uint64", &Scalars::uint64)
      .AddField("single", &Scalars::single)
      .AddField("real", &Scalars::real)
      .AddField("text", &Scalars::text)
      .AddField("object", &Scalars::object)
      .AddField("blob", &Scalars::blob)
      .AddField("shade", &Scalars::shade)
      .AddField("tone", &Scalars::tone);
  registry_.RegisterStruct<Vectors>("Vectors")
      .AddField("bools", &Vectors::bools)
      .AddField("int8s", &Vectors::int8s)
      .AddField("int16s", &Vectors::int16s)
      .AddField("uint16s", &Vectors::uint16s)
      .AddField("int32s", &Vectors::int32s)
      .AddField("uint32s", &Vectors::uint32s)
      .AddField("int64s", &Vectors::int64s)
      .AddField("uint64s", &Vectors::uint64s)
      .AddField("singles", &Vectors::singles)
      .AddField("reals", &Vectors::reals)
      .AddField("texts", &Vectors::texts)
      .AddField("objects", &Vectors::objects)
      .AddField("blobs", &Vectors::blobs)
      .AddField("shades", &Vectors::shades)
      .AddField("inners", &Vectors::inners)
      .AddField("nested", &Vectors::nested);
  registry_.RegisterStruct<Everything>("Everything")
      .AddField("scalars", &Everything::scalars)
      .AddField("vectors", &Everything::vectors)
      .AddField("counts", &Everything::counts)
      .AddField("inners", &Everything::inners)
      .AddField("inner", &Everything::inner);
}

void TestModule::RegisterRoutes() {
  endpoints_.SetTags({"test-module"});

  // Every scalar kind from any source; only the bool "flag" is required (a
  // required bool starts as false, so it never goes missing).
  endpoints_
      .Get("/scalars/{+rest}",
           [](std::string /*rest*/, bool flag, int8_t int8, uint8_t uint8, int16_t int16,
              uint16_t uint16, int32_t int32, uint32_t uint32, int64_t int64, uint64_t uint64,
              float single, double real, std::string text, BindingProperty object,
              std::vector<uint8_t> blob, Shade shade, Tone tone) -> MaybeType<Scalars> {
             Scalars echo;
             echo.flag = flag;
             echo.int8 = int8;
             echo.uint8 = uint8;
             echo.int16 = int16;
             echo.uint16 = uint16;
             echo.int32 = int32;
             echo.uint32 = uint32;
             echo.int64 = int64;
             echo.uint64 = uint64;
             echo.single = single;
             echo.real = real;
             echo.text = std::move(text);
             echo.object = std::move(object);
             echo.blob = std::move(blob);
             echo.shade = shade;
             echo.tone = tone;
             return echo;
           })
      .Argument("rest", "The rest of the path.", Location::kPath)
      .Argument("flag")
      .Argument("int8", "", Location::kAny, kOptional)
      .Argument("uint8", "", Location::kAny, kOptional)
      .Argument("int16", "", Location::kAny, kOptional)
      .Argument("uint16", "", Location::kAny, kOptional)
      .Argument("int32", "", Location::kAny, kOptional)
      .Argument("uint32", "", Location::kAny, kOptional)
      .Argument("int64", "", Location::kAny, kOptional)
      .Argument("uint64", "", Location::kAny, kOptional)
      .Argument("single", "", Location::kAny, kOptional)
      .Argument("real", "", Location::kAny, kOptional)
      .Argument("text", "", Location::kAny, kOptional)
      .Argument("object", "", Location::kAny, kOptional)
      .Argument("blob", "", Location::kAny, kOptional)
      .Argument("shade", "", Location::kAny, kOptional)
      .Argument("tone", "", Location::kAny, kOptional)
      .SetDescription("Echoes one value of every scalar kind.");

  // Every container kind from any source, all optional.
  endpoints_
      .Post("/vectors/{+rest}",
            [](std::string /*rest*/, std::vector<bool> bools, std::vector<int8_t> int8s,
               std::vector<int16_t> int16s, std::vector<uint16_t> uint16s,
               std::vector<int32_t> int32s, std::vector<uint32_t> uint32s,
               std::vector<int64_t> int64s, std::vector<uint64_t> uint64s,
               std::vector<float> singles, std::vector<double> reals,
               std::vector<std::string> texts, std::vector<BindingProperty> objects,
               std::vector<std::vector<uint8_t>> blobs, std::vector<Shade> shades,
               std::vector<Inner> inners, std::vector<std::vector<int32_t>> nested,
               std::unordered_map<std::string, int32_t> counts,
               std::unordered_map<std::string, Inner> inner_map,
               Inner inner) -> MaybeType<Everything> {
              Everything echo;
              Vectors& v = echo.vectors;
              v.bools = std::move(bools);
              v.int8s = std::move(int8s);
              v.int16s = std::move(int16s);
              v.uint16s = std::move(uint16s);
              v.int32s = std::move(int32s);
              v.uint32s = std::move(uint32s);
              v.int64s = std::move(int64s);
              v.uint64s = std::move(uint64s);
              v.singles = std::move(singles);
              v.reals = std::move(reals);
              v.texts = std::move(texts);
              v.objects = std::move(objects);
              v.blobs = std::move(blobs);
              v.shades = std::move(shades);
              v.inners = std::move(inners);
              v.nested = std::move(nested);
              echo.counts = std::move(counts);
              echo.inners = std::move(inner_map);
              echo.inner = std::move(inner);
              return echo;
            })
      .Argument("rest", "The rest of the path.", Location::kPath)
      .Argument("bools", "", Location::kAny, kOptional)
      .Argument("int8s", "", Location::kAny, kOptional)
      .Argument("int16s", "", Location::kAny, kOptional)
      .Argument("uint16s", "", Location::kAny, kOptional)
      .Argument("int32s", "", Location::kAny, kOptional)
      .Argument("uint32s", "", Location::kAny, kOptional)
      .Argument("int64s", "", Location::kAny, kOptional)
      .Argument("uint64s", "", Location::kAny, kOptional)
      .Argument("singles", "", Location::kAny, kOptional)
      .Argument("reals", "", Location::kAny, kOptional)
      .Argument("items", "The texts.", Location::kAny, kOptional)
      .Argument("objects", "", Location::kAny, kOptional)
      .Argument("blobs", "", Location::kAny, kOptional)
      .Argument("shades", "", Location::kAny, kOptional)
      .Argument("inners", "", Location::kAny, kOptional)
      .Argument("nested", "", Location::kAny, kOptional)
      .Argument("counts", "", Location::kAny, kOptional)
      .Argument("inner_map", "", Location::kAny, kOptional)
      .Argument("inner", "", Location::kAny, kOptional)
      .SetDescription("Echoes one value of every container kind.");

  // One argument per fixed location; "X-Trace" is read from the header
  // "x-trace".
  endpoints_
      .Get("/located/{id}/{+rest}",
           [](int32_t id, std::string rest, std::string query, std::string trace, std::string any,
              bool toggle) -> MaybeType<BindingProperty> {
             BindingProperty echo;
             echo.Field("id").SetSigned(id);
             echo.Field("rest").SetString(rest);
             echo.Field("q").SetString(query);
             echo.Field("trace").SetString(trace);
             echo.Field("any").SetString(any);
             echo.Field("toggle").SetBool(toggle);
             return echo;
           })
      .Argument("id", "", Location::kPath)
      .Argument("rest", "", Location::kPath)
      .Argument("q", "", Location::kQuery, kOptional)
      .Argument("X-Trace", "", Location::kHeader, kOptional)
      .Argument("any", "", Location::kAny, kOptional)
      .Argument("toggle", "", Location::kQuery);

  // A required struct body of every kind.
  endpoints_
      .Register(HttpMethod::kPut, "/records/{id}",
                [this](uint32_t id, Everything record) -> MaybeType<BindingProperty> {
                  BindingProperty echo;
                  echo.Field("id").SetUnsigned(id);
                  echo.Field("record") = Echo(record, registry_);
                  return echo;
                })
      .Argument("id", "", Location::kPath)
      .Body("record", "The record to store.");

  endpoints_
      .Register(HttpMethod::kDelete, "/records/{id}",
                [](uint64_t id, std::string match) -> MaybeType<BindingProperty> {
                  BindingProperty echo;
                  echo.Field("id").SetUnsigned(id);
                  echo.Field("match").SetString(match);
                  return echo;
                })
      .Argument("id", "", Location::kPath)
      .Argument("If-Match", "", Location::kHeader, kOptional);

  // Two body declarations (only the first receives the body) and a value that
  // only a host argument can give on a literal route.
  endpoints_
      .Post("/bodies",
            [](BindingProperty first, BindingProperty second,
               int32_t count) -> MaybeType<BindingProperty> {
              BindingProperty echo;
              echo.Field("first") = std::move(first);
              echo.Field("second") = std::move(second);
              echo.Field("count").SetSigned(count);
              return echo;
            })
      .Body("first")
      .Argument("second", "", Location::kBody, kOptional)
      .Argument("count", "", Location::kAny, kOptional);

  // A custom method with a reserved parameter.
  endpoints_
      .Register(HttpMethod::kNone, "/cache/{+key}",
                [](std::string key) -> MaybeType<std::string> { return key; })
      .SetCustomMethod("PURGE")
      .Argument("key", "", Location::kPath);

  // Any method.
  endpoints_
      .Register(HttpMethod::kNone, "/any/{+rest}",
                [](const RemotingRequest& request, std::string rest) -> MaybeType<BindingProperty> {
                  BindingProperty echo;
                  echo.Field("rest").SetString(rest);
                  echo.Field("method").SetUnsigned(static_cast<uint32_t>(request.method));
                  echo.Field("method_name").SetString(request.method_name);
                  return echo;
                })
      .Argument("rest", "", Location::kPath);

  // A simple and a fragment parameter.
  endpoints_
      .Get("/docs/{page}{#section}",
           [](std::string page, std::string section) -> MaybeType<BindingProperty> {
             BindingProperty echo;
             echo.Field("page").SetString(page);
             echo.Field("section").SetString(section);
             return echo;
           })
      .Argument("page", "", Location::kPath)
      .Argument("section", "", Location::kPath);

  // Reads the request record and shapes the response.
  endpoints_
      .Get("/request/{+rest}",
           [](const HttpBaseTransport::Request& request, std::string rest, uint32_t status,
              CallResult& result) -> MaybeType<BindingProperty> {
             BindingProperty echo;
             echo.Field("rest").SetString(rest);
             echo.Field("caller").SetUnsigned(request.caller_id);
             echo.Field("method").SetUnsigned(static_cast<uint32_t>(request.method));
             echo.Field("method_name").SetString(request.method_name);
             echo.Field("path").SetString(request.path);
             echo.Field("registry").SetBool(request.registry != nullptr);
             echo.Field("timestamp").SetBool(request.timestamp != 0);
             BindingProperty& headers = echo.Field("headers");
             headers.MakeStructure();
             for (const auto& [name, value] : request.headers) headers.Field(name).SetString(value);
             result.status_code = status;
             result.content_type = "application/x-echo";
             result.headers["X-Echo"] = rest;
             result.result_flag = 7;
             result.body_encoding = 2;
             return echo;
           })
      .Argument("rest", "", Location::kPath)
      .Argument("status", "", Location::kQuery, kOptional);

  // Fails with the code it is given, which becomes the status when not 0.
  endpoints_
      .Get("/fail/{code}",
           [](int32_t code) -> MaybeType<BindingProperty> {
             return Failure(code, "Failed with code %1", code);
           })
      .Argument("code", "", Location::kPath);

  // No method and no path: reached by the path "EchoArguments" and fed by
  // host arguments.
  endpoints_
      .RegisterFunction(kHostArgumentsFunction,
                        [this](int32_t number, std::string text, Inner inner,
                               BindingProperty extra) -> MaybeType<BindingProperty> {
                          BindingProperty echo;
                          echo.Field("number").SetSigned(number);
                          echo.Field("text") = Text(text);
                          echo.Field("inner") = Echo(inner, registry_);
                          echo.Field("extra") = std::move(extra);
                          return echo;
                        })
      .Argument("number")
      .Argument("text")
      .Argument("inner", "", Location::kAny, kOptional)
      .Argument("extra", "", Location::kAny, kOptional);
}

std::unique_ptr<TestModule> CreateTestModule() {
  return std::make_unique<TestModule>();
}

void CallDescriptor(const Client::CoreFunctionDescriptor& descriptor,
                    Client::CoreResponse* response, const Client::CoreRequest& request) {
  Client::CoreRequest copy;
  std::memcpy(static_cast<void*>(&copy), &request, sizeof(copy));
  copy.function_context = descriptor.function.function_context;
  if (descriptor.callback != nullptr) descriptor.callback(response, &copy);
}

}  // namespace Kestrel::Testing
