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
  FileName = fileName;
  TReadOnlyFile file;
  std::string error;
  if (!file.Open(fileName, error)) throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", fileName, error));
  if (file.Size() >= MaxFileSize)
    throw ETrawlexError("The file is 2 GiB or larger, which is more than a search can read");
  if (file.Size() > maxSize) return false;
  if (file.Size() == 0) return LoadToEnd(file, fileName);
  const auto size = static_cast<size_t>(file.Size());
  unsigned char* data;
  try {
    data = Reserve(size);
  } catch (const std::bad_alloc&) {
    FSize = 0;
    throw ETrawlexError("Out of memory");
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

bool TCharReader::LoadToEnd(TReadOnlyFile& file, const std::string& fileName) {
  // A file that reports no size may still have content (the system's pseudo files): it is
  // read until the end, a block at a time.
  std::string content;
  std::string error;
  size_t block = 4096;  // most such files are small; an empty file costs one short read
  try {
    for (;; block = std::min(block * 2, size_t{16} << 20)) {
      const size_t had = content.size();
      if (static_cast<int64_t>(had) >= MaxFileSize) {
        FSize = 0;
        throw ETrawlexError("The file is 2 GiB or larger, which is more than a search can read");
      }
      content.resize(had + block);
      const int64_t got = file.ReadFull(content.data() + had, block, error);
      if (got < 0) {
        FSize = 0;
        throw ETrawlexError(Fmt("Cannot read file \"%s\". %s", fileName, error));
      }
      content.resize(had + static_cast<size_t>(got));
      if (static_cast<size_t>(got) < block) break;
    }
  } catch (const std::bad_alloc&) {
    FSize = 0;
    throw ETrawlexError("Out of memory");
  }
  LoadFromBytes(content, fileName);
  FInfo = file.Info();
  return true;
}

void TCharReader::LoadFromBytes(std::string_view bytes, const std::string& fileName) {
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
    throw ETrawlexError("Out of memory");
  }
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  std::memset(data + bytes.size(), 0, Padding);
  FSize = static_cast<int32_t>(bytes.size());
  FInfo = TFileInfo{};
  FInfo.Size = FSize;
}

void TCharReader::OpenBlocks(const std::string& fileName) {
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
  const size_t need = keep + add + Padding;
  unsigned char* from = FData.get() + (keepFrom - FWindowStart);
  if (need > FCapacity) {
    // A line longer than the window: grow geometrically, keeping the bytes still needed.
    std::unique_ptr<unsigned char[]> grown;
    size_t cap = std::max(need, FCapacity * 2);
    try {
      grown.reset(new unsigned char[cap]);
    } catch (const std::bad_alloc&) {
      FWindowSize = 0;
      throw ETrawlexError("Out of memory");
    }
    if (keep) std::memcpy(grown.get(), from, keep);
    FData = std::move(grown);
    FCapacity = cap;
  } else if (keep && from != FData.get()) {
    std::memmove(FData.get(), from, keep);
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
