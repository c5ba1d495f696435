#include "devhost/server/request_guard.h"

#include <algorithm>
#include <cctype>

namespace Kestrel::DevHost {
namespace {

// The names of this machine a loopback server always serves.
constexpr std::string_view kLoopbackNames[] = {"127.0.0.1", "localhost", "[::1]"};

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A `Host` value (or an origin's part after the scheme) split into name and
// port: "[::1]:8080" is "[::1]" and "8080", "localhost" is "localhost" and
// "". Nullopt when it is not of that form (empty name, a port that is not
// digits, text after a bracketed name).
struct HostAndPort {
  std::string_view name;
  std::string_view port;
};
std::optional<HostAndPort> SplitHost(std::string_view host) {
  size_t name_end = host.find(':');
  if (!host.empty() && host[0] == '[') {
    name_end = host.find(']');
    if (name_end == std::string_view::npos) return std::nullopt;
    ++name_end;
  }
  HostAndPort split{host.substr(0, name_end), ""};
  if (name_end < host.size()) {
    if (host[name_end] != ':') return std::nullopt;
    split.port = host.substr(name_end + 1);
    if (!std::all_of(split.port.begin(), split.port.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
      return std::nullopt;
    }
  }
  if (split.name.empty()) return std::nullopt;
  return split;
}

HttpAnswer Forbidden(const std::string& text) {
  return HttpAnswer{403, "application/json", ErrorBody(text)};
}

}  // namespace

std::optional<HttpAnswer> RefuseHost(const HostGuard& guard, std::optional<std::string_view> host) {
  if (!guard.loopback) return std::nullopt;
  if (host.has_value()) {
    if (std::optional<HostAndPort> split = SplitHost(*host)) {
      auto same_name = [&](std::string_view name) { return SameText(split->name, name); };
      if (std::any_of(std::begin(kLoopbackNames), std::end(kLoopbackNames), same_name) ||
          std::any_of(guard.allowed_hosts.begin(), guard.allowed_hosts.end(), same_name)) {
        return std::nullopt;
      }
    }
  }
  return Forbidden(
      "The Host '" + std::string(host.value_or("")) +
      "' is not this machine: this server listens on a loopback address and answers only "
      "127.0.0.1, localhost and [::1], so that no web page can reach it by pointing its own "
      "name at this machine. To allow a name, start it with serve --allow-host NAME "
      "(repeatable).");
}

std::optional<HttpAnswer> RefuseOrigin(std::optional<std::string_view> origin,
                                       std::string_view host) {
  if (!origin.has_value()) return std::nullopt;
  constexpr std::string_view kScheme = "http://";
  const std::optional<HostAndPort> own = SplitHost(host);
  if (own.has_value() && origin->size() > kScheme.size() &&
      SameText(origin->substr(0, kScheme.size()), kScheme)) {
    const std::optional<HostAndPort> from = SplitHost(origin->substr(kScheme.size()));
    // A port left out is HTTP's 80, in either header.
    auto port = [](std::string_view text) { return text.empty() ? std::string_view("80") : text; };
    if (from.has_value() && SameText(from->name, own->name) &&
        port(from->port) == port(own->port)) {
      return std::nullopt;
    }
  }
  return Forbidden("A page at '" + std::string(*origin) +
                   "' may not call the plugin or change anything on this server: only the "
                   "server's own pages (http://" +
                   std::string(host) + ") and clients that send no Origin may.");
}

}  // namespace Kestrel::DevHost
