#include "formats/yaml_reader.h"

#include <yaml.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/number_text.h"
#include "formats/tree_builder.h"
#include "formats/yaml_scalar.h"
#include "util/format_text.h"

namespace Kestrel {
namespace {

constexpr std::string_view kStrTag = "tag:yaml.org,2002:str";
constexpr std::string_view kIntTag = "tag:yaml.org,2002:int";
constexpr std::string_view kFloatTag = "tag:yaml.org,2002:float";
constexpr std::string_view kBoolTag = "tag:yaml.org,2002:bool";

// Value name and bounds of tagged numbers.
constexpr const char* kYamlValueName = "yaml";
constexpr SignedRange kTaggedSignedRange{std::numeric_limits<int64_t>::min(),
                                         std::numeric_limits<int64_t>::max(), "int64_t"};
constexpr UnsignedRange kTaggedUnsignedRange{0, std::numeric_limits<uint64_t>::max(), "uint64_t"};
constexpr DoubleRange kTaggedDoubleRange{-1.7976931348623157e308, 1.7976931348623157e308, "double"};

// Text of a libyaml string (NUL-terminated UTF-8, or nullptr).
std::string_view ViewOf(const yaml_char_t* text) {
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text));
}

// Cuts `text` at its first NUL, the way member names are stored.
std::string_view NameOf(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// Counts the values of a tree (itself included) and its container height,
// giving up once the count passes `limit`. Recursion is bounded by the nesting
// limit every tree of this reader keeps.
struct TreeMeasure {
  std::size_t values = 0;
  std::size_t height = 0;
};

void Measure(const BindingProperty& value, std::size_t level, std::size_t limit,
             TreeMeasure* measure) {
  ++measure->values;
  if (value.kind() != PropertyKind::kCollection && value.kind() != PropertyKind::kStructure) {
    return;
  }
  if (level + 1 > measure->height) measure->height = level + 1;
  if (value.kind() == PropertyKind::kCollection) {
    for (const BindingProperty& element : value.Elements()) {
      if (measure->values > limit) return;
      Measure(element, level + 1, limit, measure);
    }
  } else {
    value.ForEachField([&](std::string_view, const BindingProperty& field) {
      if (measure->values > limit) return;
      Measure(field, level + 1, limit, measure);
    });
  }
}

// Owns libyaml's parser and the current event and releases both on every path.
class YamlParser {
 public:
  YamlParser() {
    std::memset(&event_, 0, sizeof(event_));
    initialized_ = yaml_parser_initialize(&parser_) != 0;
  }
  ~YamlParser() {
    yaml_event_delete(&event_);
    if (initialized_) yaml_parser_delete(&parser_);
  }
  YamlParser(const YamlParser&) = delete;
  YamlParser& operator=(const YamlParser&) = delete;

  bool initialized() const { return initialized_; }
  yaml_parser_t& parser() { return parser_; }
  yaml_event_t& event() { return event_; }

 private:
  yaml_parser_t parser_;
  yaml_event_t event_;
  bool initialized_ = false;
};

// Builds the value of one document from libyaml's events.
//
// Beside the builder's stack of open containers it keeps, per open container,
// the step by which the container was reached and the anchors noted on it, and
// a table of anchors. A value anchor records the path of its node as a chain of
// path nodes (parent, step); path nodes are made only for anchored values and
// their open ancestors, so a document without anchors costs nothing here.
class YamlReader {
 public:
  explicit YamlReader(BindingProperty& root) : builder_(root) {}
  YamlReader(const YamlReader&) = delete;
  YamlReader& operator=(const YamlReader&) = delete;

  // Handles one event. Returns false once the document is refused.
  bool Handle(const yaml_event_t& event);

  bool failed() const { return failed_; }
  // The message of the refusal; "" while nothing failed.
  const std::string& error() const { return error_; }

 private:
  // Path node 0 stands for the root; it has no step.
  static constexpr uint32_t kRootPath = 0;
  static constexpr uint32_t kNoPath = std::numeric_limits<uint32_t>::max();

  // One step from a container to a child: an element index or a member name.
  struct PathStep {
    bool is_index = false;
    std::size_t index = 0;
    std::string key;
  };
  struct PathNode {
    uint32_t parent = kRootPath;
    PathStep step;
  };
  struct Anchor {
    bool on_key = false;
    std::string key;            // the key text, for an anchor written on a key
    uint32_t path = kRootPath;  // the node's path, for an anchor written on a value
    bool open = false;          // noted on a container that is still open
  };
  struct OpenNode {
    PathStep step;                               // how the container was reached from its parent
    uint32_t path = kNoPath;                     // its path node, once one was needed
    const BindingProperty* container = nullptr;  // the open container itself
    std::vector<Anchor*> anchors;                // anchors noted on it; cleared when it closes
  };

  bool Fail(std::string message);
  bool FailAt(const char* format, std::string_view subject, const yaml_mark_t& mark);
  bool FailAt(const char* format, const yaml_mark_t& mark);

  // The step to the value that the next node event fills.
  PathStep NextStep() const;
  // The path node of open container `index`, made (with its ancestors) on first need.
  uint32_t MaterializeOpen(std::size_t index);
  // A path node for a value reached from the innermost container by `step`.
  uint32_t MakeValuePath(PathStep step);
  // The node at the end of `path`, or the shared empty value when the path no
  // longer leads anywhere.
  const BindingProperty& Resolve(uint32_t path) const;
  // Records `anchor` under `name`; fails on a name already recorded.
  bool RecordAnchor(std::string_view name, Anchor anchor, const yaml_mark_t& mark,
                    Anchor** recorded);
  void CloseContainer(bool is_sequence);
  // True when `value` is one of the open containers, i.e. the target's ancestor.
  bool IsOpen(const BindingProperty& value) const;

  bool OnScalar(const yaml_event_t& event);
  bool OnKey(const yaml_event_t& event, std::string_view text);
  bool StoreScalar(const yaml_event_t& event, std::string_view text);
  bool OnContainerStart(const yaml_event_t& event, bool is_sequence);
  bool OnAlias(const yaml_event_t& event);

  TreeBuilder builder_;
  std::vector<OpenNode> open_;
  std::vector<PathNode> paths_{PathNode{}};  // entry 0: the root
  std::unordered_map<std::string, Anchor> anchors_;
  // The pending mapping key; only meaningful while the builder has a member selected.
  std::string pending_key_;
  std::size_t alias_values_ = 0;
  // Taken once per document: numbers may skip `strtod` only under a '.' locale.
  const bool decimal_dot_ = LocaleUsesDecimalDot();
  bool failed_ = false;
  std::string error_;
};

bool YamlReader::Fail(std::string message) {
  failed_ = true;
  error_ = std::move(message);
  return false;
}

bool YamlReader::FailAt(const char* format, std::string_view subject, const yaml_mark_t& mark) {
  return Fail(FormatText(format, subject, mark.line + 1, mark.column + 1));
}

bool YamlReader::FailAt(const char* format, const yaml_mark_t& mark) {
  return Fail(FormatText(format, mark.line + 1, mark.column + 1));
}

bool YamlReader::Handle(const yaml_event_t& event) {
  if (failed_) return false;
  switch (event.type) {
    case YAML_NO_EVENT:
    case YAML_STREAM_START_EVENT:
    case YAML_STREAM_END_EVENT:
    case YAML_DOCUMENT_END_EVENT:
      return true;
    case YAML_DOCUMENT_START_EVENT:
      if (builder_.root_taken()) return Fail("Multi-document YAML is not supported.");
      return true;
    case YAML_SEQUENCE_END_EVENT:
      CloseContainer(/*is_sequence=*/true);
      return true;
    case YAML_MAPPING_END_EVENT:
      CloseContainer(/*is_sequence=*/false);
      return true;
    case YAML_ALIAS_EVENT:
    case YAML_SCALAR_EVENT:
    case YAML_SEQUENCE_START_EVENT:
    case YAML_MAPPING_START_EVENT:
      break;
  }
  // A node after the first document's value is complete.
  if (builder_.depth() == 0 && builder_.root_taken()) {
    return Fail("Multi-document YAML is not supported.");
  }
  switch (event.type) {
    case YAML_SCALAR_EVENT:
      return OnScalar(event);
    case YAML_SEQUENCE_START_EVENT:
      return OnContainerStart(event, /*is_sequence=*/true);
    case YAML_MAPPING_START_EVENT:
      return OnContainerStart(event, /*is_sequence=*/false);
    case YAML_ALIAS_EVENT:
      return OnAlias(event);
    default:
      return true;
  }
}

YamlReader::PathStep YamlReader::NextStep() const {
  PathStep step;
  const BindingProperty* container = builder_.innermost();
  if (container == nullptr) return step;  // the root
  if (container->kind() == PropertyKind::kCollection) {
    step.is_index = true;
    step.index = container->Size();
  } else {
    step.key = pending_key_;
  }
  return step;
}

uint32_t YamlReader::MaterializeOpen(std::size_t index) {
  // Find the outermost open container below `index` that has no path node yet.
  std::size_t first = index + 1;
  while (first > 0 && open_[first - 1].path == kNoPath) --first;
  for (std::size_t i = first; i <= index; ++i) {
    if (i == 0) {
      open_[i].path = kRootPath;  // the root itself is a container
      continue;
    }
    paths_.push_back(PathNode{open_[i - 1].path, open_[i].step});
    open_[i].path = static_cast<uint32_t>(paths_.size() - 1);
  }
  return open_[index].path;
}

uint32_t YamlReader::MakeValuePath(PathStep step) {
  if (open_.empty()) return kRootPath;
  const uint32_t parent = MaterializeOpen(open_.size() - 1);
  paths_.push_back(PathNode{parent, std::move(step)});
  return static_cast<uint32_t>(paths_.size() - 1);
}

const BindingProperty& YamlReader::Resolve(uint32_t path) const {
  std::vector<const PathStep*> steps;
  for (uint32_t node = path; node != kRootPath; node = paths_[node].parent) {
    steps.push_back(&paths_[node].step);
  }
  const BindingProperty* value = &builder_.root();
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    value = (*step)->is_index ? &value->GetAt((*step)->index)
                              : &value->GetField(std::string_view((*step)->key));
  }
  return *value;
}

