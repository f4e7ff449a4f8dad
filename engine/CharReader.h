#pragma once
// Random access to the bytes of one file, read whole into memory in one step, or a moving
// window over a large file read a block at a time. Bytes are bytes: no character set, no
// byte-order mark, a zero byte is ordinary.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace trawlex {

// Where WriteRange copies bytes to. Write throws ETrawlexError when the bytes could not
// all be written.
class IByteSink {
 public:
  virtual ~IByteSink() = default;
  virtual void Write(const unsigned char* data, size_t count) = 0;
};

class TCharReader {
 public:
  // Zero bytes kept after the data, so a scan may look a few bytes past the end.
  static constexpr size_t Padding = 64;
  // Files from this size on do not fit the 32-bit sizes and offsets of the results.
  static constexpr int64_t MaxFileSize = int64_t{1} << 31;
  // The change time LoadedInfo gives a file that changed while it was read.
  static constexpr int64_t ChangedWhileRead = INT64_MIN;
  // Whether LoadedInfo would have to examine the file first.
  bool InfoPending() const { return FInfoPending; }

  TCharReader() = default;
  virtual ~TCharReader() = default;
  TCharReader(const TCharReader&) = delete;
  TCharReader& operator=(const TCharReader&) = delete;

  std::string FileName;

  int32_t Size() const { return FSize; }
  const unsigned char* Data() const { return FData.get(); }

  // Reads the file whole (a file that reports no size, as the system's pseudo files do, is
  // read to its end). Fails with "Cannot open file "%s". %s" when it cannot be
  // opened (or is not a regular file); the previous content then stays.
  void Load(const std::string& fileName);
  // Like Load, but a file larger than `maxSize` is left unread (false; content unchanged).
  bool LoadIfNotLarger(const std::string& fileName, int64_t maxSize);
  // The same for a search, which drops most files unexamined: the file is read at once and
  // examined only when LoadedInfo is asked for (held open until then, or until EndLoad).
  // A file larger than `maxSize` leaves the reader empty (false). `shortReadsEnd`: a read
  // that gives fewer bytes than asked for has reached the end (else reads go on until one
  // gives nothing).
  bool LoadForSearch(const std::string& fileName, int64_t maxSize, bool shortReadsEnd = false);
  // What the system said of the file at the last successful load (size, times, identity).
  // After LoadForSearch, the file is examined now; when its change time is so recent that
  // the bytes read might be older than it, they are read again and compared, and a file
  // that changed since it was read gets a change time no file has (so that a replace
  // refuses it). Fails as Load does when the file can no longer be examined.
  const TFileInfo& LoadedInfo();
  // Closes the file of LoadForSearch; LoadedInfo then gives what is known (the size).
  void EndLoad();
  // Uses the given bytes as the content, as if a file held them. Out of memory, it fails
  // with "Out of memory" and leaves the reader empty.
  void LoadFromBytes(std::string_view bytes, const std::string& fileName = {});

  bool IsValidPos(int64_t pos) const { return pos >= 0 && pos < FSize; }
  virtual unsigned char GetChar(int32_t pos) const { return FData[static_cast<size_t>(pos)]; }
  unsigned char GetCharSafe(int64_t pos) const { return IsValidPos(pos) ? FData[static_cast<size_t>(pos)] : 0; }
  // A view of `length` bytes at `start`; both ends must be valid positions.
  std::string_view TempPtr(int64_t start, int64_t length) const;
  // The bytes from `start` up to the next CR or LF or the end, without the break.
  std::string ReadLine(int64_t start) const;
  void WriteRange(int64_t start, int64_t length, IByteSink& out) const;

  // Reading a large file a block at a time, so that it is never held whole: the reader
  // keeps a window of the file, which each NextBlock moves on. Positions stay the file's.
  // Opens the file as Load does (with the same errors) and reads nothing yet; the file's
  // size, times and identity are those of the open.
  void OpenBlocks(const std::string& fileName);
  // Drops the bytes before `keepFrom` (at most the window's end) and appends up to `block`
  // bytes more, up to the size the file had when it was opened; false when the window
  // already reached it. A file that shrank while read gives zero bytes where nothing
  // arrived, as Load does. Fails with "Cannot read file "%s". %s" or "Out of memory".
  bool NextBlock(int64_t keepFrom, size_t block);
  // The first position of the window and the one after its last byte; Padding zero bytes
  // follow the window.
  int64_t WindowStart() const { return FWindowStart; }
  int64_t WindowEnd() const { return FWindowStart + FWindowSize; }
  // The window's bytes at their file positions: WindowBase()[p] is the byte at p, for p
  // from WindowStart() to WindowEnd() + Padding - 1.
  const unsigned char* WindowBase() const { return FData.get() - FWindowStart; }
  // The size the file had when it was opened for blocks.
  int64_t BlockFileSize() const { return FBlockFile.Size(); }
  void CloseBlocks() { FBlockFile.Close(); }

 private:
  unsigned char* Reserve(size_t size);
  // Makes room for `size` bytes, with the `keep` bytes at `from` (within the content) moved
  // to its start.
  unsigned char* Grow(size_t size, const unsigned char* from, size_t keep);
  // Reads `file` from where it stands to its end into the content (FSize 0 on a failure);
  // false, with the content left empty, when it is larger than `maxSize`. Fails with "Cannot
  // open file", "Cannot read file", the 2 GiB message or "Out of memory".
  bool ReadToEnd(TReadOnlyFile& file, const std::string& fileName, int64_t maxSize, bool shortReadsEnd);
  // Whether the file open for LoadForSearch still holds exactly the bytes read from it.
  bool StillHoldsLoadedBytes();

  std::unique_ptr<unsigned char[]> FData;
  TFileInfo FInfo;
  size_t FCapacity = 0;
  int32_t FSize = 0;
  TReadOnlyFile FBlockFile;
  TReadOnlyFile FSearchFile;  // the file of LoadForSearch, until it is examined
  TFolderCache FSearchFolder;
  bool FInfoPending = false;
  int64_t FOpenedAtNs = 0;
  int64_t FWindowStart = 0;
  size_t FWindowSize = 0;
  int64_t FBlockRead = 0;  // bytes of the file read into windows so far
};

}  // namespace trawlex
