#include "formats/json_writer.h"

#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "binding/type_registry.h"
#include "formats/json_reader.h"
#include "util/base64.h"

namespace Kestrel {

namespace {

// RapidJSON output stream that gathers the text in chunks and joins them into
// the caller's string once, at the text's exact length. Growing one string
// instead would copy it at every doubling, fill each new half with zeros
// first, and end in a buffer up to twice the text's length: for a text of a
// few hundred KiB that buffer is a fresh mapping from the C heap on every
// write, and all its pages fault in. The writer announces how many characters
// a value may take (`PutReserve`) and then stores them without further checks
// (`PutUnsafe`); a chunk without that much room is closed and a new one, at
// least that large, opened. The first chunk is part of the stream, so a small
// text allocates nothing but its string.
class ChunkedOutput {
 public:
  using Ch = char;
  ChunkedOutput() : begin_(first_), cursor_(first_), end_(first_ + sizeof first_) {}
  ChunkedOutput(const ChunkedOutput&) = delete;
  ChunkedOutput& operator=(const ChunkedOutput&) = delete;

  void Put(char c) {
    Reserve(1);
    *cursor_++ = c;
  }
  void Flush() {}
  void Reserve(std::size_t count) {
    if (static_cast<std::size_t>(end_ - cursor_) < count) Open(count);
  }
  void PutUnsafe(char c) { *cursor_++ = c; }
  // Where the next character goes; after `Reserve(n)`, n characters may be
  // stored there and the cursor moved past them with `MoveTo`.
  char* Cursor() { return cursor_; }
  void MoveTo(char* cursor) { cursor_ = cursor; }

  // Replaces `text` with everything written; call once, after the last value.
  void JoinInto(std::string& text) {
    Close();
    std::size_t total = first_used_;
    for (const Chunk& chunk : chunks_) total += chunk.used;
    text.clear();
    text.reserve(total);
    text.append(first_, first_used_);
    for (const Chunk& chunk : chunks_) text.append(chunk.data.get(), chunk.used);
  }

 private:
  static constexpr std::size_t kFirstHeapChunk = 8 * 1024;
  static constexpr std::size_t kLargestHeapChunk = 64 * 1024;

  struct Chunk {
    std::unique_ptr<char[]> data;
    std::size_t used = 0;
  };

  // Records how much of the current chunk was written.
  void Close() {
    const auto used = static_cast<std::size_t>(cursor_ - begin_);
    if (chunks_.empty()) {
      first_used_ = used;
    } else {
      chunks_.back().used = used;
    }
  }
  // Closes the current chunk and opens one with room for `count` characters.
  void Open(std::size_t count) {
    Close();
    const std::size_t size = std::max(count, next_size_);
    next_size_ = std::min(2 * next_size_, kLargestHeapChunk);
    chunks_.push_back({std::make_unique_for_overwrite<char[]>(size), 0});
    begin_ = chunks_.back().data.get();
    cursor_ = begin_;
    end_ = begin_ + size;
  }

