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

// A new tmpfs mounted with the given flags and options on a fresh folder,
// unmounted when the owner goes. Mounting needs root (or a namespace that
// allows it): error() says why it failed, for the test to skip.
class MountedTmpfs {
 public:
  MountedTmpfs(unsigned long flags, const std::string& options);
  ~MountedTmpfs();
  MountedTmpfs(const MountedTmpfs&) = delete;
  MountedTmpfs& operator=(const MountedTmpfs&) = delete;

  bool mounted() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const std::filesystem::path& path() const { return folder_.path(); }
  std::filesystem::path operator/(const std::string& name) const { return folder_ / name; }

 private:
  TempFolder folder_;
  std::string error_;
};

// The names of the files in a folder.
std::set<std::string> FileNames(const std::filesystem::path& folder);

std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
