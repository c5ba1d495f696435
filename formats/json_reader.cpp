#include "formats/json_reader.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "formats/tree_builder.h"
#include "util/format_text.h"

namespace Kestrel {

namespace JsonInternal {

void* HeapAllocator::Malloc(std::size_t size) {
  return size == 0 ? nullptr : ::operator new(size);
}

void* HeapAllocator::Realloc(void* block, std::size_t old_size, std::size_t new_size) {
  if (new_size == 0) {
    Free(block);
    return nullptr;
  }
  void* grown = ::operator new(new_size);
  if (block != nullptr) {
    std::memcpy(grown, block, old_size < new_size ? old_size : new_size);
    Free(block);
  }
  return grown;
}

void HeapAllocator::Free(void* block) {
  ::operator delete(block);
}

}  // namespace JsonInternal

namespace {

using JsonReader =
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonInternal::HeapAllocator>;

// How JSON text writes a NUL character (hexadecimal digits have no case here).
constexpr std::string_view kEscapedNul = "\\u0000";

// RapidJSON SAX handler that forwards every event to a `TreeBuilder`. Returning
// false stops the parser; that happens only when a container would open
// beyond the nesting bound.
class TreeHandler {
 public:
  // `nul_free`: the text holds no "\u0000" escape, so no string or key it
  // decodes holds a NUL and none needs cutting at one.
  TreeHandler(BindingProperty& root, bool nul_free) : builder_(root), nul_free_(nul_free) {}

  bool Null() {
    builder_.Null();
    return true;
  }
  bool Bool(bool value) {
    builder_.Bool(value);
    return true;
  }
  // The parser reports non-negative integers through the unsigned events and
  // negative ones (and "-0") through the signed events.
  bool Int(int value) {
    builder_.Signed(value);
    return true;
  }
  bool Uint(unsigned value) {
    builder_.Unsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    builder_.Signed(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    builder_.Unsigned(value);
    return true;
  }
  bool Double(double value) {
    builder_.Double(value);
    return true;
  }
  // Only produced with the numbers-as-strings flag, which is never set.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    builder_.String(std::string_view(text, length));
    return true;
  }
  bool String(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    if (nul_free_) {
      builder_.StringFullLength(std::string_view(text, length));
    } else {
      builder_.String(std::string_view(text, length));
    }
    return true;
  }
  bool StartObject() {
    if (builder_.StartStructure()) return true;
    too_deep_ = true;
    return false;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    if (nul_free_) {
      builder_.KeyWithoutNul(std::string_view(text, length));
    } else {
      builder_.Key(std::string_view(text, length));
    }
    return true;
  }
  bool EndObject(rapidjson::SizeType /*member_count*/) {
    builder_.EndStructure();
    return true;
  }
  bool StartArray() {
    if (builder_.StartCollection()) return true;
    too_deep_ = true;
    return false;
  }
  bool EndArray(rapidjson::SizeType /*element_count*/) {
    builder_.EndCollection();
    return true;
  }

  // True when parsing stopped at a container beyond the nesting bound.
  bool too_deep() const { return too_deep_; }

 private:
  TreeBuilder builder_;
  const bool nul_free_;
  bool too_deep_ = false;
};

}  // namespace

PropertyResult ParseJson(const char* data, std::size_t length) {
  PropertyResult result;
  if (data == nullptr || length == 0) return result;

  // The memory stream reads '\0' at its end and never past it; the parser
  // treats a '\0' byte as the end of the text wherever it meets one.
  rapidjson::MemoryStream stream(data, length);
  JsonReader reader;
  rapidjson::ParseResult outcome;
  {
    // A decoded string holds a NUL only where the text escapes one (raw NUL
    // bytes end the text); one search of the whole text, far cheaper than a
    // search of every string, tells whether any may.
    const bool nul_free =
        std::string_view(data, length).find(kEscapedNul) == std::string_view::npos;
    TreeHandler handler(result, nul_free);
    outcome = reader.Parse<rapidjson::kParseDefaultFlags>(stream, handler);
    if (!outcome.IsError()) return result;
    if (handler.too_deep()) {
      // The parser stops just after the bracket that was refused; name the
      // bracket itself.
      const std::size_t offset = outcome.Offset() == 0 ? 0 : outcome.Offset() - 1;
      result.SetError(FormatText("Error: Nesting deeper than %1 levels at offset %2.",
                                 kMaxNestingDepth, offset));
      return result;
    }
  }
  if (outcome.Code() == rapidjson::kParseErrorDocumentEmpty) {
    // Empty or blank text is an empty value, not a failure.
    result.Reset();
    return result;
  }
  result.SetError(FormatText("Error: %s at offset %u.", rapidjson::GetParseError_En(outcome.Code()),
                             outcome.Offset()));
  return result;
}

PropertyResult ParseJson(const char* text) {
  return ParseJson(text, text == nullptr ? 0 : std::strlen(text));
}

PropertyResult ParseJson(const std::string& text) {
  return ParseJson(text.data(), text.size());
}

bool LooksLikeJson(const char* text) {
  if (text == nullptr) return false;
  while (*text == ' ') ++text;
  return *text == '{' || *text == '[';
}

}  // namespace Kestrel
