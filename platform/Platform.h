#pragma once
// The operating system behind small functions: directory listing, file reading and
// metadata, clock and time zone, temporary folder, paths, volumes, process arguments.
// One implementation per OS (posix/, win32/); nothing above this layer calls the OS.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/DateTime.h"

namespace trawlex {

#ifdef _WIN32
constexpr char PathDelim = '\\';
// Every byte that ends a folder's name in a path.
constexpr const char* PathDelims = "\\/";
#else
constexpr char PathDelim = '/';
constexpr const char* PathDelims = "/";
#endif

// ---- Directory listing -------------------------------------------------------------

enum class TEntryKind : uint8_t {
  File,       // a regular file, or a symbolic link to one
  Directory,  // a real directory (never a link to one, so a link loop cannot trap a walk)
  Other       // FIFOs, sockets, devices, dangling links, links to directories
};

struct TDirName {
  std::string Name;
  TEntryKind Kind;
  bool ViaLink = false;  // the entry is a symbolic link; Kind is what it leads to
};

// Names in `dir` in the order the OS returns them, without "." and "..". Hidden names
// are included; callers filter them with IsHiddenName. False when the directory cannot
// be opened or listed (missing, access refused). (TDirHandle's listing.)
bool ListDirectory(const std::string& dir, std::vector<TDirName>& out);

// An open folder. Folders below it are opened relative to it, so a walk of any depth
// never meets the limit on the length of a path.
class TDirHandle {
 public:
  TDirHandle() = default;
  ~TDirHandle();
  TDirHandle(TDirHandle&& other) noexcept;
  TDirHandle& operator=(TDirHandle&& other) noexcept;
  TDirHandle(const TDirHandle&) = delete;
  TDirHandle& operator=(const TDirHandle&) = delete;

  // Each returns false with `error` set to the system's description of the cause.
  bool Open(const std::string& path, std::string& error);
  // The folder `name` inside `parent`; a symbolic link is refused, never followed.
  bool OpenChild(const TDirHandle& parent, const std::string& name, std::string& error);
  // The folder's entries, as ListDirectory gives them.
  bool List(std::vector<TDirName>& out, std::string& error) const;
  bool IsOpen() const { return Fd >= 0; }
  // Whether both name the same folder (device and inode; kept after Close).
  bool SameFolder(const TDirHandle& other) const { return Device == other.Device && Inode == other.Inode; }
  uint64_t DeviceId() const { return Device; }
  // Whether a read of a file in this folder that gives fewer bytes than asked for has
  // reached the file's end: true on the disk file systems known to work so, false where a
  // file's content is made as it is read (the system's pseudo files) or it is not known.
  bool ShortReadsEndFiles() const;
  void Close();

 private:
  // Takes `fd` as this folder's handle once the system has checked it is one.
  bool Adopt(int fd, std::string& error);
  void Take(int fd, uint64_t device, uint64_t inode);
  int Fd = -1;
  uint64_t Device = 0, Inode = 0;
};

// Hidden entries are those whose name begins with a full stop.
bool IsHiddenName(const std::string& name);

// ---- File metadata -------------------------------------------------------------------

struct TFileInfo {
  int64_t Size = 0;
  int64_t ModifiedNs = 0;   // exact modification time, nanoseconds since the epoch
  // The inode's change time, nanoseconds since the epoch: any write, any change of the
  // modification time or of the metadata moves it, and no user can set it back.
  int64_t ChangeNs = 0;
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool IsRegular = false;

  // The modification time in local time, rounded down to 2 seconds as a directory listing
  // gives it. (Worked out on request: the time-zone conversion is not free.)
  TDateTime LastWrite() const;
};

// Follows symbolic links. False (and errno set) when the path cannot be examined.
bool GetFileInfo(const std::string& path, TFileInfo& info);

// The system's description of an error number.
std::string SystemErrorText(int errorNumber);

// ---- Reading a file whole ------------------------------------------------------------

// A regular file opened for reading only. Opening never blocks: a FIFO or device that
// took the file's place is refused instead of hanging the reader.
// The folder a search opened its last file from, kept open (without access to its content)
// so that the next file of the same folder is opened relative to it: the folders on the way
// are looked up once per folder instead of once per file. One per thread.
class TFolderCache {
 public:
  TFolderCache() = default;
  ~TFolderCache();
  TFolderCache(const TFolderCache&) = delete;
  TFolderCache& operator=(const TFolderCache&) = delete;

