// JSON text read into a registered native struct (the page of search results of
// the twitter document: 100 statuses with their users and the search
// metadata), against nlohmann-json parsing the same text and filling the same
// struct through hand-written `from_json` functions.
//
// Both sides leave a field untouched when the text lacks it or holds null
// there, and both ignore members the struct does not declare.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/bench_allocator.h"
#include "bench/benchmarks.h"
#include "binding/static_type.h"
#include "binding/type_building.h"
#include "formats/json_native.h"

namespace TwitterRecords {

struct StatusMetadata {
  std::string result_type;
  std::string iso_language_code;
};

struct User {
  uint64_t id = 0;
  std::string id_str;
  std::string name;
  std::string screen_name;
  std::string location;
  std::string description;
  bool is_protected = false;
  uint32_t followers_count = 0;
  uint32_t friends_count = 0;
  uint32_t listed_count = 0;
  std::string created_at;
  uint32_t favourites_count = 0;
  int32_t utc_offset = 0;
  std::string time_zone;
  bool geo_enabled = false;
  bool verified = false;
  uint32_t statuses_count = 0;
  std::string lang;
  std::string profile_image_url;
};

struct Status {
  StatusMetadata metadata;
  std::string created_at;
  uint64_t id = 0;
  std::string id_str;
  std::string text;
  std::string source;
  bool truncated = false;
  uint64_t in_reply_to_user_id = 0;
  std::string in_reply_to_screen_name;
  User user;
  uint32_t retweet_count = 0;
  uint32_t favorite_count = 0;
  bool favorited = false;
  bool retweeted = false;
  std::string lang;
};

struct SearchMetadata {
  double completed_in = 0;
  uint64_t max_id = 0;
  std::string max_id_str;
  std::string next_results;
  std::string query;
  std::string refresh_url;
  uint32_t count = 0;
  uint64_t since_id = 0;
  std::string since_id_str;
};

struct Page {
  std::vector<Status> statuses;
  SearchMetadata search_metadata;
};

// --- nlohmann-json mapping --------------------------------------------------

template <class T>
void Optional(const nlohmann::json& object, const char* name, T& value) {
  const auto found = object.find(name);
  if (found != object.end() && !found->is_null()) found->get_to(value);
}

void from_json(const nlohmann::json& j, StatusMetadata& v) {
  Optional(j, "result_type", v.result_type);
  Optional(j, "iso_language_code", v.iso_language_code);
}

void from_json(const nlohmann::json& j, User& v) {
  Optional(j, "id", v.id);
  Optional(j, "id_str", v.id_str);
  Optional(j, "name", v.name);
  Optional(j, "screen_name", v.screen_name);
  Optional(j, "location", v.location);
  Optional(j, "description", v.description);
  Optional(j, "protected", v.is_protected);
  Optional(j, "followers_count", v.followers_count);
  Optional(j, "friends_count", v.friends_count);
  Optional(j, "listed_count", v.listed_count);
  Optional(j, "created_at", v.created_at);
  Optional(j, "favourites_count", v.favourites_count);
  Optional(j, "utc_offset", v.utc_offset);
  Optional(j, "time_zone", v.time_zone);
  Optional(j, "geo_enabled", v.geo_enabled);
  Optional(j, "verified", v.verified);
  Optional(j, "statuses_count", v.statuses_count);
  Optional(j, "lang", v.lang);
  Optional(j, "profile_image_url", v.profile_image_url);
}

void from_json(const nlohmann::json& j, Status& v) {
  Optional(j, "metadata", v.metadata);
  Optional(j, "created_at", v.created_at);
  Optional(j, "id", v.id);
  Optional(j, "id_str", v.id_str);
  Optional(j, "text", v.text);
  Optional(j, "source", v.source);
  Optional(j, "truncated", v.truncated);
  Optional(j, "in_reply_to_user_id", v.in_reply_to_user_id);
  Optional(j, "in_reply_to_screen_name", v.in_reply_to_screen_name);
  Optional(j, "user", v.user);
  Optional(j, "retweet_count", v.retweet_count);
  Optional(j, "favorite_count", v.favorite_count);
  Optional(j, "favorited", v.favorited);
  Optional(j, "retweeted", v.retweeted);
  Optional(j, "lang", v.lang);
}

void from_json(const nlohmann::json& j, SearchMetadata& v) {
  Optional(j, "completed_in", v.completed_in);
  Optional(j, "max_id", v.max_id);
  Optional(j, "max_id_str", v.max_id_str);
  Optional(j, "next_results", v.next_results);
  Optional(j, "query", v.query);
  Optional(j, "refresh_url", v.refresh_url);
  Optional(j, "count", v.count);
  Optional(j, "since_id", v.since_id);
  Optional(j, "since_id_str", v.since_id_str);
}

void from_json(const nlohmann::json& j, Page& v) {
  Optional(j, "statuses", v.statuses);
  Optional(j, "search_metadata", v.search_metadata);
}

}  // namespace TwitterRecords

VYN_STATIC_TYPE(TwitterRecords::StatusMetadata, "struct TwitterRecords::StatusMetadata");
VYN_STATIC_TYPE(TwitterRecords::User, "struct TwitterRecords::User");
VYN_STATIC_TYPE(TwitterRecords::Status, "struct TwitterRecords::Status");
VYN_STATIC_TYPE(TwitterRecords::SearchMetadata, "struct TwitterRecords::SearchMetadata");
VYN_STATIC_TYPE(TwitterRecords::Page, "struct TwitterRecords::Page");