bool YamlReader::RecordAnchor(std::string_view name, Anchor anchor, const yaml_mark_t& mark,
                              Anchor** recorded) {
  auto [entry, inserted] = anchors_.try_emplace(std::string(name), std::move(anchor));
  if (!inserted) {
    return FailAt("Duplicate occurrence of anchor \"%1\". At line: %2 col: %3", name, mark);
  }
  if (recorded != nullptr) *recorded = &entry->second;
  return true;
}

void YamlReader::CloseContainer(bool is_sequence) {
  if (open_.empty()) return;
  for (Anchor* anchor : open_.back().anchors) anchor->open = false;
  open_.pop_back();
  if (is_sequence) {
    builder_.EndCollection();
  } else {
    builder_.EndStructure();
  }
  pending_key_.clear();
}

bool YamlReader::IsOpen(const BindingProperty& value) const {
  for (const OpenNode& node : open_) {
    if (node.container == &value) return true;
  }
  return false;
}

bool YamlReader::OnScalar(const yaml_event_t& event) {
  const std::string_view text(reinterpret_cast<const char*>(event.data.scalar.value),
                              event.data.scalar.length);
  if (builder_.ExpectsKey()) return OnKey(event, text);

  const std::string_view anchor_name = ViewOf(event.data.scalar.anchor);
  uint32_t path = kRootPath;
  if (!anchor_name.empty()) path = MakeValuePath(NextStep());
  if (!StoreScalar(event, text)) return false;
  pending_key_.clear();
  if (anchor_name.empty()) return true;
  Anchor anchor;
  anchor.path = path;
  return RecordAnchor(anchor_name, std::move(anchor), event.start_mark, nullptr);
}