  char first_[1024];
  std::size_t first_used_ = 0;
  std::vector<Chunk> chunks_;
  std::size_t next_size_ = kFirstHeapChunk;
  char* begin_;
  char* cursor_;
  char* end_;
};

// Found by argument-dependent lookup from the writer, in preference to
// RapidJSON's generic versions, which put one checked character at a time.
inline void PutReserve(ChunkedOutput& output, std::size_t count) {
  output.Reserve(count);
}
inline void PutUnsafe(ChunkedOutput& output, char c) {
  output.PutUnsafe(c);
}

using BaseWriter = rapidjson::Writer<ChunkedOutput, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                     JsonInternal::HeapAllocator>;

// RapidJSON's compact writer, converting numbers straight into the output (as
// RapidJSON does for its own string buffer) instead of into a local buffer
// that is then copied out a character at a time. The digits are the writer's.
class CompactWriter : public BaseWriter {
 public:
  explicit CompactWriter(ChunkedOutput& output) : BaseWriter(output) {}

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
  // Texts are escaped as RapidJSON's writer escapes them, through a local
  // cursor: the writer's own loop stores each character through the stream's
  // cursor in memory, so every character waits for the store of the one
  // before it.
  bool String(const char* text, rapidjson::SizeType length, bool /*copy*/ = false) {
    Prefix(rapidjson::kStringType);
    os_->Reserve(2 + std::size_t{length} * 6);
    char* out = os_->Cursor();
    *out++ = '"';
    std::size_t i = 0;
    while (i < length) {
      // Four bytes at a time while none of them needs escaping.
      if (length - i >= 4) {
        uint32_t word;
        std::memcpy(&word, text + i, sizeof word);
        if (!AnyByteNeedsEscape(word)) {
          std::memcpy(out, &word, sizeof word);
          out += sizeof word;
          i += sizeof word;
          continue;
        }
      } else if (length >= 4) {
        // Fewer than four bytes left: the text's last four bytes go out in
        // one store when none needs escaping. Those of them already written
        // were written as they are, so the store rewrites them unchanged.
        uint32_t word;
        std::memcpy(&word, text + length - 4, sizeof word);
        if (!AnyByteNeedsEscape(word)) {
          std::memcpy(out - (i - (length - 4)), &word, sizeof word);
          out += length - i;
          break;
        }
      }
      const auto c = static_cast<unsigned char>(text[i++]);
      const char escape = kEscapes[c];
      if (escape == 0) {
        *out++ = static_cast<char>(c);
        continue;
      }
      *out++ = '\\';
      *out++ = escape;
      if (escape == 'u') {
        *out++ = '0';
        *out++ = '0';
        *out++ = kHexDigits[c >> 4];
        *out++ = kHexDigits[c & 0xF];
      }
    }
    *out++ = '"';
    os_->MoveTo(out);
    return EndValue(true);
  }
  bool Key(const char* text, rapidjson::SizeType length, bool copy = false) {
    return String(text, length, copy);
  }
  // Finite values only; the writer's own path handles (refuses) the others.
  bool Double(double value) {
    if (!std::isfinite(value)) return BaseWriter::Double(value);
    return Number(25, [this, value](char* out) {
      return rapidjson::internal::dtoa(value, out, maxDecimalPlaces_);
    });
  }

 private:
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  // The character after the backslash for each byte that needs escaping, 0
  // for the bytes written as they are; 'u' means the \u00XX form.
  static constexpr std::array<char, 256> kEscapes = [] {
    std::array<char, 256> escapes{};
    for (int c = 0; c < 0x20; ++c) escapes[c] = 'u';
    escapes['\b'] = 'b';
    escapes['\t'] = 't';
    escapes['\n'] = 'n';
    escapes['\f'] = 'f';
    escapes['\r'] = 'r';
    escapes['"'] = '"';
    escapes['\\'] = '\\';
    return escapes;
  }();

  // Whether any of the four bytes of `word` is below 0x20, '"' or '\\' (the
  // bytes with an entry in `kEscapes`); exact, bytes from 0x80 up never count.
  static bool AnyByteNeedsEscape(uint32_t word) {
    constexpr uint32_t kOnes = 0x01010101u;
    constexpr uint32_t kHighBits = 0x80808080u;
    const auto has_zero_byte = [](uint32_t v) { return (v - kOnes) & ~v & kHighBits; };
    const uint32_t below_space = (word - kOnes * 0x20) & ~word & kHighBits;
    return (below_space | has_zero_byte(word ^ (kOnes * '"')) |
            has_zero_byte(word ^ (kOnes * '\\'))) != 0;
  }

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

// The JSON form of each kind of value, written through the compact writer:
// the one implementation behind the writing of trees and of native walks.
class JsonValueWriter {
 public:
  explicit JsonValueWriter(const TypeRegistry* registry) : writer_(output_), registry_(registry) {}

  void Null() { writer_.Null(); }
  void Bool(bool value) { writer_.Bool(value); }
  void Signed(int64_t value) { writer_.Int64(value); }
  void Unsigned(uint64_t value) { writer_.Uint64(value); }
  void Float(double value) {
    // The writer refuses NaN and infinity and would leave the document
    // unfinished; null keeps it well-formed.
    if (std::isfinite(value)) {
      writer_.Double(value);
    } else {
      writer_.Null();
    }
  }
  void String(std::string_view text) { writer_.String(DataOf(text), LengthOf(text)); }
  void Blob(const uint8_t* bytes, std::size_t count) {
    const std::string encoded = EncodeBase64(bytes, count);
    writer_.String(DataOf(encoded), LengthOf(encoded));
  }
  void Enum(const EnumValue& value) {
    const EnumValueRecord* named =
        registry_ == nullptr ? nullptr : registry_->FindEnumValue(value.type, value.value);
    if (named != nullptr) {
      writer_.String(DataOf(named->name), LengthOf(named->name));
    } else {
      writer_.Int(value.value);
    }
  }
  void StartArray() { writer_.StartArray(); }
  void EndArray() { writer_.EndArray(); }
  void StartObject() { writer_.StartObject(); }
  void Key(std::string_view name) { writer_.Key(DataOf(name), LengthOf(name)); }
  void EndObject() { writer_.EndObject(); }

