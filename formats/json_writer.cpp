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
// steps and is cut to the written length by `Finish`.
class StringOutput {
 public:
  using Ch = char;
  explicit StringOutput(std::string& text) : text_(text) {}
  void Put(char c) {
    Reserve(1);
    text_[length_++] = c;
  }
  void Flush() {}
  void Reserve(std::size_t count) {
    if (text_.size() - length_ < count) {
      const std::size_t needed = length_ + count;
      text_.resize(needed > 2 * text_.size() ? needed : 2 * text_.size());
    }
  }
  void PutUnsafe(char c) { text_[length_++] = c; }
  // Cuts the string to what was written.
  void Finish() { text_.resize(length_); }

 private:
  std::string& text_;
  std::size_t length_ = 0;
};

// Found by argument-dependent lookup from the writer, in preference to
// RapidJSON's generic versions, which put one checked character at a time.
inline void PutReserve(StringOutput& output, std::size_t count) {
  output.Reserve(count);
}
inline void PutUnsafe(StringOutput& output, char c) {
  output.PutUnsafe(c);
}

using CompactWriter = rapidjson::Writer<StringOutput, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                        JsonInternal::HeapAllocator>;

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
