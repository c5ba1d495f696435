#include "formats/msgpack_reader.h"

#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "formats/tree_builder.h"
#include "util/format_text.h"

namespace Kestrel {
namespace {

constexpr const char* kInvalidTypeMessage = "Invalid MessagePack data at position %1.";
constexpr const char* kKeyNotStringMessage =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
constexpr const char* kTruncated8Message =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated16Message =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated32Message =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated64Message =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
constexpr const char* kStringTruncatedMessage =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr const char* kBlobTruncatedMessage =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";
constexpr const char* kTooDeepMessage =
    "Invalid MessagePack data. Nesting deeper than %1 levels at position %2.";

// Frames reserved before reading; deeper input grows the stack on the heap.
constexpr std::size_t kReservedFrames = 16;
// Entries a new array or map makes room for at most, and never more than the
// bytes left could hold (an element takes one byte at least, a member two):
// small ones get their final size at once, while a declared count alone
// cannot make the reader allocate much (64 elements fill the largest block a
// store pools).
constexpr std::size_t kMaxReservedElements = 64;

// A number read from big-endian bytes into the machine's order.
uint16_t FromBigEndian(uint16_t word) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap16(word);
  return word;
}
uint32_t FromBigEndian(uint32_t word) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(word);
  return word;
}
uint64_t FromBigEndian(uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(word);
  return word;
}

enum class FrameKind : uint8_t {
  kRoot,        // the result itself: one entry
  kCollection,  // one entry per element
  kStructure,   // one entry per member: its key, then its value
};

// One open level of the input.
struct Frame {
  uint64_t remaining = 0;  // entries not yet begun
  FrameKind kind = FrameKind::kRoot;
};

// State of one `ParseMessagePack` call. Builds into the result it is given;
// after the first failure the result holds only the message and the decoder
// stops touching the (released) tree.
class Decoder {
 public:
  Decoder(const uint8_t* data, std::size_t size, PropertyResult& result)
      : data_(data), size_(size), result_(result), builder_(result) {}

  // Decodes the input; structures it leaves open (input that ends inside
  // them) are put in name order too.
  void Run() {
    Decode();
    if (!failed_) builder_.Settle();
  }

  std::size_t position() const { return position_; }

 private:
  // One round per entry: levels whose entries have all begun are closed
  // first, then a map entry reads its key and both read the value's type byte.
  void Decode() {
    frames_.reserve(kReservedFrames);
    frames_.push_back(Frame{1, FrameKind::kRoot});
    while (!failed_ && position_ < size_) {
      Frame* top = &frames_.back();
      while (top->remaining == 0) {
        if (top->kind == FrameKind::kRoot) return;
        builder_.End();
        frames_.pop_back();
        top = &frames_.back();
      }
      --top->remaining;
      // A member is made only once its value has begun: input that ends after
      // a key leaves the map without it.
      if (top->kind == FrameKind::kStructure) {
        std::string_view key;
        if (!ReadKey(&key) || position_ >= size_) return;
        builder_.Key(key);
      }
      ReadValue(data_[position_++]);
    }
  }

  // Reads a map key into `*key` (a view of the input); false once the read
  // has failed.
  bool ReadKey(std::string_view* key) {
    const uint8_t type = data_[position_++];
    uint64_t length = 0;
    if (type >= 0xA0 && type <= 0xBF) {
      length = type & 0x1F;
    } else if (type == 0xD9 || type == 0xDA || type == 0xDB) {
      if (!ReadBigEndian(1u << (type - 0xD9), &length)) return false;
    } else {
      Fail(FormatText(kKeyNotStringMessage, position_));
      return false;
    }
    const uint8_t* bytes = TakeBytes(length, kStringTruncatedMessage);
    if (bytes == nullptr) return false;
    *key = std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    return true;
  }

  void ReadValue(uint8_t type) {
    if (type <= 0x7F) {
      builder_.Signed(type);
    } else if (type <= 0x8F) {
      OpenStructure(type & 0x0F);
    } else if (type <= 0x9F) {
      OpenCollection(type & 0x0F);
    } else if (type <= 0xBF) {
      ReadString(type & 0x1F);
    } else if (type >= 0xE0) {
      builder_.Signed(static_cast<int8_t>(type));
    } else {
      ReadTypedValue(type);
    }
  }

