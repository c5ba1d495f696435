#include "formats/json_writer.h"

#include <rapidjson/writer.h>

#include <cmath>
#include <cstdint>
#include <string_view>

#include "binding/type_registry.h"
#include "formats/json_reader.h"
#include "util/base64.h"

namespace Kestrel {

namespace {

// RapidJSON output stream writing into a caller's string. The writer announces
// how many characters a value may take (`PutReserve`) and then stores them
// without further checks (`PutUnsafe`); the string grows ahead in doubling
// steps and is cut to the written length by `Finish`. Characters go through a
// cursor into the string's buffer: a character store may alias anything, so
// writing through the string itself would reload its data pointer and length
// for every character.
class StringOutput {
 public:
  using Ch = char;
  explicit StringOutput(std::string& text) : text_(text) { Rebind(0); }
  void Put(char c) {
    Reserve(1);
    *cursor_++ = c;
  }
  void Flush() {}
  void Reserve(std::size_t count) {
    if (static_cast<std::size_t>(end_ - cursor_) < count) Grow(count);
  }
  void PutUnsafe(char c) { *cursor_++ = c; }
  // Where the next character goes; after `Reserve(n)`, n characters may be
  // stored there and the cursor moved past them with `MoveTo`.
  char* Cursor() { return cursor_; }
  void MoveTo(char* cursor) { cursor_ = cursor; }
  // Cuts the string to what was written.
  void Finish() { text_.resize(Written()); }

 private:
  std::size_t Written() const { return static_cast<std::size_t>(cursor_ - text_.data()); }
  void Grow(std::size_t count) {
    const std::size_t written = Written();
    const std::size_t needed = written + count;
    text_.resize(needed > 2 * text_.size() ? needed : 2 * text_.size());
    Rebind(written);
  }
  // Points the cursor at `written` characters into the string's buffer.
  void Rebind(std::size_t written) {
    cursor_ = text_.data() + written;
    end_ = text_.data() + text_.size();
  }

  std::string& text_;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
};

// Found by argument-dependent lookup from the writer, in preference to
// RapidJSON's generic versions, which put one checked character at a time.
inline void PutReserve(StringOutput& output, std::size_t count) {
  output.Reserve(count);
}
inline void PutUnsafe(StringOutput& output, char c) {
  output.PutUnsafe(c);
}

using BaseWriter = rapidjson::Writer<StringOutput, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                     JsonInternal::HeapAllocator>;

// RapidJSON's compact writer, converting numbers straight into the output (as
// RapidJSON does for its own string buffer) instead of into a local buffer
// that is then copied out a character at a time. The digits are the writer's.
class CompactWriter : public BaseWriter {
 public:
  explicit CompactWriter(StringOutput& output) : BaseWriter(output) {}

  bool Int(int value) {
    return Number(11, [value](char* out) { return rapidjson::internal::i32toa(value, out); });
  }
  bool Uint(unsigned value) {
    return Number(10, [value](char* out) { return rapidjson::internal::u32toa(value, out); });
  }
  // Values that fit in 32 bits take the 32-bit conversion, which writes the
  // same digits without 64-bit divisions (library calls on a 32-bit target).
  bool Int64(int64_t value) {
    if (value >= INT32_MIN && value <= INT32_MAX) return Int(static_cast<int>(value));
    return Number(21, [value](char* out) { return rapidjson::internal::i64toa(value, out); });
  }
  bool Uint64(uint64_t value) {
    if (value <= UINT32_MAX) return Uint(static_cast<unsigned>(value));
    return Number(20, [value](char* out) { return rapidjson::internal::u64toa(value, out); });
  }
  // Finite values only; the writer's own path handles (refuses) the others.
  bool Double(double value) {
    if (!std::isfinite(value)) return BaseWriter::Double(value);
    return Number(25, [this, value](char* out) {
      return rapidjson::internal::dtoa(value, out, maxDecimalPlaces_);
    });
  }

 private:
  // Writes a number of at most `longest` characters that `convert` stores at
  // the pointer it is given, returning the end of what it stored.
  template <class Convert>
  bool Number(std::size_t longest, Convert convert) {
    Prefix(rapidjson::kNumberType);
    os_->Reserve(longest);
    os_->MoveTo(convert(os_->Cursor()));
    return EndValue(true);
  }
};

// Texts are far below 4 GiB on the target; the cast only matters for a
// native 64-bit build.
rapidjson::SizeType LengthOf(std::string_view text) {
  return static_cast<rapidjson::SizeType>(text.size());
}

// The writer requires a non-null pointer even for an empty text.
const char* DataOf(std::string_view text) {
  return text.empty() ? "" : text.data();
}

// Turns the visits of `BindingProperty::Accept` into writer calls. Element and
// field ends need no output: the writer places commas and colons itself.
class JsonWriterVisitor final : public PropertyVisitor {
 public:
  JsonWriterVisitor(std::string& text, const TypeRegistry* registry)
      : output_(text), writer_(output_), registry_(registry) {}

  void VisitEmpty() override { writer_.Null(); }
  void VisitBool(bool value) override { writer_.Bool(value); }
  void VisitSigned(int64_t value) override { writer_.Int64(value); }
  void VisitUnsigned(uint64_t value) override { writer_.Uint64(value); }
  void VisitFloat(double value) override {
    // The writer refuses NaN and infinity and would leave the document
    // unfinished; null keeps it well-formed.
    if (std::isfinite(value)) {
      writer_.Double(value);
    } else {
      writer_.Null();
    }
  }
  void VisitString(std::string_view text) override { writer_.String(DataOf(text), LengthOf(text)); }
  void VisitBlob(const std::vector<uint8_t>& bytes) override {
    const std::string encoded = EncodeBase64(bytes);
    writer_.String(DataOf(encoded), LengthOf(encoded));
  }
  void VisitEnum(const EnumValue& value) override {
    const EnumValueRecord* named =
        registry_ == nullptr ? nullptr : registry_->FindEnumValue(value.type, value.value);
    if (named != nullptr) {
      writer_.String(DataOf(named->name), LengthOf(named->name));
    } else {
      writer_.Int(value.value);
    }
  }
  void BeginCollection(std::size_t /*count*/) override { writer_.StartArray(); }
  void BeginElement(std::size_t /*index*/) override {}
  void EndElement(std::size_t /*index*/) override {}
  void EndCollection() override { writer_.EndArray(); }
  void BeginStructure(std::size_t /*count*/) override { writer_.StartObject(); }
  void BeginField(std::string_view name) override { writer_.Key(DataOf(name), LengthOf(name)); }
  void EndField(std::string_view /*name*/) override {}
  void EndStructure() override { writer_.EndObject(); }

  // Cuts the text to what was written; call once, after the last value.
  void Finish() { output_.Finish(); }

 private:
  StringOutput output_;
  CompactWriter writer_;
  const TypeRegistry* registry_;
};

}  // namespace

std::string WriteJson(const BindingProperty& property, const TypeRegistry* registry) {
  std::string text;
  if (property.IsEmpty()) return text;
  JsonWriterVisitor visitor(text, registry);
  property.Accept(visitor);
  visitor.Finish();
  return text;
}

}  // namespace Kestrel