  // Replaces `text` with what was written; call once, after the last value.
  void JoinInto(std::string& text) { output_.JoinInto(text); }

 private:
  ChunkedOutput output_;
  CompactWriter writer_;
  const TypeRegistry* registry_;
};

// Turns the visits of `BindingProperty::Accept` into values. Element and
// field ends need no output: the writer places commas and colons itself.
class JsonWriterVisitor final : public PropertyVisitor {
 public:
  explicit JsonWriterVisitor(JsonValueWriter& values) : values_(values) {}

  void VisitEmpty() override { values_.Null(); }
  void VisitBool(bool value) override { values_.Bool(value); }
  void VisitSigned(int64_t value) override { values_.Signed(value); }
  void VisitUnsigned(uint64_t value) override { values_.Unsigned(value); }
  void VisitFloat(double value) override { values_.Float(value); }
  void VisitString(std::string_view text) override { values_.String(text); }
  void VisitBlob(const std::vector<uint8_t>& bytes) override {
    values_.Blob(bytes.data(), bytes.size());
  }
  void VisitEnum(const EnumValue& value) override { values_.Enum(value); }
  void BeginCollection(std::size_t /*count*/) override { values_.StartArray(); }
  void BeginElement(std::size_t /*index*/) override {}
  void EndElement(std::size_t /*index*/) override {}
  void EndCollection() override { values_.EndArray(); }
  void BeginStructure(std::size_t /*count*/) override { values_.StartObject(); }
  void BeginField(std::string_view name) override { values_.Key(name); }
  void EndField(std::string_view /*name*/) override {}
  void EndStructure() override { values_.EndObject(); }

 private:
  JsonValueWriter& values_;
};

// Turns the events of a native walk into values; whole trees go through the
// visitor. An empty root writes nothing, as an empty tree does.
class JsonWalkSink final : public NativeSink {
 public:
  explicit JsonWalkSink(JsonValueWriter& values) : values_(values) {}

  void Bool(bool value) override { values_.Bool(value); }
  void Signed(int64_t value) override { values_.Signed(value); }
  void Unsigned(uint64_t value) override { values_.Unsigned(value); }
  void Double(double value) override { values_.Float(value); }
  void String(std::string_view text) override { values_.String(text); }
  // One loop over the run, the writer inlined into it.
  void Strings(const std::string* texts, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) values_.String(ConversionDetail::CutAtNul(texts[i]));
  }
  void Blob(const uint8_t* bytes, std::size_t count) override { values_.Blob(bytes, count); }
  void Enum(EnumValue value) override { values_.Enum(value); }
  void BeginCollection(std::size_t /*count*/) override {
    ++depth_;
    values_.StartArray();
  }
  void EndCollection() override {
    --depth_;
    values_.EndArray();
  }
  void BeginStructure(std::size_t /*count*/) override {
    ++depth_;
    values_.StartObject();
  }
  void Key(std::string_view name) override { values_.Key(name); }
  void EndStructure() override {
    --depth_;
    values_.EndObject();
  }
  void Property(const BindingProperty& value) override {
    if (depth_ == 0 && value.IsEmpty()) return;
    JsonWriterVisitor visitor(values_);
    value.Accept(visitor);
  }

 private:
  JsonValueWriter& values_;
  std::size_t depth_ = 0;
};

}  // namespace

std::string WriteJson(const BindingProperty& property, const TypeRegistry* registry) {
  std::string text;
  if (property.IsEmpty()) return text;
  JsonValueWriter values(registry);
  JsonWriterVisitor visitor(values);
  property.Accept(visitor);
  values.JoinInto(text);
  return text;
}

bool WriteJson(const NativeWalk& walk, const TypeRegistry* registry, std::string& text) {
  JsonValueWriter values(registry);
  JsonWalkSink sink(values);
  if (!walk(sink)) {
    text.clear();
    return false;
  }
  values.JoinInto(text);
  return true;
}

}  // namespace Kestrel