  // The type bytes 0xC0-0xDF, each with its own payload layout.
  void ReadTypedValue(uint8_t type) {
    uint64_t bits = 0;
    switch (type) {
      case 0xC0:
        builder_.Null();
        return;
      case 0xC2:
      case 0xC3:
        builder_.Bool(type == 0xC3);
        return;
      case 0xC4:
      case 0xC5:
      case 0xC6:
        if (ReadBigEndian(1u << (type - 0xC4), &bits)) ReadBlob(bits);
        return;
      case 0xCA:
        if (ReadBigEndian(4, &bits)) {
          builder_.Double(std::bit_cast<float>(static_cast<uint32_t>(bits)));
        }
        return;
      case 0xCB:
        if (ReadBigEndian(8, &bits)) builder_.Double(std::bit_cast<double>(bits));
        return;
      case 0xCC:
      case 0xCD:
      case 0xCE:
      case 0xCF:
        if (ReadBigEndian(1u << (type - 0xCC), &bits)) builder_.Unsigned(bits);
        return;
      case 0xD0:
        if (ReadBigEndian(1, &bits)) builder_.Signed(static_cast<int8_t>(bits));
        return;
      case 0xD1:
        if (ReadBigEndian(2, &bits)) builder_.Signed(static_cast<int16_t>(bits));
        return;
      case 0xD2:
        if (ReadBigEndian(4, &bits)) builder_.Signed(static_cast<int32_t>(bits));
        return;
      case 0xD3:
        if (ReadBigEndian(8, &bits)) builder_.Signed(static_cast<int64_t>(bits));
        return;
      case 0xD9:
      case 0xDA:
      case 0xDB:
        if (ReadBigEndian(1u << (type - 0xD9), &bits)) ReadString(bits);
        return;
      case 0xDC:
      case 0xDD:
        if (ReadBigEndian(type == 0xDC ? 2 : 4, &bits)) OpenCollection(bits);
        return;
      case 0xDE:
      case 0xDF:
        if (ReadBigEndian(type == 0xDE ? 2 : 4, &bits)) OpenStructure(bits);
        return;
      default:  // 0xC1 and the extension types
        Fail(FormatText(kInvalidTypeMessage, position_));
        return;
    }
  }

  void ReadString(uint64_t length) {
    const uint8_t* bytes = TakeBytes(length, kStringTruncatedMessage);
    if (bytes == nullptr) return;
    builder_.StringFullLength(
        std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)));
  }

  void ReadBlob(uint64_t length) {
    const uint8_t* bytes = TakeBytes(length, kBlobTruncatedMessage);
    if (bytes == nullptr) return;
    builder_.Blob(bytes, static_cast<std::size_t>(length));
  }

  // A repeated key's earlier value is replaced, never merged into (see the
  // header); the new level starts with no entry begun.
  void OpenCollection(uint64_t count) {
    if (!builder_.StartCollection(TreeBuilder::Existing::kReplace, Room(count, 1))) {
      FailTooDeep();
      return;
    }
    frames_.push_back(Frame{count, FrameKind::kCollection});
  }

  void OpenStructure(uint64_t count) {
    if (!builder_.StartStructure(TreeBuilder::Existing::kReplace, Room(count, 2))) {
      FailTooDeep();
      return;
    }
    frames_.push_back(Frame{count, FrameKind::kStructure});
  }

  // Entries to make room for when `count` are declared and each takes
  // `entry_bytes` at least.
  std::size_t Room(uint64_t count, std::size_t entry_bytes) const {
    std::size_t room = (size_ - position_) / entry_bytes;
    if (room > kMaxReservedElements) room = kMaxReservedElements;
    return count < room ? static_cast<std::size_t>(count) : room;
  }

  // Reads a big-endian number of `width` (1, 2, 4 or 8) bytes. Returns false,
  // having failed the read, when fewer bytes remain.
  bool ReadBigEndian(unsigned width, uint64_t* value) {
    if (size_ - position_ < width) {
      const char* message = width == 1   ? kTruncated8Message
                            : width == 2 ? kTruncated16Message
                            : width == 4 ? kTruncated32Message
                                         : kTruncated64Message;
      Fail(FormatText(message, position_));
      return false;
    }
    // One load and one byte swap per width rather than a loop per byte:
    // numbers (coordinates above all) are most of some documents.
    const uint8_t* bytes = data_ + position_;
    position_ += width;
    switch (width) {
      case 1:
        *value = bytes[0];
        break;
      case 2: {
        uint16_t word;
        std::memcpy(&word, bytes, sizeof word);
        *value = FromBigEndian(word);
        break;
      }
      case 4: {
        uint32_t word;
        std::memcpy(&word, bytes, sizeof word);
        *value = FromBigEndian(word);
        break;
      }
      default: {
        uint64_t word;
        std::memcpy(&word, bytes, sizeof word);
        *value = FromBigEndian(word);
        break;
      }
    }
    return true;
  }

  // Returns the next `length` bytes and steps over them, or nullptr, having
  // failed the read with `message` (declared size, start position), when fewer
  // remain. Nothing is allocated here: the caller copies what is present.
  const uint8_t* TakeBytes(uint64_t length, const char* message) {
    if (size_ - position_ < length) {
      Fail(FormatText(message, length, position_));
      return nullptr;
    }
    const uint8_t* bytes = data_ + position_;
    position_ += static_cast<std::size_t>(length);
    return bytes;
  }

  void FailTooDeep() { Fail(FormatText(kTooDeepMessage, kMaxNestingDepth, position_)); }

  void Fail(const std::string& message) {
    result_.SetError(message);
    failed_ = true;
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  PropertyResult& result_;
  TreeBuilder builder_;
  std::vector<Frame> frames_;
  bool failed_ = false;
};

}  // namespace

PropertyResult ParseMessagePack(const uint8_t* data, std::size_t size, std::size_t* position) {
  PropertyResult result;
  Decoder decoder(data, data == nullptr ? 0 : size, result);
  decoder.Run();
  if (position != nullptr) *position = decoder.position();
  return result;
}

bool LooksLikeMessagePack(const uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return false;
  const uint8_t first = data[0];
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace Kestrel
