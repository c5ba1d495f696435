#include "bench/bench_corpus.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "formats/json_reader.h"
#include "util/base64.h"

namespace Kestrel::Bench {

namespace {

// --- MessagePack -----------------------------------------------------------

void PutBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out.push_back(static_cast<uint8_t>(value >> shift));
  }
}

// Type byte plus a 0-, 1-, 2- or 4-byte length chosen by the length's size.
void PutLengthHeader(std::vector<uint8_t>& out, std::size_t length, uint8_t fix_base,
                     std::size_t fix_limit, uint8_t byte8, uint8_t byte16, uint8_t byte32) {
  if (length < fix_limit) {
    out.push_back(static_cast<uint8_t>(fix_base | length));
  } else if (byte8 != 0 && length <= 0xFF) {
    out.push_back(byte8);
    PutBigEndian(out, length, 1);
  } else if (length <= 0xFFFF) {
    out.push_back(byte16);
    PutBigEndian(out, length, 2);
  } else {
    out.push_back(byte32);
    PutBigEndian(out, length, 4);
  }
}

void PutString(std::vector<uint8_t>& out, std::string_view text) {
  PutLengthHeader(out, text.size(), 0xA0, 32, 0xD9, 0xDA, 0xDB);
  out.insert(out.end(), text.begin(), text.end());
}

void PutUnsigned(std::vector<uint8_t>& out, uint64_t value) {
  if (value < 0x80) {
    out.push_back(static_cast<uint8_t>(value));
  } else if (value <= 0xFF) {
    out.push_back(0xCC);
    PutBigEndian(out, value, 1);
  } else if (value <= 0xFFFF) {
    out.push_back(0xCD);
    PutBigEndian(out, value, 2);
  } else if (value <= 0xFFFFFFFFu) {
    out.push_back(0xCE);
    PutBigEndian(out, value, 4);
  } else {
    out.push_back(0xCF);
    PutBigEndian(out, value, 8);
  }
}

void PutSigned(std::vector<uint8_t>& out, int64_t value) {
  if (value >= 0) {
    PutUnsigned(out, static_cast<uint64_t>(value));
  } else if (value >= -32) {
    out.push_back(static_cast<uint8_t>(value));
  } else if (value >= INT8_MIN) {
    out.push_back(0xD0);
    PutBigEndian(out, static_cast<uint64_t>(value), 1);
  } else if (value >= INT16_MIN) {
    out.push_back(0xD1);
    PutBigEndian(out, static_cast<uint64_t>(value), 2);
  } else if (value >= INT32_MIN) {
    out.push_back(0xD2);
    PutBigEndian(out, static_cast<uint64_t>(value), 4);
  } else {
    out.push_back(0xD3);
    PutBigEndian(out, static_cast<uint64_t>(value), 8);
  }
}

void PutMessagePack(std::vector<uint8_t>& out, const BindingProperty& value) {
  switch (value.kind()) {
    case PropertyKind::kBool:
      out.push_back(value.GetBool() ? 0xC3 : 0xC2);
      break;
    case PropertyKind::kSigned:
      PutSigned(out, value.GetSigned());
      break;
    case PropertyKind::kUnsigned:
      PutUnsigned(out, value.GetUnsigned());
      break;
    case PropertyKind::kFloat: {
      uint64_t bits = 0;
      const double number = value.GetDouble();
      std::memcpy(&bits, &number, sizeof bits);
      out.push_back(0xCB);
      PutBigEndian(out, bits, 8);
      break;
    }
    case PropertyKind::kString:
      PutString(out, value.GetString());
      break;
    case PropertyKind::kBlob: {
      static const std::vector<uint8_t> kNone;
      const std::vector<uint8_t>& bytes = value.GetBlob(kNone);
      PutLengthHeader(out, bytes.size(), 0, 0, 0xC4, 0xC5, 0xC6);
      out.insert(out.end(), bytes.begin(), bytes.end());
      break;
    }
    case PropertyKind::kEnum:
      PutSigned(out, value.GetEnum().value);
      break;
    case PropertyKind::kCollection:
      PutLengthHeader(out, value.Size(), 0x90, 16, 0, 0xDC, 0xDD);
      for (const BindingProperty& element : value.Elements()) PutMessagePack(out, element);
      break;
    case PropertyKind::kStructure:
      PutLengthHeader(out, value.Size(), 0x80, 16, 0, 0xDE, 0xDF);
      value.ForEachField([&out](std::string_view name, const BindingProperty& field) {
        PutString(out, name);
        PutMessagePack(out, field);
      });
      break;
    default:
      out.push_back(0xC0);
      break;
  }
}

// --- YAML ------------------------------------------------------------------