bool YamlReader::OnKey(const yaml_event_t& event, std::string_view text) {
  const std::string_view tag = ViewOf(event.data.scalar.tag);
  // Keys are non-empty names: an empty key could not be told apart from "no
  // key yet" by anyone reading the member back.
  const std::string_view name = NameOf(text);
  if ((!tag.empty() && tag != kStrTag) || name.empty()) {
    return FailAt("Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2",
                  event.start_mark);
  }
  pending_key_.assign(name);
  builder_.KeyWithoutNul(name);  // already cut
  const std::string_view anchor_name = ViewOf(event.data.scalar.anchor);
  if (anchor_name.empty()) return true;
  Anchor anchor;
  anchor.on_key = true;
  anchor.key.assign(name);
  anchor.open = true;
  Anchor* recorded = nullptr;
  if (!RecordAnchor(anchor_name, std::move(anchor), event.start_mark, &recorded)) return false;
  // Noted on the mapping itself: an alias to it inside this mapping is cyclic.
  open_.back().anchors.push_back(recorded);
  return true;
}

bool YamlReader::StoreScalar(const yaml_event_t& event, std::string_view text) {
  const std::string_view tag = ViewOf(event.data.scalar.tag);
  if (!tag.empty()) {
    if (tag == kStrTag) {
      builder_.StringFullLength(text);
    } else if (tag == kIntTag) {
      if (!text.empty() && text.front() == '-') {
        int64_t value = 0;
        const NumberTextStatus status = ScanSignedText(text, kTaggedSignedRange, &value);
        if (status != NumberTextStatus::kOk) {
          return Fail(
              NumberTextMessage(status, text, kYamlValueName, kTaggedSignedRange.type_name));
        }
        builder_.Signed(value);
      } else {
        uint64_t value = 0;
        const NumberTextStatus status = ScanUnsignedText(text, kTaggedUnsignedRange, &value);
        if (status != NumberTextStatus::kOk) {
          return Fail(
              NumberTextMessage(status, text, kYamlValueName, kTaggedUnsignedRange.type_name));
        }
        builder_.Unsigned(value);
      }
    } else if (tag == kFloatTag) {
      double value = 0.0;
      const NumberTextStatus status = ScanDoubleText(text, kTaggedDoubleRange, &value);
      if (status != NumberTextStatus::kOk) {
        return Fail(NumberTextMessage(status, text, kYamlValueName, kTaggedDoubleRange.type_name));
      }
      builder_.Double(value);
    } else if (tag == kBoolTag) {
      const YamlScalar value = ResolveBoolWord(text);
      if (value.kind == YamlScalarKind::kBool) {
        builder_.Bool(value.boolean);
      } else {
        return FailAt(
            "Invalid value '%1' for YAML tag 'tag:yaml.org,2002:bool'. At line: %2 col: %3", text,
            event.start_mark);
      }
    } else {
      return Fail(FormatText("Unsupported YAML tag '%1'.", tag));
    }
    return true;
  }

  const yaml_scalar_style_t style = event.data.scalar.style;
  if (style == YAML_SINGLE_QUOTED_SCALAR_STYLE || style == YAML_DOUBLE_QUOTED_SCALAR_STYLE) {
    builder_.StringFullLength(text);
    return true;
  }
  const YamlScalar value = ResolvePlainScalar(text, decimal_dot_);
  switch (value.kind) {
    case YamlScalarKind::kNull:
      builder_.Clear();
      break;
    case YamlScalarKind::kBool:
      builder_.Bool(value.boolean);
      break;
    case YamlScalarKind::kSigned:
      builder_.Signed(value.signed_value);
      break;
    case YamlScalarKind::kUnsigned:
      builder_.Unsigned(value.unsigned_value);
      break;
    case YamlScalarKind::kDouble:
      builder_.Double(value.number);
      break;
    case YamlScalarKind::kString:
      builder_.StringFullLength(text);
      break;
  }
  return true;
}

