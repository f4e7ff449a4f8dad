#include "engine/UndoJournal.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "platform/DateTime.h"
#include "platform/DurableFile.h"
#include "platform/FileReplace.h"
#include "platform/Platform.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace trawlex {

namespace fs = std::filesystem;

namespace {

constexpr char Magic[8] = {'T', 'R', 'X', 'U', 'N', 'D', 'O', '1'};
const char* const JournalExtension = ".trawlex-undo";
constexpr char RunRecord = 'R', FileRecord = 'F', PlacedRecord = 'P', EndRecord = 'E';

constexpr std::array<uint32_t, 64> K = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// ---- Record payloads: little-endian numbers, texts with a 64-bit length ----

void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}
void PutText(std::string& out, std::string_view text) {
  PutU64(out, text.size());
  out.append(text);
}
void PutDigest(std::string& out, const TDigest& d) { out.append(reinterpret_cast<const char*>(d.data()), d.size()); }

class TReader {
 public:
  explicit TReader(std::string_view data) : Data(data) {}
  bool U64(uint64_t& v) {
    if (Data.size() - Pos < 8) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<uint8_t>(Data[Pos + i])) << (8 * i);
    Pos += 8;
    return true;
  }
  bool I64(int64_t& v) {
    uint64_t u;
    if (!U64(u)) return false;
    v = static_cast<int64_t>(u);
    return true;
  }
  bool Text(std::string& s) {
    uint64_t n;
    if (!U64(n) || Data.size() - Pos < n) return false;
    s.assign(Data.substr(Pos, n));
    Pos += n;
    return true;
  }
  bool Digest(TDigest& d) {
    if (Data.size() - Pos < d.size()) return false;
    std::memcpy(d.data(), Data.data() + Pos, d.size());
    Pos += d.size();
    return true;
  }
  bool Byte(uint8_t& b) {
    if (Pos >= Data.size()) return false;
    b = static_cast<uint8_t>(Data[Pos++]);
    return true;
  }

 private:
  std::string_view Data;
  size_t Pos = 0;
};

uint32_t Checksum(char type, std::string_view payload) {
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(&type), 1);
  // crc32 takes at most 4 GiB a call.
  for (size_t done = 0; done < payload.size();) {
    const size_t n = std::min<size_t>(payload.size() - done, size_t{1} << 30);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(payload.data() + done), static_cast<uInt>(n));
    done += n;
  }
  return static_cast<uint32_t>(crc);
}

bool Pack(std::string_view content, std::string& out) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  out.resize(size);
  // Level 1: a replace over a large tree must not wait on the compressor.
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
                static_cast<uLong>(content.size()), 1) != Z_OK)
    return false;
  out.resize(size);
  return true;
}

bool FlushToDisk(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(f)) == 0;
#else
  return fsync(fileno(f)) == 0;
#endif
}

// Creates `path` for writing, only when nothing is there yet, readable by its owner only.
std::FILE* CreatePrivate(const std::string& path) {
#ifdef _WIN32
  return std::fopen(path.c_str(), "wbx");
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "wb");
  if (!f) ::close(fd);
  return f;
#endif
}

void FlushFolderOf(const std::string& path) {
#ifndef _WIN32
  const int fd = ::open(fs::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    ::close(fd);
  }
#else
  (void)path;
#endif
}

