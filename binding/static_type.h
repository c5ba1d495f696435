// Static type identity: a 32-bit hash per native C++ type, so that code holding
// only a native type can find its description in a `TypeRegistry` at run time.
//
// The hash is FNV-1a 32-bit (`Fnv1a32`, util/fnv1a.h) over the signature text
//   "unsigned int __cdecl StaticType::HashCode<" + written form of T + ">(void)"
// where the written form is the full type name in the host platform compiler's
// spelling ("int", "class std::basic_string<char,struct std::char_traits<char>,
// class std::allocator<char> >", "struct Kestrel::BindingGenericEvent", ...).
// Our compiler spells types differently, so the written form is built here by
// `StaticTypeSpelling<T>`: fundamental types, std::string, std::vector,
// std::map and std::unordered_map are spelled by this header; a user struct or
// enum declares its spelling once with `VYN_STATIC_TYPE` at global scope.
//
// Each identity is computed on first use and cached for the life of the process;
// the returned references never dangle.
//
//   VYN_STATIC_TYPE(Kestrel::MyRecord, "struct Kestrel::MyRecord")
//   const StaticTypeInfo& id = StaticType::HashCode<Kestrel::MyRecord>();   // "#1A2B3C4D"
//   const StaticTypeInfo& named = StaticType::Name<Kestrel::MyRecord>();    // same hash
#ifndef VYN_BINDING_STATIC_TYPE_H_
#define VYN_BINDING_STATIC_TYPE_H_

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "util/fnv1a.h"

namespace Kestrel {

class BindingProperty;

// The identity of one native type. Two records exist per type: the one made by
// `StaticType::HashCode` (display name "#%08X" of the hash) and the one made by
// `StaticType::Name` (display name = the readable signature text). Lookups use
// only `hash_code`, so both find the same registered type.
struct StaticTypeInfo {
  uint32_t hash_code = 0;
  std::string display_name;
};

// Joins a template name and its argument spellings the way the host compiler
// writes them: "name<a,b>", with a space before the closing '>' when the last
// argument itself ends in '>' ("class std::allocator<char> >").
std::string TemplateSpelling(std::string_view name, std::initializer_list<std::string> args);

// The written form of T. The primary template is empty: every type that needs an
// identity must have a spelling (see `VYN_STATIC_TYPE`); a specialisation has
// `kDeclared` and a static `Text()`.
template <class T>
struct StaticTypeSpelling {};

// True when T has a spelling.
template <class T>
concept HasStaticTypeSpelling = requires {
  { StaticTypeSpelling<T>::kDeclared } -> std::convertible_to<bool>;
  { StaticTypeSpelling<T>::Text() } -> std::convertible_to<std::string>;
};

#define VYN_DETAIL_FIXED_SPELLING(type, text)               \
  template <>                                               \
  struct StaticTypeSpelling<type> {                         \
    static constexpr bool kDeclared = true;                 \
    static std::string Text() { return std::string(text); } \
  }

VYN_DETAIL_FIXED_SPELLING(void, "void");
VYN_DETAIL_FIXED_SPELLING(bool, "bool");
VYN_DETAIL_FIXED_SPELLING(char, "char");
VYN_DETAIL_FIXED_SPELLING(signed char, "signed char");
VYN_DETAIL_FIXED_SPELLING(unsigned char, "unsigned char");
VYN_DETAIL_FIXED_SPELLING(short, "short");
VYN_DETAIL_FIXED_SPELLING(unsigned short, "unsigned short");
VYN_DETAIL_FIXED_SPELLING(int, "int");
VYN_DETAIL_FIXED_SPELLING(unsigned int, "unsigned int");
VYN_DETAIL_FIXED_SPELLING(long, "long");
VYN_DETAIL_FIXED_SPELLING(unsigned long, "unsigned long");
VYN_DETAIL_FIXED_SPELLING(long long, "__int64");
VYN_DETAIL_FIXED_SPELLING(unsigned long long, "unsigned __int64");
VYN_DETAIL_FIXED_SPELLING(float, "float");
VYN_DETAIL_FIXED_SPELLING(double, "double");
VYN_DETAIL_FIXED_SPELLING(std::string,
                          "class std::basic_string<char,struct std::char_traits<char>,"
                          "class std::allocator<char> >");
VYN_DETAIL_FIXED_SPELLING(BindingProperty, "class Kestrel::BindingProperty");

#undef VYN_DETAIL_FIXED_SPELLING

template <class T>
struct StaticTypeSpelling<const T> {
  static constexpr bool kDeclared = true;
  static std::string Text() { return "const " + StaticTypeSpelling<T>::Text(); }
};

template <class T>
struct StaticTypeSpelling<T*> {
  static constexpr bool kDeclared = true;
  static std::string Text() { return StaticTypeSpelling<T>::Text() + " *"; }
};

template <class T>
struct StaticTypeSpelling<std::allocator<T>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("class std::allocator", {StaticTypeSpelling<T>::Text()});
  }
};