bool YamlReader::OnContainerStart(const yaml_event_t& event, bool is_sequence) {
  if (builder_.ExpectsKey()) {
    return FailAt(is_sequence ? "Unexpected start of sequence. At line: %1 col: %2"
                              : "Unexpected start of mapping. At line: %1 col: %2",
                  event.start_mark);
  }
  PathStep step = NextStep();
  const bool opened = is_sequence ? builder_.StartCollection(TreeBuilder::Existing::kKeep)
                                  : builder_.StartStructure(TreeBuilder::Existing::kKeep);
  if (!opened) {
    return Fail(FormatText("Nesting deeper than %1 levels is not supported. At line: %2 col: %3",
                           kMaxNestingDepth, event.start_mark.line + 1,
                           event.start_mark.column + 1));
  }
  open_.push_back(OpenNode{std::move(step), kNoPath, builder_.innermost(), {}});
  pending_key_.clear();

  const std::string_view anchor_name =
      ViewOf(is_sequence ? event.data.sequence_start.anchor : event.data.mapping_start.anchor);
  if (anchor_name.empty()) return true;
  Anchor anchor;
  anchor.path = MaterializeOpen(open_.size() - 1);
  anchor.open = true;
  Anchor* recorded = nullptr;
  if (!RecordAnchor(anchor_name, std::move(anchor), event.start_mark, &recorded)) return false;
  open_.back().anchors.push_back(recorded);
  return true;
}

