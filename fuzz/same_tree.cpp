#include "fuzz/same_tree.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/json_writer.h"
#include "fuzz/fuzz_support.h"

namespace Kestrel::Fuzz {

namespace {

using Members = std::vector<std::pair<std::string_view, const BindingProperty*>>;

Members MembersOf(const BindingProperty& structure) {
  Members members;
  structure.ForEachField([&](std::string_view name, const BindingProperty& value) {
    members.emplace_back(name, &value);
  });
  return members;
}

// The member list of one structure is wrong on its own: out of order, or a
// name that its lookup does not find.
std::string CheckMembers(const BindingProperty& structure, const Members& members,
                         const char* tree) {
  for (std::size_t i = 0; i < members.size(); ++i) {
    const auto& [name, value] = members[i];
    if (i > 0 && !(members[i - 1].first < name)) {
      return std::string(tree) + " members out of name order at \"" + std::string(name) + "\"";
    }
    if (structure.FindField(name) != value) {
      return std::string(tree) + " lookup of \"" + std::string(name) + "\" misses its member";
    }
  }
  return "";
}

std::string Compare(const BindingProperty& gathered, const BindingProperty& plain,
                    const std::string& path) {
  const auto differ = [&](const std::string& reason) {
    return (path.empty() ? std::string("<root>") : path) + ": " + reason;
  };
  if (gathered.kind() != plain.kind()) {
    return differ(std::string("kind ") + PropertyKindName(gathered.kind()) + " against " +
                  PropertyKindName(plain.kind()));
  }
  static const std::vector<uint8_t> kNoBytes;
  switch (gathered.kind()) {
    case PropertyKind::kEmpty:
      return "";
    case PropertyKind::kBool:
      return gathered.GetBool() == plain.GetBool() ? "" : differ("bool");
    case PropertyKind::kSigned:
      return gathered.GetSigned() == plain.GetSigned() ? "" : differ("signed");
    case PropertyKind::kUnsigned:
      return gathered.GetUnsigned() == plain.GetUnsigned() ? "" : differ("unsigned");
    case PropertyKind::kFloat:
      return std::bit_cast<uint64_t>(gathered.GetDouble()) ==
                     std::bit_cast<uint64_t>(plain.GetDouble())
                 ? ""
                 : differ("double");
    case PropertyKind::kString:
      return gathered.GetString() == plain.GetString() ? "" : differ("string");
    case PropertyKind::kBlob:
      return gathered.GetBlob(kNoBytes) == plain.GetBlob(kNoBytes) ? "" : differ("blob");
    case PropertyKind::kEnum:
      return gathered.GetEnum() == plain.GetEnum() ? "" : differ("enum");
    case PropertyKind::kCollection: {
      if (gathered.Size() != plain.Size()) return differ("element count");
      for (std::size_t i = 0; i < gathered.Size(); ++i) {
        std::string difference =
            Compare(gathered.GetAt(i), plain.GetAt(i), path + "[" + std::to_string(i) + "]");
        if (!difference.empty()) return difference;
      }
      return "";
    }
    case PropertyKind::kStructure: {
      const Members ours = MembersOf(gathered);
      const Members theirs = MembersOf(plain);
      if (ours.size() != theirs.size() || ours.size() != gathered.Size()) {
        return differ("member count " + std::to_string(ours.size()) + " against " +
                      std::to_string(theirs.size()));
      }
      std::string difference = CheckMembers(gathered, ours, "gathered");
      if (difference.empty()) difference = CheckMembers(plain, theirs, "plain");
      if (!difference.empty()) return differ(difference);
      for (std::size_t i = 0; i < ours.size(); ++i) {
        if (ours[i].first != theirs[i].first) {
          return differ("member " + std::to_string(i) + " named \"" + std::string(ours[i].first) +
                        "\" against \"" + std::string(theirs[i].first) + "\"");
        }
        std::string difference =
            Compare(*ours[i].second, *theirs[i].second, path + "." + std::string(ours[i].first));
        if (!difference.empty()) return difference;
      }
      return "";
    }
  }
  return differ("unknown kind");
}

}  // namespace

std::string CompareTrees(const BindingProperty& gathered, const BindingProperty& plain) {
  return Compare(gathered, plain, "");
}

void CheckSameResult(const PropertyResult& gathered, const PropertyResult& plain,
                     const char* what) {
  if (gathered.IsValid() != plain.IsValid() || gathered.GetError() != plain.GetError()) {
    std::fprintf(stderr, "%s: gathered \"%s\", plain \"%s\"\n", what,
                 std::string(gathered.GetError()).c_str(), std::string(plain.GetError()).c_str());
    Check(false, "the gathered and the plain reading fail alike");
  }
  if (!gathered.IsValid()) return;
  CheckNoDifference(CompareTrees(gathered, plain), what);
  Check(WriteJson(gathered) == WriteJson(plain), "the gathered and the plain tree write alike");
}

}  // namespace Kestrel::Fuzz
