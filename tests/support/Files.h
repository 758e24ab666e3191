#pragma once
// File helpers: a fresh directory per test below the process's private HOME, whole-file I/O.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace wd::test {

// An empty directory of the running test ("HOME/Suite.Test"), made anew on each call.
inline std::filesystem::path testDirectory() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir = std::filesystem::path(std::getenv("HOME")) /
                   (std::string(info->test_suite_name()) + "." + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::optional<std::string> readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the whole file, making its folder first; false when it could not.
inline bool writeFile(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  return static_cast<bool>(std::ofstream(file, std::ios::binary) << bytes << std::flush);
}

}  // namespace wd::test