namespace Kestrel::Bench {

namespace {

using namespace TwitterRecords;

void RegisterTwitterTypes(TypeRegistry& registry) {
  registry.RegisterStruct<StatusMetadata>("StatusMetadata")
      .AddField("result_type", &StatusMetadata::result_type)
      .AddField("iso_language_code", &StatusMetadata::iso_language_code);
  registry.RegisterStruct<User>("User")
      .AddField("id", &User::id)
      .AddField("id_str", &User::id_str)
      .AddField("name", &User::name)
      .AddField("screen_name", &User::screen_name)
      .AddField("location", &User::location)
      .AddField("description", &User::description)
      .AddField("protected", &User::is_protected)
      .AddField("followers_count", &User::followers_count)
      .AddField("friends_count", &User::friends_count)
      .AddField("listed_count", &User::listed_count)
      .AddField("created_at", &User::created_at)
      .AddField("favourites_count", &User::favourites_count)
      .AddField("utc_offset", &User::utc_offset)
      .AddField("time_zone", &User::time_zone)
      .AddField("geo_enabled", &User::geo_enabled)
      .AddField("verified", &User::verified)
      .AddField("statuses_count", &User::statuses_count)
      .AddField("lang", &User::lang)
      .AddField("profile_image_url", &User::profile_image_url);
  registry.RegisterStruct<Status>("Status")
      .AddField("metadata", &Status::metadata)
      .AddField("created_at", &Status::created_at)
      .AddField("id", &Status::id)
      .AddField("id_str", &Status::id_str)
      .AddField("text", &Status::text)
      .AddField("source", &Status::source)
      .AddField("truncated", &Status::truncated)
      .AddField("in_reply_to_user_id", &Status::in_reply_to_user_id)
      .AddField("in_reply_to_screen_name", &Status::in_reply_to_screen_name)
      .AddField("user", &Status::user)
      .AddField("retweet_count", &Status::retweet_count)
      .AddField("favorite_count", &Status::favorite_count)
      .AddField("favorited", &Status::favorited)
      .AddField("retweeted", &Status::retweeted)
      .AddField("lang", &Status::lang);
  registry.RegisterStruct<SearchMetadata>("SearchMetadata")
      .AddField("completed_in", &SearchMetadata::completed_in)
      .AddField("max_id", &SearchMetadata::max_id)
      .AddField("max_id_str", &SearchMetadata::max_id_str)
      .AddField("next_results", &SearchMetadata::next_results)
      .AddField("query", &SearchMetadata::query)
      .AddField("refresh_url", &SearchMetadata::refresh_url)
      .AddField("count", &SearchMetadata::count)
      .AddField("since_id", &SearchMetadata::since_id)
      .AddField("since_id_str", &SearchMetadata::since_id_str);
  registry.RegisterStruct<Page>("Page")
      .AddField("statuses", &Page::statuses)
      .AddField("search_metadata", &Page::search_metadata);
}

// Both sides must have read the same content, or the figure compares nothing.
bool SameContent(const Page& a, const Page& b) {
  if (a.statuses.size() != b.statuses.size()) return false;
  for (std::size_t i = 0; i < a.statuses.size(); ++i) {
    const Status& x = a.statuses[i];
    const Status& y = b.statuses[i];
    if (x.id != y.id || x.text != y.text || x.user.screen_name != y.user.screen_name ||
        x.user.followers_count != y.user.followers_count || x.retweeted != y.retweeted ||
        x.metadata.result_type != y.metadata.result_type ||
        x.in_reply_to_screen_name != y.in_reply_to_screen_name ||
        x.user.utc_offset != y.user.utc_offset) {
      return false;
    }
  }
  return a.search_metadata.query == b.search_metadata.query &&
         a.search_metadata.max_id == b.search_metadata.max_id &&
         a.search_metadata.completed_in == b.search_metadata.completed_in;
}

void ReadNativeOurs(benchmark::State& state, const CorpusDocument* document) {
  CountingScope counting;
  TypeRegistry registry;
  RegisterTwitterTypes(registry);
  Page check;
  Page peer = nlohmann::json::parse(document->json).get<Page>();
  if (!ReadJsonInto(document->json, check, registry) || check.statuses.size() != 100 ||
      !SameContent(check, peer)) {
    state.SkipWithError("ReadJsonInto did not read the page as the peer did");
  }
  for (auto _ : state) {
    Page page;
    const bool read = ReadJsonInto(document->json, page, registry);
    benchmark::DoNotOptimize(read);
    benchmark::DoNotOptimize(page);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(document->json.size()));
}

void ReadNativeNlohmann(benchmark::State& state, const CorpusDocument* document) {
  for (auto _ : state) {
    Page page;
    nlohmann::json::parse(document->json).get_to(page);
    benchmark::DoNotOptimize(page);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(document->json.size()));
}

}  // namespace

void RegisterNativeBenchmarks(const CorpusDocument& twitter) {
  benchmark::RegisterBenchmark("read_native/twitter/ours", ReadNativeOurs, &twitter)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("read_native/twitter/nlohmann", ReadNativeNlohmann, &twitter)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace Kestrel::Bench
