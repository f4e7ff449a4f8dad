// The steps of private folders and files that are the same on every system; the checks and
// the opening are in posix/ and win32/.
#include "platform/OwnFiles.h"

#include "platform/DurableFile.h"

namespace trawlex {

bool MakeOwnFolder(const std::string& folder, std::string& problem) {
  if (CheckOwnFolder(folder, true, problem) == TOwnCheck::Missing) {
    std::string error;
    if (!ForceDirectories(folder, error)) {
      problem = "The folder " + folder + " cannot be made (" + error + ")";
      return false;
    }
    return CheckOwnFolder(folder, true, problem) == TOwnCheck::Fine;
  }
  return problem.empty();
}

TOwnFile::~TOwnFile() { Close(); }

void TOwnFile::Close() {
  if (F) std::fclose(F);
  F = nullptr;
}

}  // namespace trawlex
