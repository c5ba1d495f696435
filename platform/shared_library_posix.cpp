#include "platform/shared_library.h"

#include <dlfcn.h>
#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace Kestrel::Platform {
namespace {

// Reads `size` bytes at `offset` of `file`; false when the file ends first.
bool ReadAt(std::ifstream& file, uint64_t offset, void* out, size_t size) {
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
  return static_cast<size_t>(file.gcount()) == size;
}

// Whether every loaded segment of the ELF file's program headers lies inside
// the file. The loader maps segments past the end of a file cut short without
// complaint, and the first touch of such a page kills the process (SIGBUS), so
// a half-written build is refused here. Files that are not ELF pass: the
// loader refuses them itself.
template <typename Header, typename ProgramHeader>
bool SegmentsInside(std::ifstream& file, uint64_t file_size) {
  Header header;
  if (!ReadAt(file, 0, &header, sizeof(header))) return false;
  if (header.e_phentsize != sizeof(ProgramHeader)) return true;
  for (uint32_t i = 0; i < header.e_phnum; ++i) {
    ProgramHeader segment;
    if (!ReadAt(file, header.e_phoff + uint64_t{i} * sizeof(segment), &segment, sizeof(segment))) {
      return false;
    }
    if (segment.p_type == PT_LOAD &&
        (segment.p_offset > file_size || segment.p_filesz > file_size - segment.p_offset)) {
      return false;
    }
  }
  return true;
}

bool CutShort(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  const uint64_t size = static_cast<uint64_t>(file.tellg());
  unsigned char ident[EI_NIDENT] = {};
  if (!ReadAt(file, 0, ident, sizeof(ident)) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) {
    return false;
  }
  if (ident[EI_CLASS] == ELFCLASS32) return !SegmentsInside<Elf32_Ehdr, Elf32_Phdr>(file, size);
  if (ident[EI_CLASS] == ELFCLASS64) return !SegmentsInside<Elf64_Ehdr, Elf64_Phdr>(file, size);
  return false;
}

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  // A path without "/" would make the loader search the library path; the
  // host always names a file, so make a bare name relative to the directory.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  if (CutShort(file)) {
    if (error != nullptr) *error = file + ": the file ends before its segments (cut short)";
    return nullptr;
  }
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* text = dlerror();
      *error = text != nullptr ? text : "the library could not be loaded";
    }
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() {
  dlclose(handle_);
}

void* SharedLibrary::FindSymbol(const char* symbol) const {
  if (symbol == nullptr) return nullptr;
  return dlsym(handle_, symbol);
}

}  // namespace Kestrel::Platform
