// Where the stand-in host finds what an unpacked release keeps beside its
// program (the plugin library used without --plugin, the page's folder),
// falling back to what the build that made the program has. Used by the
// program and by the server's page alike.
//
//   std::string folder = BesideProgramOr("page", "/src/devhost/program/page");
#ifndef VYN_DEVHOST_HOST_BESIDE_PROGRAM_H_
#define VYN_DEVHOST_HOST_BESIDE_PROGRAM_H_

#include <string>

namespace Kestrel::DevHost {

// `name` in the running program's folder when it exists there, else
// `built_path`. Never fails; safe from any thread.
std::string BesideProgramOr(const std::string& name, const std::string& built_path);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_BESIDE_PROGRAM_H_