// Reads the records of the journal at `path` one by one; `onRecord` gets each whole record,
// `skipPayload` lets a caller that only counts skip the large ones. False when the file
// cannot be opened or is no journal.
bool ForEachRecord(const std::string& path, const std::function<bool(char, const std::string&)>& onRecord,
                   const std::function<bool(char)>& skipPayload, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = SystemErrorText(errno);
    return false;
  }
  char magic[sizeof Magic];
  if (std::fread(magic, 1, sizeof magic, f) != sizeof magic || std::memcmp(magic, Magic, sizeof Magic) != 0) {
    std::fclose(f);
    error = "It is not an undo journal";
    return false;
  }
  std::error_code ec;
  const uint64_t fileSize = fs::file_size(path, ec);
  uint64_t at = sizeof Magic;
  std::string payload;
  for (;;) {
    unsigned char head[9];
    if (std::fread(head, 1, sizeof head, f) != sizeof head) break;
    const char type = static_cast<char>(head[0]);
    uint64_t length = 0;
    for (int i = 0; i < 8; ++i) length |= static_cast<uint64_t>(head[1 + i]) << (8 * i);
    // A record cut short by a crash ends the journal.
    if (ec || length > fileSize || at + sizeof head + length + 4 > fileSize) break;
    at += sizeof head + length + 4;
    if (skipPayload && skipPayload(type)) {
      if (std::fseek(f, static_cast<long>(length) + 4, SEEK_CUR) != 0) break;
      payload.clear();
      if (!onRecord(type, payload)) break;
      continue;
    }
    payload.resize(static_cast<size_t>(length));
    unsigned char sum[4];
    if (std::fread(payload.data(), 1, payload.size(), f) != payload.size() || std::fread(sum, 1, 4, f) != 4) break;
    const uint32_t stored = sum[0] | (sum[1] << 8) | (sum[2] << 16) | (static_cast<uint32_t>(sum[3]) << 24);
    if (stored != Checksum(type, payload)) break;  // a torn or damaged end: the records before it hold
    if (!onRecord(type, payload)) break;
  }
  std::fclose(f);
  return true;
}

bool ParseRun(const std::string& payload, TJournalRun& run) {
  TReader r(payload);
  return r.I64(run.Time) && r.Text(run.Kind) && r.Text(run.Target) && r.Text(run.Replacement) && r.Text(run.Directory);
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

// ---- SHA-256 ----

TSha256::TSha256()
    : H{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void TSha256::Block(const uint8_t* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = (uint32_t{p[4 * i]} << 24) | (uint32_t{p[4 * i + 1]} << 16) | (uint32_t{p[4 * i + 2]} << 8) | p[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  H[0] += a, H[1] += b, H[2] += c, H[3] += d, H[4] += e, H[5] += f, H[6] += g, H[7] += h;
}

void TSha256::Update(const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  Total += count;
  if (Filled > 0) {
    const size_t n = std::min(count, Buffer.size() - Filled);
    std::memcpy(Buffer.data() + Filled, p, n);
    Filled += n, p += n, count -= n;
    if (Filled < Buffer.size()) return;
    Block(Buffer.data());
    Filled = 0;
  }
  for (; count >= 64; p += 64, count -= 64) Block(p);
  std::memcpy(Buffer.data(), p, count);
  Filled = count;
}

TDigest TSha256::Final() {
  const uint64_t bits = Total * 8;
  const uint8_t one = 0x80, zero = 0;
  Update(&one, 1);
  while (Filled != 56) Update(&zero, 1);
  uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(length, 8);
  TDigest out;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 4; ++j) out[static_cast<size_t>(4 * i + j)] = static_cast<uint8_t>(H[static_cast<size_t>(i)] >> (24 - 8 * j));
  return out;
}

TDigest Sha256(std::string_view data) {
  TSha256 h;
  h.Update(data.data(), data.size());
  return h.Final();
}

std::string DigestHex(const TDigest& digest) {
  static const char* const digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : digest) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::string DefaultUndoFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state && *state == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.local/state";
  }
  return base + "/vantorel/Trawlex/undo";
}

bool UnpackContent(const std::string& packed, int64_t size, std::string& out) {
  out.resize(static_cast<size_t>(size));
  uLongf got = static_cast<uLongf>(size);
  // uncompress wants room for at least one byte.
  char spare = 0;
  Bytef* to = size > 0 ? reinterpret_cast<Bytef*>(out.data()) : reinterpret_cast<Bytef*>(&spare);
  if (size == 0) got = 1;
  const int rc = uncompress(to, &got, reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size()));
  return rc == Z_OK && static_cast<int64_t>(got) == size;
}

