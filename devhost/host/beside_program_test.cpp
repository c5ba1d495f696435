#include "devhost/host/beside_program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/process_info.h"

namespace Kestrel::DevHost {
namespace {

TEST(BesideProgramTest, WhatSitsBesideTheProgramWinsOverTheBuilt) {
  const std::filesystem::path folder =
      std::filesystem::path(Platform::ExecutablePath()).parent_path();
  const std::filesystem::path plugin = folder / "beside_probe.bin";
  const std::filesystem::path page = folder / "beside_probe_page";
  EXPECT_EQ(BesideProgramOr("beside_probe.bin", "/built.so"), "/built.so");
  EXPECT_EQ(BesideProgramOr("beside_probe_page", "/built/page"), "/built/page");
  std::ofstream(plugin) << "x";
  std::filesystem::create_directory(page);
  EXPECT_EQ(BesideProgramOr("beside_probe.bin", "/built.so"), plugin.string());
  EXPECT_EQ(BesideProgramOr("beside_probe_page", "/built/page"), page.string());
  std::filesystem::remove(plugin);
  std::filesystem::remove(page);
}

}  // namespace
}  // namespace Kestrel::DevHost
