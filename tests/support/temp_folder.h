#pragma once

#include <filesystem>
#include <set>
#include <string>

// A fresh, private folder under the system's temporary directory, removed
// with everything in it when the owner goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The names of the files in a folder.
std::set<std::string> FileNames(const std::filesystem::path& folder);

std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
