#include "engine/CharReader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/Errors.h"
#include "engine/ScanKernels.h"
#include "platform/Platform.h"

namespace trawlex {

unsigned char* TCharReader::Reserve(size_t size) {
  const size_t need = size + Padding;
  constexpr size_t Large = size_t{64} << 20;
  const bool grow = need > FCapacity;
  const bool shrink = FCapacity > Large && need < FCapacity / 4;  // give back after a very large file
  if (grow || shrink) {
    // Grow geometrically: a search meets ever larger files, and every fresh buffer costs
    // page faults on its first use.
    size_t cap = grow ? std::max(need, FCapacity * 2) : std::max(need, Large);
    if (cap > Large && need <= Large) cap = Large;
    FData.reset();
    FCapacity = 0;
    FData.reset(new unsigned char[cap]);
    FCapacity = cap;
  }
  return FData.get();
}

void TCharReader::Load(const std::string& fileName) { LoadIfNotLarger(fileName, MaxFileSize); }

bool TCharReader::LoadIfNotLarger(const std::string& fileName, int64_t maxSize) {
  EndLoad();
  FileName = fileName;
  TReadOnlyFile file;
  std::string error;
  if (!file.Open(fileName, error)) throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", fileName, error));
  if (file.Size() >= MaxFileSize)
    throw ETrawlexError("The file is 2 GiB or larger, which is more than a search can read");
  if (file.Size() > maxSize) return false;
  if (file.Size() == 0) {
    // A file that reports no size may still have content (the system's pseudo files).
    ReadToEnd(file, fileName, MaxFileSize, false);
    FInfo = file.Info();
    return true;
  }
  const auto size = static_cast<size_t>(file.Size());
  unsigned char* data;
  try {
    data = Reserve(size);
  } catch (const std::bad_alloc&) {
    FSize = 0;
    throw EOutOfMemory();
  }
  const int64_t got = file.ReadFull(data, size, error);
  if (got < 0) {
    FSize = 0;
    throw ETrawlexError(Fmt("Cannot read file \"%s\". %s", fileName, error));
  }
  // A file that shrank while being read keeps zero bytes where nothing arrived.
  std::memset(data + got, 0, size - static_cast<size_t>(got) + Padding);
  FSize = static_cast<int32_t>(size);
  FInfo = file.Info();
  return true;
}

unsigned char* TCharReader::Grow(size_t size, const unsigned char* from, size_t keep) {
  const size_t need = size + Padding;
  if (need > FCapacity) {
    // Geometrically, so that a long line or a growing file costs few copies.
    const size_t cap = std::max(need, FCapacity * 2);
    std::unique_ptr<unsigned char[]> grown(new unsigned char[cap]);
    if (keep) std::memcpy(grown.get(), from, keep);
    FData = std::move(grown);
    FCapacity = cap;
  } else if (keep && from != FData.get()) {
    std::memmove(FData.get(), from, keep);
  }
  return FData.get();
}

bool TCharReader::LoadForSearch(const std::string& fileName, int64_t maxSize, bool shortReadsEnd) {
  EndLoad();
  FileName = fileName;
  FSize = 0;
  FInfo = TFileInfo{};
  std::string error;
  FOpenedAtNs = FileClockNs();
  if (!FSearchFile.OpenUnexamined(fileName, error, &FSearchFolder))
    throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", fileName, error));
  if (FSearchFile.Examined()) {
    // The system examined the file on opening: nothing to save.
    FSearchFile.Close();
    if (!LoadIfNotLarger(fileName, maxSize)) {
      FSize = 0;
      return false;
    }
    return true;
  }
  struct TCloseOnFailure {
    TReadOnlyFile& File;
    bool Done = false;
    ~TCloseOnFailure() {
      if (!Done) File.Close();
    }
  } close{FSearchFile};
  if (!ReadToEnd(FSearchFile, fileName, maxSize, shortReadsEnd)) return false;
  FInfo.Size = FSize;
  FInfoPending = true;
  close.Done = true;
  return true;
}

bool TCharReader::ReadToEnd(TReadOnlyFile& file, const std::string& fileName, int64_t maxSize, bool shortReadsEnd) {
  FSize = 0;
  std::string error;
  // Read until the end into what the buffer holds; a file not examined yet is examined
  // only once its bytes outgrow the buffer (to learn how much more there is) or when none
  // come at all (an empty file, or no regular file).
  size_t got = 0;
  try {
    Reserve(std::max<size_t>(FCapacity > Padding ? FCapacity - Padding : 0, size_t{64} << 10));
    for (;;) {
      const size_t room = FCapacity - Padding - got;
      const int64_t n = shortReadsEnd ? file.ReadSome(FData.get() + got, room, error)
                                      : file.ReadFull(FData.get() + got, room, error);
      if (n < 0) {
        std::string why;
        if (!file.Examined() && !file.Examine(why)) throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", fileName, why));
        throw ETrawlexError(Fmt("Cannot read file \"%s\". %s", fileName, error));
      }
      got += static_cast<size_t>(n);
      if (static_cast<size_t>(n) < room) break;  // the end of the file
      if (!file.Examined() && !file.Examine(error))
        throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", fileName, error));
      const int64_t size = std::max<int64_t>(file.Size(), static_cast<int64_t>(got));
      if (size >= MaxFileSize || static_cast<int64_t>(got) >= MaxFileSize)
        throw ETrawlexError("The file is 2 GiB or larger, which is more than a search can read");
      if (size > maxSize) return false;
      // Room for what the file says is left, and for a file that grows while it is read.
      Grow(std::max<size_t>(static_cast<size_t>(size) + 1, got * 2), FData.get(), got);
    }
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  if (got == 0 && !file.Examined() && !file.Examine(error))
    throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", fileName, error));
  std::memset(FData.get() + got, 0, Padding);
  FSize = static_cast<int32_t>(got);
  return true;
}

bool TCharReader::StillHoldsLoadedBytes() {
  std::unique_ptr<unsigned char[]> again(new unsigned char[64 << 10]);
  std::string error;
  int64_t at = 0;
  for (;;) {
    const int64_t n = FSearchFile.ReadFullAt(again.get(), 64 << 10, at, error);
    if (n < 0) return false;
    if (n == 0) return at == FSize;
    if (at + n > FSize || std::memcmp(again.get(), FData.get() + at, static_cast<size_t>(n)) != 0) return false;
    at += n;
  }
}

const TFileInfo& TCharReader::LoadedInfo() {
  if (!FInfoPending) return FInfo;
  FInfoPending = false;
  struct TClose {
    TReadOnlyFile& File;
    ~TClose() { File.Close(); }
  } close{FSearchFile};
  std::string error;
  if (!FSearchFile.Examined() && !FSearchFile.Examine(error))
    throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", FileName, error));
  TFileInfo info = FSearchFile.Info();
  // Change times come from a clock that only moves on: a file last changed well before it
  // was opened cannot have changed while it was read. One changed about then is read
  // again; if its bytes and change time hold, they are the bytes of that change time.
  constexpr int64_t Margin = 1000000000;  // a second: ample for the clock's granularity
  if (info.ChangeNs >= FOpenedAtNs - Margin) {
    const bool same = StillHoldsLoadedBytes() && FSearchFile.Examine(error) &&
                      FSearchFile.Info().ChangeNs == info.ChangeNs && FSearchFile.Info().Size == FSize;
    if (!same) info.ChangeNs = ChangedWhileRead;
  }
  info.Size = FSize;
  FInfo = info;
  return FInfo;
}

void TCharReader::EndLoad() {
  FSearchFile.Close();
  FInfoPending = false;
}

void TCharReader::LoadFromBytes(std::string_view bytes, const std::string& fileName) {
  EndLoad();
  FileName = fileName;
  if (static_cast<int64_t>(bytes.size()) >= MaxFileSize)
    throw ETrawlexError("The file is 2 GiB or larger, which is more than a search can read");
  unsigned char* data;
  try {
    data = Reserve(bytes.size());
  } catch (const std::bad_alloc&) {
    // The buffer is gone: the reader is left empty, never with a size and no bytes.
    FSize = 0;
    FInfo = TFileInfo{};
    throw EOutOfMemory();
  }
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  std::memset(data + bytes.size(), 0, Padding);
  FSize = static_cast<int32_t>(bytes.size());
  FInfo = TFileInfo{};
  FInfo.Size = FSize;
}

void TCharReader::OpenBlocks(const std::string& fileName) {
  EndLoad();
  FileName = fileName;
  FSize = 0;  // the whole-file view is empty while a window is in use
  FWindowStart = 0;
  FWindowSize = 0;
  std::string error;
  if (!FBlockFile.Open(fileName, error)) throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", fileName, error));
  if (FBlockFile.Size() >= MaxFileSize) {
    FBlockFile.Close();
    throw ETrawlexError("The file is 2 GiB or larger, which is more than a search can read");
  }
  FInfo = FBlockFile.Info();
}

bool TCharReader::NextBlock(int64_t keepFrom, size_t block) {
  const int64_t end = WindowEnd();
  const int64_t size = FBlockFile.Size();
  if (end >= size) return false;
  keepFrom = std::clamp(keepFrom, FWindowStart, end);
  const auto keep = static_cast<size_t>(end - keepFrom);
  const size_t add = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block), size - end));
  try {
    Grow(keep + add, FData.get() + (keepFrom - FWindowStart), keep);
  } catch (const std::bad_alloc&) {
    FWindowSize = 0;
    throw EOutOfMemory();
  }
  FWindowStart = keepFrom;
  unsigned char* data = FData.get();
  std::string error;
  const int64_t got = FBlockFile.ReadFull(data + keep, add, error);
  if (got < 0) {
    FWindowSize = 0;
    throw ETrawlexError(Fmt("Cannot read file \"%s\". %s", FileName, error));
  }
  // A file that shrank while being read keeps zero bytes where nothing arrived.
  std::memset(data + keep + got, 0, add - static_cast<size_t>(got) + Padding);
  FWindowSize = keep + add;
  return true;
}

std::string_view TCharReader::TempPtr(int64_t start, int64_t length) const {
  const int64_t last = start + length - 1;
  if (!IsValidPos(start) || !IsValidPos(last) || length < 0)
    throw ETrawlexError(Fmt("TCharReader.TempPtr: Invalid read of %s Filesize %d; required %d", FileName, FSize, last));
  return std::string_view(reinterpret_cast<const char*>(FData.get()) + start, static_cast<size_t>(length));
}

std::string TCharReader::ReadLine(int64_t start) const {
  if (start < 0) return {};
  if (start >= FSize) return {};
  const unsigned char* begin = FData.get() + start;
  const int64_t p = FindLineBreak(begin, FData.get() + FSize) - FData.get();
  if (p - start <= 0) return {};
  return std::string(TempPtr(start, p - start));
}

void TCharReader::WriteRange(int64_t start, int64_t length, IByteSink& out) const {
  const std::string_view bytes = TempPtr(start, length);
  out.Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace trawlex
