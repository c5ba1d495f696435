#include "binding/static_type.h"

#include <cstdio>

namespace Kestrel {

std::string TemplateSpelling(std::string_view name, std::initializer_list<std::string> args) {
  std::string text(name);
  text += '<';
  bool first = true;
  for (const std::string& arg : args) {
    if (!first) text += ',';
    text += arg;
    first = false;
  }
  if (!text.empty() && text.back() == '>') text += ' ';
  text += '>';
  return text;
}

namespace StaticType {

std::string HashSignature(std::string_view spelling) {
  std::string text = "unsigned int __cdecl StaticType::HashCode<";
  text += spelling;
  text += ">(void)";
  return text;
}

std::string NameSignature(std::string_view spelling) {
  std::string text = "const char *__cdecl StaticType::Name<";
  text += spelling;
  text += ">(void)";
  return text;
}

StaticTypeInfo MakeHashCodeInfo(std::string_view spelling) {
  StaticTypeInfo info;
  info.hash_code = Fnv1a32(HashSignature(spelling));
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "#%08X", static_cast<unsigned>(info.hash_code));
  info.display_name = buffer;
  return info;
}

StaticTypeInfo MakeNameInfo(std::string_view spelling) {
  StaticTypeInfo info;
  info.hash_code = Fnv1a32(HashSignature(spelling));
  info.display_name = NameSignature(spelling);
  return info;
}

}  // namespace StaticType
}  // namespace Kestrel