// ---- Writing ----

TUndoJournalWriter::~TUndoJournalWriter() {
  if (File) std::fclose(File);
}

bool TUndoJournalWriter::Create(const std::string& folder, const TJournalRun& run) {
  // The journals hold the old content of the user's files: the folders made here and the
  // journal files are the user's alone.
  std::string error;
  if (!ForceDirectories(folder, error)) {
    FError = "The undo folder " + folder + " cannot be made (" + error + ")";
    return false;
  }
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  // Names sort by time: the newest journal has the greatest name.
  for (int n = 0; n < 1000 && !File; ++n) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%020lld-%03d", static_cast<long long>(now), n);
    const std::string name = folder + "/" + stamp + JournalExtension;
    File = CreatePrivate(name);
    if (File) FPath = name;
    else if (errno != EEXIST) break;
  }
  if (!File) {
    FError = "The undo journal cannot be created in " + folder + " (" + SystemErrorText(errno) + ")";
    return false;
  }
  std::string payload;
  PutU64(payload, static_cast<uint64_t>(run.Time));
  PutText(payload, run.Kind);
  PutText(payload, run.Target);
  PutText(payload, run.Replacement);
  PutText(payload, run.Directory);
  if (std::fwrite(Magic, 1, sizeof Magic, File) != sizeof Magic || !WriteRecord(RunRecord, payload, true)) {
    if (FError.empty()) FError = "The undo journal " + FPath + " cannot be written (" + SystemErrorText(errno) + ")";
    if (File) std::fclose(File);  // a failed record has closed it already
    File = nullptr;
    std::remove(FPath.c_str());
    return false;
  }
  FlushFolderOf(FPath);
  return true;
}

bool TUndoJournalWriter::WriteRecord(char type, const std::string& payload, bool flush) {
  if (!File) {
    if (FError.empty()) FError = "The undo journal is not open";
    return false;
  }
  std::string head(1, type);
  PutU64(head, payload.size());
  const uint32_t sum = Checksum(type, payload);
  const char tail[4] = {static_cast<char>(sum & 0xff), static_cast<char>((sum >> 8) & 0xff),
                        static_cast<char>((sum >> 16) & 0xff), static_cast<char>(sum >> 24)};
  const bool ok = std::fwrite(head.data(), 1, head.size(), File) == head.size() &&
                  std::fwrite(payload.data(), 1, payload.size(), File) == payload.size() &&
                  std::fwrite(tail, 1, 4, File) == 4 && (!flush || FlushToDisk(File));
  if (!ok) {
    FError = "The undo journal " + FPath + " cannot be written (" + SystemErrorText(errno) + ")";
    // A record that may be half on disk: nothing more goes after it.
    std::fclose(File);
    File = nullptr;
  }
  return ok;
}

int32_t TUndoJournalWriter::AddFile(const std::string& path, bool inPlace, std::string_view oldContent, int64_t newSize,
                                    const TDigest& newHash, std::string_view newContentInPlace) {
  std::string oldPacked, newPacked;
  if (!Pack(oldContent, oldPacked) || (inPlace && !Pack(newContentInPlace, newPacked))) {
    FError = "The old content cannot be compressed for the undo journal";
    return -1;
  }
  std::string payload;
  PutText(payload, path);
  payload += static_cast<char>(inPlace ? 1 : 0);
  PutU64(payload, oldContent.size());
  PutDigest(payload, Sha256(oldContent));
  PutU64(payload, static_cast<uint64_t>(newSize));
  PutDigest(payload, newHash);
  PutText(payload, oldPacked);
  PutText(payload, newPacked);
  if (!WriteRecord(FileRecord, payload, true)) return -1;
  return FFiles++;
}

