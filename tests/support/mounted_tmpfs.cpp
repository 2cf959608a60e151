#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "support/temp_folder.h"

MountedTmpfs::MountedTmpfs(unsigned long flags, const std::string& options) {
  if (::mount("tmpfs", folder_.path().c_str(), "tmpfs", flags, options.c_str()) != 0) error_ = std::strerror(errno);
}

MountedTmpfs::~MountedTmpfs() {
  if (mounted()) ::umount(folder_.path().c_str());
}
