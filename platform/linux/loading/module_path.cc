#include "platform/linux/loading/module_path.h"

#include <filesystem>

#include "halvernsignet_build_config.h"

namespace platform::linux_platform {

std::string ModulePath(const std::string& fileName) {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return fileName;
  const std::filesystem::path beside = program.parent_path() / fileName;
  if (std::filesystem::exists(beside, error)) return beside.string();
  return (program.parent_path() / build_config::kModuleDirFromProgram / fileName).lexically_normal().string();
}

}  // namespace platform::linux_platform