void TUndoJournalWriter::MarkPlaced(int32_t index, int64_t modifiedNs) {
  std::string payload;
  PutU64(payload, static_cast<uint64_t>(index));
  PutU64(payload, static_cast<uint64_t>(modifiedNs));
  // Not flushed on its own: the file's content tells as well whether it was placed.
  WriteRecord(PlacedRecord, payload, false);
}

bool TUndoJournalWriter::Finish() {
  if (!File) return FError.empty();
  std::string payload;
  PutU64(payload, static_cast<uint64_t>(FFiles));
  const bool ok = WriteRecord(EndRecord, payload, true);
  if (File) std::fclose(File);
  File = nullptr;
  if (ok && FFiles == 0) std::remove(FPath.c_str());
  return ok;
}

// ---- Reading ----

bool ReadJournal(const std::string& path, TJournalRun& run, std::vector<TJournalEntry>& entries, std::string& error) {
  entries.clear();
  bool hasRun = false;
  const bool read = ForEachRecord(
      path,
      [&](char type, const std::string& payload) {
        TReader r(payload);
        if (type == RunRecord) {
          hasRun = ParseRun(payload, run);
        } else if (type == FileRecord) {
          TJournalEntry e;
          uint8_t inPlace = 0;
          uint64_t oldSize = 0;
          if (!(r.Text(e.Path) && r.Byte(inPlace) && r.U64(oldSize) && r.Digest(e.OldHash) && r.I64(e.NewSize) &&
                r.Digest(e.NewHash) && r.Text(e.OldPacked) && r.Text(e.NewPacked)))
            return false;
          e.InPlace = inPlace != 0;
          e.OldSize = static_cast<int64_t>(oldSize);
          entries.push_back(std::move(e));
        } else if (type == PlacedRecord) {
          uint64_t index = 0;
          int64_t time = 0;
          if (r.U64(index) && r.I64(time) && index < entries.size()) {
            entries[index].Placed = true;
            entries[index].NewModifiedNs = time;
          }
        }
        return true;
      },
      nullptr, error);
  if (read && !hasRun) {
    error = "The undo journal is damaged";
    return false;
  }
  return read;
}

bool ReadJournalInfo(const std::string& path, TJournalInfo& info) {
  info = {};
  info.Path = path;
  std::error_code ec;
  info.Bytes = static_cast<int64_t>(fs::file_size(path, ec));
  if (ec) return false;
  bool hasRun = false;
  std::string error;
  ForEachRecord(
      path,
      [&](char type, const std::string& payload) {
        if (type == RunRecord) hasRun = ParseRun(payload, info.Run);
        if (type == FileRecord) ++info.Files;
        if (type == EndRecord) info.Ended = true;
        return true;
      },
      [](char type) { return type == FileRecord; }, error);
  return hasRun;
}

std::vector<std::string> JournalPaths(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == JournalExtension && it->is_regular_file(ec)) paths.push_back(it->path().string());
  std::sort(paths.begin(), paths.end(), std::greater<>());
  return paths;
}

std::vector<TJournalInfo> ListJournals(const std::string& folder) {
  std::vector<TJournalInfo> list;
  for (const std::string& path : JournalPaths(folder)) {
    TJournalInfo info;
    if (ReadJournalInfo(path, info)) list.push_back(std::move(info));
  }
  return list;
}

std::string DescribeRun(const TJournalInfo& info) {
  std::string text = FormatDateTime("yyyy/mm/dd hh:nn:ss", UnixTimeToLocal(info.Run.Time, false)) + "  ";
  if (info.Run.Kind == "undo") text += "undo of the replace of " + Quoted(info.Run.Target) + " with " + Quoted(info.Run.Replacement);
  else text += "replace " + Quoted(info.Run.Target) + " with " + Quoted(info.Run.Replacement);
  text += " in " + CountText(info.Files, "file");
  if (!info.Run.Directory.empty()) text += " (" + info.Run.Directory + ")";
  if (!info.Ended) text += ", interrupted";
  return text;
}

