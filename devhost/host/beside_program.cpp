#include "devhost/host/beside_program.h"

#include <filesystem>
#include <system_error>

#include "platform/process_info.h"

namespace Kestrel::DevHost {

std::string BesideProgramOr(const std::string& name, const std::string& built_path) {
  const std::string program = Platform::ExecutablePath();
  if (program.empty()) return built_path;
  const std::filesystem::path beside = std::filesystem::path(program).parent_path() / name;
  std::error_code error;
  return std::filesystem::exists(beside, error) ? beside.string() : built_path;
}

}  // namespace Kestrel::DevHost
