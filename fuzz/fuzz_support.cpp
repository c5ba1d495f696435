#include "fuzz/fuzz_support.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "formats/json_reader.h"
#include "formats/json_writer.h"
#include "util/base64.h"

namespace Kestrel::Fuzz {

namespace {

// The JSON reader converts decimals on its fast path, which may land a few
// doubles away from the value the writer printed in shortest form.
constexpr uint64_t kReadBackUlps = 3;

// Maps a double onto an unsigned scale that orders like the doubles do, with
// both zeros on the same point.
uint64_t OrderedBits(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  constexpr uint64_t kSign = uint64_t{1} << 63;
  return (bits & kSign) != 0 ? kSign - (bits & ~kSign) : kSign + bits;
}

std::string CutAtNul(std::string_view text) {
  return std::string(text.substr(0, text.find('\0')));
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text.substr(0, 40)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + (text.size() > 40 ? "...\"" : "\"");
}

class RoundTripComparer {
 public:
  explicit RoundTripComparer(RoundTrip mode) : lenient_(mode == RoundTrip::kFromOtherFormat) {}

  std::string Compare(const BindingProperty& original, const BindingProperty& reread,
                      const std::string& path) {
    const auto differ = [&](const std::string& reason) {
      return (path.empty() ? std::string("<root>") : path) + ": " + reason + " (written as " +
             PropertyKindName(original.kind()) + ", read back as " +
             PropertyKindName(reread.kind()) + ")";
    };
    switch (original.kind()) {
      case PropertyKind::kEmpty:
        return reread.IsEmpty() ? "" : differ("empty value");
      case PropertyKind::kBool:
        return reread.kind() == PropertyKind::kBool && reread.GetBool() == original.GetBool()
                   ? ""
                   : differ("bool value");
      case PropertyKind::kSigned: {
        const int64_t value = original.GetSigned();
        if (reread.kind() == PropertyKind::kSigned && reread.GetSigned() == value) return "";
        // A signed 0 from JSON was "-0", which is written back as "0".
        if ((lenient_ || value == 0) && value >= 0 && reread.kind() == PropertyKind::kUnsigned &&
            reread.GetUnsigned() == static_cast<uint64_t>(value)) {
          return "";
        }
        return differ("signed " + std::to_string(value));
      }
      case PropertyKind::kUnsigned: {
        const uint64_t value = original.GetUnsigned();
        return reread.kind() == PropertyKind::kUnsigned && reread.GetUnsigned() == value
                   ? ""
                   : differ("unsigned " + std::to_string(value));
      }
      case PropertyKind::kFloat: {
        const double value = original.GetDouble();
        if (std::isnan(value) && reread.kind() == PropertyKind::kFloat &&
            std::isnan(reread.GetDouble())) {
          return "";
        }
        // JSON has no infinity: a number beyond the double range (such as
        // "3e308") reads as one, and the writer writes it as null.
        if (!std::isfinite(value)) {
          const bool same = reread.kind() == PropertyKind::kFloat && reread.GetDouble() == value;
          return same || reread.IsEmpty() ? "" : differ("non-finite double");
        }
        return reread.kind() == PropertyKind::kFloat &&
                       WithinUlps(value, reread.GetDouble(), kReadBackUlps)
                   ? ""
                   : differ("double " + std::to_string(value));
      }
      case PropertyKind::kString: {
        if (reread.kind() == PropertyKind::kString && reread.GetString() == original.GetString()) {
          return "";
        }
        const std::string expected =
            lenient_ ? CutAtNul(original.GetString()) : std::string(original.GetString());
        return reread.kind() == PropertyKind::kString && reread.GetString() == expected
                   ? ""
                   : differ("string " + Quoted(expected) + " read back as " +
                            Quoted(reread.GetString()));
      }
      case PropertyKind::kBlob: {
        static const std::vector<uint8_t> kNoBytes;
        if (reread.kind() == PropertyKind::kBlob &&
            reread.GetBlob(kNoBytes) == original.GetBlob(kNoBytes)) {
          return "";
        }
        const std::string expected = EncodeBase64(original.GetBlob(kNoBytes));
        return reread.kind() == PropertyKind::kString && reread.GetString() == expected
                   ? ""
                   : differ("blob as Base64 " + Quoted(expected));
      }
      case PropertyKind::kEnum: {
        // Without a registry an enum is written as its number.
        const int32_t value = original.GetEnum().value;
        if (reread.kind() == PropertyKind::kEnum && reread.GetEnum() == original.GetEnum())
          return "";
        const bool same =
            value >= 0 ? reread.kind() == PropertyKind::kUnsigned &&
                             reread.GetUnsigned() == static_cast<uint64_t>(value)
                       : reread.kind() == PropertyKind::kSigned && reread.GetSigned() == value;
        return same ? "" : differ("enum number " + std::to_string(value));
      }
      case PropertyKind::kCollection: {
        if (reread.kind() != PropertyKind::kCollection) return differ("collection");
        const auto written = original.Elements();
        const auto read = reread.Elements();
        if (written.size() != read.size()) {
          return differ("collection of " + std::to_string(written.size()) +
                        " elements read back with " + std::to_string(read.size()));
        }
        for (std::size_t i = 0; i < written.size(); ++i) {
          std::string difference =
              Compare(written[i], read[i], path + "[" + std::to_string(i) + "]");
          if (!difference.empty()) return difference;
        }
        return "";
      }
      case PropertyKind::kStructure: {
        if (reread.kind() != PropertyKind::kStructure) return differ("structure");
        std::vector<std::pair<std::string_view, const BindingProperty*>> written;
        std::vector<std::pair<std::string_view, const BindingProperty*>> read;
        original.ForEachField([&](std::string_view name, const BindingProperty& value) {
          written.emplace_back(name, &value);
        });
        reread.ForEachField([&](std::string_view name, const BindingProperty& value) {
          read.emplace_back(name, &value);
        });
        if (written.size() != read.size()) {
          return differ("structure of " + std::to_string(written.size()) +
                        " fields read back with " + std::to_string(read.size()));
        }
        for (std::size_t i = 0; i < written.size(); ++i) {
          if (written[i].first != read[i].first) {
            return differ("field " + Quoted(written[i].first) + " read back as " +
                          Quoted(read[i].first));
          }
          std::string difference = Compare(*written[i].second, *read[i].second,
                                           path + "." + std::string(written[i].first));
          if (!difference.empty()) return difference;
        }
        return "";
      }
    }
    return differ("unknown kind");
  }