TUndoLimits UndoLimitsOf(int32_t runs, int32_t sizeMiB) {
  TUndoLimits limits;
  if (runs > 0) limits.Runs = runs;
  if (sizeMiB > 0) limits.Bytes = int64_t{sizeMiB} << 20;
  return limits;
}

void PruneJournals(const std::string& folder, const TUndoLimits& limits, const std::string& keep) {
  const std::vector<TJournalInfo> list = ListJournals(folder);
  int32_t kept = 0;
  int64_t bytes = 0;
  for (const TJournalInfo& info : list) {
    const bool mine = info.Path == keep;
    if (mine || (kept < limits.Runs && bytes + info.Bytes <= limits.Bytes)) {
      ++kept;
      bytes += info.Bytes;
      continue;
    }
    std::error_code ec;
    fs::remove(info.Path, ec);
  }
}

std::string UndoSpaceProblem(int64_t oldBytes, const TUndoLimits& limits) {
  if (oldBytes <= limits.Bytes) return {};
  return Fmt("The old content of the files (%d MiB) would not fit the space kept for undo (%d MiB)",
             (oldBytes + (1 << 20) - 1) >> 20, limits.Bytes >> 20);
}

// ---- Recovering an interrupted in-place rewrite ----

bool InterruptedRewriteRecoverable(const TJournalEntry& entry, std::string_view backup, std::string_view current) {
  if (static_cast<int64_t>(backup.size()) != entry.OldSize || Sha256(backup) != entry.OldHash) return false;
  const int64_t currentSize = static_cast<int64_t>(current.size());
  if (currentSize == entry.NewSize && Sha256(current) == entry.NewHash) return true;
  if (current == backup) return true;
  if (!entry.InPlace) return false;
  // Overwritten from the start and cut at the end: each byte is the new one or the old one
  // at its place, and the length is the old, the new or the longer of the two.
  std::string fresh;
  if (!UnpackContent(entry.NewPacked, entry.NewSize, fresh)) return false;
  if (current.size() != backup.size() && current.size() != fresh.size() &&
      current.size() != std::max(backup.size(), fresh.size()))
    return false;
  for (size_t i = 0; i < current.size(); ++i) {
    const bool isNew = i < fresh.size() && current[i] == fresh[i];
    const bool isOld = i < backup.size() && current[i] == backup[i];
    if (!isNew && !isOld) return false;
  }
  return true;
}

bool FindJournalEntry(const std::string& folder, const std::string& backupPath, const TDigest& oldHash,
                      TJournalEntry& entry) {
  for (const TJournalInfo& info : ListJournals(folder)) {
    TJournalRun run;
    std::vector<TJournalEntry> entries;
    std::string error;
    if (!ReadJournal(info.Path, run, entries, error)) continue;
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
      if (e->OldHash == oldHash && backupPath.rfind(BackupPrefix(e->Path, "Trawlex"), 0) == 0) {
        entry = std::move(*e);
        return true;
      }
    }
  }
  return false;
}

// ---- Undo ----

