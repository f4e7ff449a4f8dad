#pragma once
// What the POSIX parts of the platform layer share about a file's status. Internal to
// platform/posix.
#include <sys/stat.h>

#include "platform/Platform.h"

namespace trawlex {

// Size, times, identity and kind of a file from its status.
void FillInfo(const struct stat& st, TFileInfo& info);

}  // namespace trawlex