 private:
  bool lenient_;
};

}  // namespace

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

void CheckNoDifference(const std::string& difference, const char* what) {
  if (difference.empty()) return;
  std::fprintf(stderr, "fuzz check failed: %s: %s\n", what, difference.c_str());
  std::fflush(stderr);
  std::abort();
}

uint8_t FuzzInput::ReadByte() {
  return empty() ? 0 : data_[position_++];
}

uint32_t FuzzInput::ReadU32() {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | ReadByte();
  return value;
}

uint64_t FuzzInput::ReadU64() {
  const uint64_t high = ReadU32();
  return (high << 32) | ReadU32();
}

double FuzzInput::ReadDouble() {
  return std::bit_cast<double>(ReadU64());
}

std::string FuzzInput::ReadText(std::size_t max_length) {
  std::size_t length = ReadByte();
  if (max_length > 255) length = length * max_length / 255;
  if (length > max_length) length = max_length;
  if (length > remaining()) length = remaining();
  std::string text(reinterpret_cast<const char*>(data_ + position_), length);
  position_ += length;
  return text;
}

std::string_view FuzzInput::ReadRest() {
  const std::size_t length = remaining();
  std::string_view rest(reinterpret_cast<const char*>(data_ + position_), length);
  position_ += length;
  return rest;
}

bool WithinUlps(double a, double b, uint64_t ulps) {
  if (std::isnan(a) || std::isnan(b)) return false;
  const uint64_t x = OrderedBits(a);
  const uint64_t y = OrderedBits(b);
  return (x > y ? x - y : y - x) <= ulps;
}

std::string CompareRoundTrip(const BindingProperty& original, const BindingProperty& reread,
                             RoundTrip mode) {
  return RoundTripComparer(mode).Compare(original, reread, "");
}

void CheckJsonRoundTrip(const BindingProperty& tree, RoundTrip mode) {
  const std::string text = WriteJson(tree);
  Check(tree.IsEmpty() == text.empty(), "WriteJson gives an empty text exactly for an empty root");
  const PropertyResult reread = ParseJson(text);
  if (!reread.IsValid()) {
    std::fprintf(stderr, "JSON text %s: %s\n", Quoted(text).c_str(),
                 std::string(reread.GetError()).c_str());
  }
  Check(reread.IsValid(), "ParseJson accepts the text of WriteJson");
  const std::string difference = CompareRoundTrip(tree, reread, mode);
  if (!difference.empty()) std::fprintf(stderr, "JSON text %s\n", Quoted(text).c_str());
  CheckNoDifference(difference, "tree read back from WriteJson's text");
}

}  // namespace Kestrel::Fuzz