template <class T>
struct StaticTypeSpelling<std::less<T>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("struct std::less", {StaticTypeSpelling<T>::Text()});
  }
};

template <class T>
struct StaticTypeSpelling<std::hash<T>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("struct std::hash", {StaticTypeSpelling<T>::Text()});
  }
};

template <class T>
struct StaticTypeSpelling<std::equal_to<T>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("struct std::equal_to", {StaticTypeSpelling<T>::Text()});
  }
};

// The host compiler writes the key of a map entry as "K const " (trailing space).
template <class K, class V>
struct StaticTypeSpelling<std::pair<const K, V>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("struct std::pair", {StaticTypeSpelling<K>::Text() + " const ",
                                                 StaticTypeSpelling<V>::Text()});
  }
};

template <class T, class A>
struct StaticTypeSpelling<std::vector<T, A>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("class std::vector",
                            {StaticTypeSpelling<T>::Text(), StaticTypeSpelling<A>::Text()});
  }
};

template <class K, class V, class C, class A>
struct StaticTypeSpelling<std::map<K, V, C, A>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("class std::map",
                            {StaticTypeSpelling<K>::Text(), StaticTypeSpelling<V>::Text(),
                             StaticTypeSpelling<C>::Text(), StaticTypeSpelling<A>::Text()});
  }
};

template <class K, class V, class H, class E, class A>
struct StaticTypeSpelling<std::unordered_map<K, V, H, E, A>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("class std::unordered_map",
                            {StaticTypeSpelling<K>::Text(), StaticTypeSpelling<V>::Text(),
                             StaticTypeSpelling<H>::Text(), StaticTypeSpelling<E>::Text(),
                             StaticTypeSpelling<A>::Text()});
  }
};

namespace StaticType {

// Returns the signature text whose hash is the identity of the type written `spelling`.
std::string HashSignature(std::string_view spelling);
// Returns the readable signature text used as display name by `Name`.
std::string NameSignature(std::string_view spelling);
// Returns the identity of the type written `spelling` with the "#%08X" display name.
StaticTypeInfo MakeHashCodeInfo(std::string_view spelling);
// Returns the identity of the type written `spelling` with the readable display name.
StaticTypeInfo MakeNameInfo(std::string_view spelling);

// Returns the cached identity of T whose display name is "#" and eight uppercase
// hexadecimal digits of the hash. Never fails; the reference lives until exit.
template <class T>
const StaticTypeInfo& HashCode() {
  static_assert(HasStaticTypeSpelling<T>,
                "No spelling for this type: declare it with VYN_STATIC_TYPE(Type, \"struct ...\")");
  static const StaticTypeInfo info = MakeHashCodeInfo(StaticTypeSpelling<T>::Text());
  return info;
}

// Returns the cached second identity of T, with the same hash as `HashCode<T>()`
// and the readable signature text as display name. Never fails.
template <class T>
const StaticTypeInfo& Name() {
  static_assert(HasStaticTypeSpelling<T>,
                "No spelling for this type: declare it with VYN_STATIC_TYPE(Type, \"struct ...\")");
  static const StaticTypeInfo info = MakeNameInfo(StaticTypeSpelling<T>::Text());
  return info;
}

}  // namespace StaticType
}  // namespace Kestrel

// Declares the written form of a user type; use at global namespace scope with the
// fully qualified type, e.g. VYN_STATIC_TYPE(Kestrel::Foo, "struct Kestrel::Foo").
#define VYN_STATIC_TYPE(type, text)                         \
  template <>                                               \
  struct Kestrel::StaticTypeSpelling<type> {                \
    static constexpr bool kDeclared = true;                 \
    static std::string Text() { return std::string(text); } \
  }

#endif  // VYN_BINDING_STATIC_TYPE_H_