namespace {

bool ReadWhole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

enum class TRestore { Restored, Refused, Unchanged };

// Puts `old` back into the file of `entry`, which must hold what the run wrote.
TRestore RestoreFile(const TJournalEntry& entry, const std::string& old, TUndoJournalWriter* journal,
                     const std::function<void(const std::string&)>& log) {
  const std::string& path = entry.Path;
  auto refuse = [&](const std::string& why) {
    log(path + ": " + why + ", so it was not restored");
    return TRestore::Refused;
  };
  if (!PathEntryExists(path)) return refuse("The file no longer exists");
  TFileRewriter rewriter("Trawlex");
  if (!rewriter.Open(path)) return refuse(rewriter.Error());
  if (rewriter.RealPath() != path) return refuse("The path now leads to another file (" + rewriter.RealPath() + ")");
  std::string current;
  if (!rewriter.ReadContent(current)) return refuse(rewriter.Error());
  const TDigest currentHash = Sha256(current);
  const std::string backup = rewriter.LeftBackup();
  if (!backup.empty()) {
    // A copy left by an in-place rewrite that was interrupted: the file may be half written.
    std::string kept;
    if (!ReadWhole(backup, kept) || !InterruptedRewriteRecoverable(entry, kept, current))
      return refuse("An interrupted replace left a copy of its old content in " + backup + ", and the file changed since");
  } else if (static_cast<int64_t>(current.size()) != entry.NewSize || currentHash != entry.NewHash) {
    if (static_cast<int64_t>(current.size()) == entry.OldSize && currentHash == entry.OldHash) return TRestore::Unchanged;
    return refuse("The file changed since the replace");
  }
  if (!rewriter.CheckWritable()) return refuse(rewriter.Error());
  if (!rewriter.BeginWrite()) return refuse(rewriter.Error());
  const bool inPlace = rewriter.Mode() == TRewriteMode::InPlace;
  int32_t index = -1;
  if (journal) {
    index = journal->AddFile(path, inPlace, current, static_cast<int64_t>(old.size()), entry.OldHash, inPlace ? old : "");
    if (index < 0) return refuse("Its content could not be kept for undo (" + journal->Error() + ")");
  }
  bool placed;
  if (inPlace) {
    placed = rewriter.CommitInPlace(current, old);
  } else {
    placed = rewriter.Write(old.data(), old.size()) && rewriter.Commit();
  }
  if (!placed) return refuse(rewriter.Error());
  if (!backup.empty()) std::remove(backup.c_str());
  if (!rewriter.Warning().empty()) log(path + ": " + rewriter.Warning());
  TFileInfo info;
  if (journal && GetFileInfo(path, info)) journal->MarkPlaced(index, info.ModifiedNs);
  return TRestore::Restored;
}

}  // namespace

TUndoOutcome UndoJournal(const std::string& journalPath, const std::string& undoFolder,
                         const std::function<void(const std::string&)>& log) {
  TUndoOutcome outcome;
  TJournalRun run;
  std::vector<TJournalEntry> entries;
  if (!ReadJournal(journalPath, run, entries, outcome.Error)) {
    outcome.Error = "The undo journal " + journalPath + " cannot be read (" + outcome.Error + ")";
    return outcome;
  }
  TUndoJournalWriter journal;
  const bool journalled = !undoFolder.empty();
  if (journalled) {
    TJournalRun undo;
    undo.Time = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    undo.Kind = "undo";
    undo.Target = run.Target;
    undo.Replacement = run.Replacement;
    undo.Directory = run.Directory;
    if (!journal.Create(undoFolder, undo)) {
      outcome.Error = journal.Error();
      return outcome;
    }
  }
  // Last file first: should a file appear twice, its oldest content is what stays.
  for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
    std::string old;
    TRestore result;
    if (!UnpackContent(e->OldPacked, e->OldSize, old) || Sha256(old) != e->OldHash) {
      log(e->Path + ": Its old content in the undo journal is damaged, so it was not restored");
      result = TRestore::Refused;
    } else {
      try {
        result = RestoreFile(*e, old, journalled ? &journal : nullptr, log);
      } catch (const std::bad_alloc&) {
        log(e->Path + ": Out of memory, so it was not restored");
        result = TRestore::Refused;
      }
    }
    if (result == TRestore::Restored) ++outcome.Restored;
    if (result == TRestore::Refused) ++outcome.Refused;
    if (result == TRestore::Unchanged) ++outcome.Unchanged;
  }
  if (journalled && !journal.Finish()) log(journal.Error());
  return outcome;
}

}  // namespace trawlex