 private:
  friend class TReadOnlyFile;
  void Close();
  std::string Path;  // the folder's path as the file's path gives it
  int Fd = -1;
};

class TReadOnlyFile {
 public:
  TReadOnlyFile() = default;
  ~TReadOnlyFile();
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // On failure returns false with `error` set to the system's description of the cause.
  bool Open(const std::string& path, std::string& error);
  // Opens the file without examining it yet (one call fewer per file for a search that
  // mostly reads and drops files): Size() and Info() stay empty until Examine. Where the
  // system examines every open anyway, this is Open.
  // `folders`, when given, keeps the file's folder open for the next file.
  bool OpenUnexamined(const std::string& path, std::string& error, TFolderCache* folders = nullptr);
  // Examines the open file as Open does: false with `error` set when it cannot be examined
  // or is not a regular file (the file stays open).
  bool Examine(std::string& error);
  bool Examined() const { return FExamined; }
  int64_t Size() const { return FSize; }
  const TFileInfo& Info() const { return FInfo; }
  // Reads up to `count` bytes from the current position, retrying short reads until
  // `count` bytes or the end of the file. Returns the number read, or -1 (error set).
  int64_t ReadFull(void* buffer, size_t count, std::string& error);
  // One read of up to `count` bytes (retried only when interrupted before any byte came):
  // the number read, 0 at the end, or -1 (error set).
  int64_t ReadSome(void* buffer, size_t count, std::string& error);
  // The same at a given offset, without moving the file position; several threads may
  // read different parts of one file at once.
  int64_t ReadFullAt(void* buffer, size_t count, int64_t offset, std::string& error);
  // Asks the system to start reading these bytes into its cache now, without waiting for
  // them, so that a later read finds them there (nothing where the system has no such call).
  void AdviseWillRead(int64_t offset, int64_t length);
  void Close();

 private:
  int Fd = -1;
  int64_t FSize = 0;
  TFileInfo FInfo;
  bool FExamined = false;
};

// ---- Reading ahead ---------------------------------------------------------------------
// Opens the regular file at `path` (as OpenUnexamined does), asks the system to start
// reading its first `length` bytes into the cache, and closes it again: while one thread
// waits on a read, the storage serves many. The file's size, or -1 when it could not be
// opened or examined, is no regular file, or the system has no such call (a reader of the
// file meets the reason itself).
int64_t AdviseWillRead(const std::string& path, int64_t length, TFolderCache* folders = nullptr);
// The bytes this process (or only the calling thread) has had read from storage so far;
// reads served from the cache do not count. -1 where the system does not tell.
int64_t StorageBytesRead(bool thisThread = false);

// The clock that stamps files' change times, in nanoseconds since the epoch, read cheaply:
// a change made after this call gets a change time no earlier than what it returns.
int64_t FileClockNs();

// ---- Clock, time zone ----------------------------------------------------------------

TDateTime NowLocal();
// A Unix time as a local date-time; `twoSeconds` rounds down to an even second.
TDateTime UnixTimeToLocal(int64_t unixSeconds, bool twoSeconds);
// The standard (non-daylight) time-zone bias in minutes, positive west of Greenwich.
int32_t TimeZoneBiasMinutes();

// ---- Folders and paths ---------------------------------------------------------------

// $TMPDIR when set and not empty, else /tmp; always with a trailing delimiter.
std::string TempDirectory();
// The folder part of `path`: "." when it has none, the root with its delimiter ("/", "C:\\")
// when the path names an entry of a root.
std::string FolderOf(const std::string& path);
bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);
// The absolute path the system means by `path`: symbolic links followed, then "." and
// ".." taken as the system takes them (after a link, ".." leads out of its target). False
// with `error` set when the path cannot be resolved.
bool ResolvePath(const std::string& path, std::string& result, std::string& error);
// The same, or `path` unchanged when it cannot be resolved (whoever uses it then meets the
// reason itself).
std::string ResolvedPath(const std::string& path);
// "." and ".." segments resolved on the text alone. False when the path climbs above its
// root or the result would exceed the platform's path limit.
bool CanonicalizePath(const std::string& path, std::string& result);
// File-system name (at most 20 characters) and volume label (at most 80) of the volume
// holding `root`. False when the OS cannot tell.
bool QueryVolume(const std::string& root, std::string& fileSystem, std::string& volumeName);

// ---- Process ---------------------------------------------------------------------------

// What the program was started with: the name it was called by (its file name without the
// directory) and the arguments after it, in order, in UTF-8.
struct TProcessArguments {
  std::string ProgramName;
  std::vector<std::string> Params;
};
// main()'s argument list read as TProcessArguments. On Windows, the process's own list is
// read from its wide command line instead, which holds every name.
TProcessArguments ReadProcessArguments(int argc, const char* const* argv);
// The running program's own file, with its full path; empty where the system cannot tell.
std::string RunningProgramPath();
// Runs the program `path` in place of this one, given `args` (args[0] is the name it is
// called by). It returns only when the program cannot be started, with the reason. Where the
// system cannot replace a process (Windows), the program is started and waited for, and this
// process ends with its exit code.
std::string ReplaceProcess(const std::string& path, const std::vector<std::string>& args);
// The four-part version resource of a program file, or an empty one where the file has
// none (on this OS no file carries one). The program's own version is ProgramVersion.
std::vector<int32_t> FileVersion(const std::string& fileName);

// Columns of the terminal on `fd`, or 0 when it is not a terminal.
int TerminalColumns(int fd);

// ---- Output ----------------------------------------------------------------------------

// A stretch of bytes that WriteGathered writes.
struct TByteSpan {
  const char* Data;
  size_t Size;
};
// Lets a pipe behind `file` take `bytes` in one write where the system allows it, so that
// its reader is woken once per write; other files, and a refusal, leave things as they are.
void WidenPipe(std::FILE* file, size_t bytes);
// Moves `file` to byte `offset` from its start, also past 2 GiB (where a long has 32 bits).
bool SeekFile(std::FILE* file, int64_t offset);
// Writes `spans` in order after what `file` holds buffered, with as few system calls as
// the system allows. False once a write failed.
bool WriteGathered(std::FILE* file, const std::vector<TByteSpan>& spans);

}  // namespace trawlex