// Length of the UTF-8 sequence at `text[i]` and its code point, or 0 when the
// bytes there are no well-formed sequence.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, uint32_t& code_point) {
  const auto byte = [&](std::size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  std::size_t length = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, code_point = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, code_point = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, code_point = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (byte(i + k) & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

// Characters a quoted YAML scalar may hold as they are: printable, and no line
// break (NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR break lines too, and a raw
// break inside a quoted scalar is folded into a space).
bool IsPlainYamlCharacter(uint32_t c) {
  if (c == 0x85 || c == 0x2028 || c == 0x2029) return false;
  return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendHex(std::string& out, const char* prefix, uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%s%0*X", prefix, digits, static_cast<unsigned>(value));
  out += buffer;
}

// A double-quoted scalar. Bytes that are no well-formed UTF-8 cannot be
// carried by a YAML stream; they are written as \xXX (the character of that
// number), which only matters for inputs the corpus does not have.
void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      default:
        break;
    }
    uint32_t code_point = 0;
    const std::size_t length = DecodeUtf8(text, i, code_point);
    if (length == 0) {
      AppendHex(out, "\\x", static_cast<uint8_t>(c), 2);
      ++i;
    } else if (!IsPlainYamlCharacter(code_point)) {
      AppendHex(out, code_point > 0xFFFF ? "\\U" : "\\u", code_point, code_point > 0xFFFF ? 8 : 4);
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  out += '"';
}

void AppendDouble(std::string& out, double value) {
  if (std::isnan(value)) {
    out += ".nan";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-.inf" : ".inf";
    return;
  }
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  const std::string_view text(buffer, error == std::errc() ? end - buffer : 0);
  out += text;
  // Keep the JSON document's float look: "100" would read back as an integer.
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

bool IsOpenContainer(const BindingProperty& value) {
  return (value.kind() == PropertyKind::kCollection || value.kind() == PropertyKind::kStructure) &&
         value.Size() != 0;
}

// Text of a value written on one line: a scalar, null or an empty container.
void AppendInline(std::string& out, const BindingProperty& value) {
  switch (value.kind()) {
    case PropertyKind::kBool:
      out += value.GetBool() ? "true" : "false";
      break;
    case PropertyKind::kSigned:
      out += std::to_string(value.GetSigned());
      break;
    case PropertyKind::kUnsigned:
      out += std::to_string(value.GetUnsigned());
      break;
    case PropertyKind::kFloat:
      AppendDouble(out, value.GetDouble());
      break;
    case PropertyKind::kString:
      AppendQuoted(out, value.GetString());
      break;
    case PropertyKind::kBlob: {
      static const std::vector<uint8_t> kNone;
      AppendQuoted(out, EncodeBase64(value.GetBlob(kNone)));
      break;
    }
    case PropertyKind::kEnum:
      out += std::to_string(value.GetEnum().value);
      break;
    case PropertyKind::kCollection:
      out += "[]";
      break;
    case PropertyKind::kStructure:
      out += "{}";
      break;
    default:
      out += '~';
      break;
  }
}

// Writes `value` as a block node whose lines are indented by `indent` spaces.
// When `inline_start` is set, the first line continues the current one (after
// "- " of a sequence entry); otherwise it begins at the indentation.
void AppendBlock(std::string& out, const BindingProperty& value, std::size_t indent,
                 bool inline_start) {
  bool first = true;
  const auto begin_line = [&] {
    if (first && inline_start) {
      out += ' ';
    } else {
      out.append(indent, ' ');
    }
    first = false;
  };
  // The value after "key:" or "-": inline, or a nested block.
  const auto append_child = [&](const BindingProperty& child, bool after_key) {
    if (!IsOpenContainer(child)) {
      out += ' ';
      AppendInline(out, child);
      out += '\n';
    } else if (after_key) {
      out += '\n';
      AppendBlock(out, child, indent + 2, false);
    } else {
      AppendBlock(out, child, indent + 2, true);
    }
  };

  if (!IsOpenContainer(value)) {
    if (inline_start) out += ' ';
    AppendInline(out, value);
    out += '\n';
  } else if (value.kind() == PropertyKind::kCollection) {
    for (const BindingProperty& element : value.Elements()) {
      begin_line();
      out += '-';
      append_child(element, false);
    }
  } else {
    value.ForEachField([&](std::string_view name, const BindingProperty& field) {
      begin_line();
      AppendQuoted(out, name);
      out += ':';
      append_child(field, true);
    });
  }
}

}  // namespace

const std::vector<std::string>& CorpusNames() {
  static const std::vector<std::string> kNames = {"canada", "citm_catalog", "twitter"};
  return kNames;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return std::move(content).str();
}

std::optional<CorpusDocument> LoadCorpusDocument(std::string_view directory,
                                                 std::string_view name) {
  std::string path(directory);
  path += '/';
  path += name;
  path += ".json";
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  const PropertyResult tree = ParseJson(*text);
  if (!tree.IsValid() || tree.IsEmpty()) return std::nullopt;

  CorpusDocument document;
  document.name = std::string(name);
  document.json = std::move(*text);
  document.msgpack = WriteMessagePack(tree);
  document.yaml = WriteYaml(tree);
  document.value_count = CountValues(tree);
  return document;
}

std::vector<uint8_t> WriteMessagePack(const BindingProperty& value) {
  std::vector<uint8_t> out;
  PutMessagePack(out, value);
  return out;
}

std::string WriteYaml(const BindingProperty& value) {
  std::string out;
  AppendBlock(out, value, 0, false);
  return out;
}

std::size_t CountValues(const BindingProperty& value) {
  std::size_t count = 1;
  if (value.kind() == PropertyKind::kCollection) {
    for (const BindingProperty& element : value.Elements()) count += CountValues(element);
  } else if (value.kind() == PropertyKind::kStructure) {
    value.ForEachField(
        [&count](std::string_view, const BindingProperty& field) { count += CountValues(field); });
  }
  return count;
}

}  // namespace Kestrel::Bench
