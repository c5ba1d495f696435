#include "remoting/route_builder.h"

namespace Kestrel {

RouteBuilder& RouteBuilder::SetPath(std::string_view path) {
  if (!failed()) route_->SetPath(path);
  return *this;
}

RouteBuilder& RouteBuilder::SetMethod(HttpMethod method) {
  if (!failed()) route_->SetMethod(method);
  return *this;
}

RouteBuilder& RouteBuilder::SetCustomMethod(std::string_view name) {
  if (!failed()) route_->SetCustomMethod(name);
  return *this;
}

RouteBuilder& RouteBuilder::Argument(std::string_view name, std::string_view description,
                                     ArgumentLocation location, bool optional,
                                     FieldType type_override) {
  if (!failed() && location != ArgumentLocation::kAny) {
    route_->SetArgumentLocation(function_.position(), location);
  }
  function_.DeclareArgument(name, description, optional, type_override);
  return *this;
}

RouteBuilder& RouteBuilder::Body(std::string_view name, std::string_view description,
                                 FieldType type_override) {
  return Argument(name, description, ArgumentLocation::kBody, false, type_override);
}

RouteBuilder& RouteBuilder::SetDescription(std::string_view description) {
  if (!failed()) function_.SetDescription(description);
  return *this;
}

RouteBuilder& RouteBuilder::SetHelp(std::string_view help) {
  if (!failed()) function_.SetHelp(help);
  return *this;
}

RouteBuilder& RouteBuilder::SetNameSpace(std::string_view name_space) {
  if (!failed()) function_.SetNameSpace(name_space);
  return *this;
}

RouteBuilder& RouteBuilder::SetThreadSafe(bool thread_safe) {
  if (!failed()) function_.SetThreadSafe(thread_safe);
  return *this;
}

RouteBuilder& RouteBuilder::SetAsync(bool async) {
  if (!failed()) function_.SetAsync(async);
  return *this;
}

RouteBuilder& RouteBuilder::SetResultOverride(FieldType type_override) {
  if (!failed()) function_.SetResultOverride(type_override);
  return *this;
}

RouteBuilder& RouteBuilder::AddTag(std::string_view tag) {
  if (!failed()) function_.AddTag(tag);
  return *this;
}

RouteBuilder& RouteBuilder::AddTags(const std::vector<std::string>& tags) {
  for (const std::string& tag : tags) AddTag(tag);
  return *this;
}

}  // namespace Kestrel
