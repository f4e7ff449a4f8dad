// The parts of a folder handle that do not depend on the operating system; posix/ and win32/
// open, check and close it.
#include <utility>

#include "platform/Platform.h"

namespace trawlex {

TDirHandle::~TDirHandle() { Close(); }

TDirHandle::TDirHandle(TDirHandle&& other) noexcept
    : Fd(std::exchange(other.Fd, -1)), Device(other.Device), Inode(other.Inode) {}

TDirHandle& TDirHandle::operator=(TDirHandle&& other) noexcept {
  if (this != &other) {
    Close();
    Fd = std::exchange(other.Fd, -1);
    Device = other.Device;
    Inode = other.Inode;
  }
  return *this;
}

bool ListDirectory(const std::string& dir, std::vector<TDirName>& out) {
  TDirHandle handle;
  std::string error;
  return handle.Open(dir, error) && handle.List(out, error);
}

void TDirHandle::Take(int fd, uint64_t device, uint64_t inode) {
  Close();
  Fd = fd;
  Device = device;
  Inode = inode;
}

}  // namespace trawlex
