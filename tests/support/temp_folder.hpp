// A fresh temporary folder per test, removed with everything in it.
#pragma once

#include <filesystem>
#include <string>

namespace velkrin::testing {

class temp_folder {
 public:
  temp_folder();
  ~temp_folder();
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Whole-file helpers for test data.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

}  // namespace velkrin::testing