bool YamlReader::OnAlias(const yaml_event_t& event) {
  const std::string_view name = ViewOf(event.data.alias.anchor);
  if (builder_.ExpectsKey()) {
    // An alias cannot name a member: keys are plain string scalars.
    return FailAt("Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2",
                  event.start_mark);
  }
  const auto found = anchors_.find(std::string(name));
  if (found != anchors_.end() && found->second.open) {
    return FailAt("Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", name,
                  event.start_mark);
  }
  if (found == anchors_.end()) {
    return FailAt("Undefined alias encountered: \"%1\". At line: %2 col: %3", name,
                  event.start_mark);
  }
  const Anchor& anchor = found->second;
  if (anchor.on_key) {
    if (alias_values_ + 1 > kMaxYamlAliasValues) {
      return Fail(FormatText(
          "Aliases expanding to more than %1 values are not supported. At line: %2 col: %3",
          kMaxYamlAliasValues, event.start_mark.line + 1, event.start_mark.column + 1));
    }
    ++alias_values_;
    builder_.String(anchor.key);
    pending_key_.clear();
    return true;
  }

  // The target first: appending to a collection may move its elements, and the
  // anchored node may be one of them.
  BindingProperty& target = builder_.BeginValue();
  // The path to the anchored node looks members up in open structures too.
  builder_.Settle();
  const BindingProperty& source = Resolve(anchor.path);
  // A repeated key can reopen a closed anchored container ("a: &x {}" then
  // "a: {b: *x}"): copying it into its own member would never end.
  if (IsOpen(source)) {
    return FailAt("Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", name,
                  event.start_mark);
  }
  TreeMeasure measure;
  Measure(source, 0, kMaxYamlAliasValues - alias_values_, &measure);
  if (alias_values_ + measure.values > kMaxYamlAliasValues) {
    return Fail(FormatText(
        "Aliases expanding to more than %1 values are not supported. At line: %2 col: %3",
        kMaxYamlAliasValues, event.start_mark.line + 1, event.start_mark.column + 1));
  }
  if (builder_.depth() + measure.height > kMaxNestingDepth) {
    return Fail(FormatText("Nesting deeper than %1 levels is not supported. At line: %2 col: %3",
                           kMaxNestingDepth, event.start_mark.line + 1,
                           event.start_mark.column + 1));
  }
  alias_values_ += measure.values;
  if (target.kind() == PropertyKind::kCollection || target.kind() == PropertyKind::kStructure) {
    // A repeated key whose earlier container holds the anchored node: copy out
    // before the target releases what it holds.
    BindingProperty copy(source);
    target = std::move(copy);
  } else {
    target = source;
  }
  builder_.EndValue();
  pending_key_.clear();
  return true;
}

}  // namespace

PropertyResult ParseYaml(std::string_view text) {
  PropertyResult result;
  BindingProperty root;
  std::string error;
  {
    YamlParser yaml;
    if (!yaml.initialized()) {
      result.SetError("YAML parser error: out of memory. At line: 0 col: 0");
      return result;
    }
    yaml_parser_t& parser = yaml.parser();
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    static const unsigned char kNoText[] = "";
    yaml_parser_set_input_string(
        &parser, text.empty() ? kNoText : reinterpret_cast<const unsigned char*>(text.data()),
        text.size());

    YamlReader reader(root);
    bool parser_failed = false;
    for (;;) {
      if (yaml_parser_parse(&parser, &yaml.event()) == 0) {
        parser_failed = true;
        break;
      }
      const bool stream_end = yaml.event().type == YAML_STREAM_END_EVENT;
      const bool accepted = reader.Handle(yaml.event());
      yaml_event_delete(&yaml.event());
      if (!accepted || stream_end) break;
    }
    if (reader.failed()) {
      error = reader.error();
    } else if (parser_failed) {
      const char* problem = parser.problem != nullptr ? parser.problem : "out of memory";
      error = FormatText("YAML parser error: %1. At line: %2 col: %3", problem,
                         parser.problem_mark.line, parser.problem_mark.column);
    }
  }
  if (!error.empty()) {
    result.SetError(error);
    return result;
  }
  result = std::move(root);
  return result;
}

bool LooksLikeYaml(const char* text) {
  if (text == nullptr) return false;
  while (*text == ' ') ++text;
  return std::strncmp(text, "---", 3) == 0;
}

}  // namespace Kestrel
