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
#include <optional>
#include <thread>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "platform/DateTime.h"
#include "platform/DurableFile.h"
#include "platform/FileReplace.h"
#include "platform/Platform.h"


namespace trawlex {

namespace fs = std::filesystem;

namespace {

constexpr char Magic[8] = {'T', 'R', 'X', 'U', 'N', 'D', 'O', '2'};
const char* const JournalExtension = ".trawlex-undo";
constexpr char RunRecord = 'R', FileRecord = 'F', PlacedRecord = 'P', EndRecord = 'E', PieceRecord = 'C';


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
  bool AtEnd() const { return Pos == Data.size(); }

 private:
  std::string_view Data;
  size_t Pos = 0;
};

// Moves to byte `at` of a journal, which may lie past 2 GiB.
bool SeekTo(std::FILE* f, uint64_t at) { return SeekFile(f, static_cast<int64_t>(at)); }

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

// ---- The journal's state, after the magic: running, ended or undone ----

constexpr uint8_t StateRunning = 0, StateEnded = 1, StateUndone = 2;
constexpr size_t StateSize = 1 + 8 + 4;
constexpr size_t HeaderSize = sizeof Magic + StateSize;
constexpr size_t HeadSize = 1 + 8 + 4;  // type, length, checksum of both
// A content packed whole is below 2 GiB (larger ones go in pieces); zlib packs at most about
// 1032 bytes into one.
constexpr int64_t MaxContent = (int64_t{1} << 31) - 1;
constexpr int64_t MaxFileSize = int64_t{1} << 62;
constexpr uint64_t MaxPackRatio = 1032;

uint32_t Crc(uint32_t crc, std::string_view bytes) {
  uLong c = crc;
  for (size_t done = 0; done < bytes.size();) {  // crc32 takes at most 4 GiB a call
    const size_t n = std::min<size_t>(bytes.size() - done, size_t{1} << 30);
    c = crc32(c, reinterpret_cast<const Bytef*>(bytes.data() + done), static_cast<uInt>(n));
    done += n;
  }
  return static_cast<uint32_t>(c);
}

// A record's checksum: its type, then its payload.
uint32_t Checksum(char type, std::string_view payload) { return Crc(Crc(0, std::string_view(&type, 1)), payload); }

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}
uint32_t GetU32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t GetU64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

std::string StateBlock(uint8_t state, uint64_t endLength) {
  std::string block(1, static_cast<char>(state));
  PutU64(block, endLength);
  PutU32(block, Crc(0, block));
  return block;
}

std::string RecordHead(char type, uint64_t length) {
  std::string head(1, type);
  PutU64(head, length);
  PutU32(head, Crc(0, head));
  return head;
}

bool ValidSize(int64_t size, size_t packedSize) {
  return size >= 0 && size <= MaxContent && static_cast<uint64_t>(size) <= packedSize * MaxPackRatio + 64;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// A journal read whole: its run, state, file records and whatever of it cannot be read.
struct TJournalContent {
  TJournalRun Run;
  bool HasRun = false;
  uint8_t State = StateRunning;
  uint64_t EndLength = 0;
  bool EndRecord = false;
  int32_t Files = 0;         // file records, damaged ones included
  std::vector<TJournalEntry> Entries;
  std::vector<std::string> Damage;
  int64_t WholeEnd = 0;      // where the last whole record ends
};

bool ParseRun(const std::string& payload, TJournalRun& run) {
  TReader r(payload);
  if (!(r.I64(run.Time) && r.Text(run.Kind) && r.Text(run.Target) && r.Text(run.Replacement) && r.Text(run.Directory) &&
        r.Text(run.RealDirectory) && r.I64(run.TimeNs) && r.Text(run.Undoes)))
    return false;
  return run.Kind == "replace" || run.Kind == "undo";
}

// The reason a file record whose checksum holds is still no valid record, or empty.
// `pieces`: the number of piece records before it that hold the old content (0: it holds it).
std::string ParseFile(const std::string& payload, TJournalEntry& e, uint64_t& pieces) {
  TReader r(payload);
  uint8_t inPlace = 0;
  uint64_t oldSize = 0, pathSum = 0;
  pieces = 0;
  if (!(r.Text(e.Path) && r.U64(pathSum) && r.Text(e.Name) && r.U64(e.Device) && r.U64(e.Inode) && r.Byte(inPlace) &&
        r.U64(oldSize) && r.Digest(e.OldHash) && r.I64(e.NewSize) && r.Digest(e.NewHash) && r.Text(e.OldPacked) &&
        r.Text(e.NewPacked) && (r.AtEnd() || r.U64(pieces))))
    return "its fields do not fit its length";
  e.InPlace = inPlace != 0;
  e.OldSize = static_cast<int64_t>(std::min<uint64_t>(oldSize, uint64_t{1} << 62));
  if (pieces > 0) {
    // Pieces of PieceSize bytes, the last one holding at least one byte.
    const uint64_t size = static_cast<uint64_t>(e.OldSize);
    if (e.InPlace || !e.OldPacked.empty() || pieces > (uint64_t{1} << 40) ||
        (size + TUndoJournalWriter::PieceSize - 1) / TUndoJournalWriter::PieceSize != pieces)
      return Fmt("its old size (%d bytes) cannot be right", e.OldSize);
    if (e.NewSize < 0 || e.NewSize > MaxFileSize) return Fmt("its new size (%d bytes) cannot be right", e.NewSize);
  } else {
    if (!ValidSize(e.OldSize, e.OldPacked.size())) return Fmt("its old size (%d bytes) cannot be right", e.OldSize);
    if (e.NewSize < 0 || e.NewSize > MaxContent || (e.InPlace && !ValidSize(e.NewSize, e.NewPacked.size())))
      return Fmt("its new size (%d bytes) cannot be right", e.NewSize);
  }
  if (e.Path.empty() || e.Name.empty()) return "it names no file";
  return {};
}

// The file's own path at the start of a damaged file record, when its own checksum holds.
std::string PathOfDamaged(const std::string& payload) {
  TReader r(payload);
  std::string path;
  uint64_t sum = 0;
  if (r.Text(path) && r.U64(sum) && !path.empty() && sum == Crc(0, path)) return path;
  return {};
}

// Where the next record head (a known type, its checksum holding) starts at or after `from`,
// or `fileSize`: read in blocks, so that a long damaged stretch is passed over quickly.
uint64_t NextHead(std::FILE* f, uint64_t from, uint64_t fileSize) {
  std::string block;
  for (uint64_t at = from; at + HeadSize <= fileSize;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(fileSize - at, uint64_t{1} << 16));
    block.resize(want);
    if (!SeekTo(f, at) || std::fread(block.data(), 1, want, f) != want) break;
    for (size_t i = 0; i + HeadSize <= want; ++i) {
      const char type = block[i];
      if ((type == RunRecord || type == FileRecord || type == PlacedRecord || type == EndRecord || type == PieceRecord) &&
          GetU32(reinterpret_cast<const unsigned char*>(block.data()) + i + 9) == Crc(0, std::string_view(block.data() + i, 9)))
        return at + i;
    }
    if (want < HeadSize) break;
    at += want - HeadSize + 1;
  }
  return fileSize;
}

// Reads a journal's records in order into a TJournalContent, passing over stretches that
// cannot be read and naming them as damage.
class TContentReader {
 public:
  TContentReader(std::FILE* f, const std::string& path, bool keepEntries, TJournalContent& c)
      : F(f), Path(path), KeepEntries(keepEntries), C(c) {}

  // The magic and the state: false with `error` set when it is no journal (empty for a run
  // killed as it began).
  bool ReadHeader(std::string& error);
  void ReadRecords();
  // The damage only the end shows: a stretch skipped to the end, a journal cut short.
  void CheckEnd();

 private:
  enum class TRead { Record, Skipped, End };
  // The record at At into Payload: Skipped when At moved on over damage, End at the end of
  // what can be read.
  TRead ReadRecord(char& type, bool& whole);
  void TakeRecord(char type, bool whole, uint64_t recordAt);
  void TakeDamagedRecord(char type, uint64_t recordAt);
  void TakeFileRecord(uint64_t recordAt);
  void TakePlacedRecord(uint64_t recordAt);
  void TakeEndRecord();
  void Damaged(const std::string& what) { C.Damage.push_back("The undo journal " + Path + " is damaged: " + what); }

  std::FILE* F;
  const std::string& Path;
  bool KeepEntries;  // the file records are kept (else only counted)
  TJournalContent& C;
  bool StateRead = false;
  uint64_t FileSize = 0;
  uint64_t At = HeaderSize;
  std::string Payload;
  bool Skipping = false;         // looking for the next record after a damaged one
  uint64_t DamagedFrom = 0;      // start of the bytes skipped meanwhile
  std::vector<uint64_t> Pieces;  // piece records since the last file record (UINT64_MAX: damaged)
};

bool TContentReader::ReadHeader(std::string& error) {
  if (std::fseek(F, 0, SEEK_SET) != 0) {
    error = SystemErrorText(errno);
    return false;
  }
  unsigned char header[HeaderSize];
  const size_t headerRead = std::fread(header, 1, sizeof header, F);
  if (headerRead < sizeof header && std::memcmp(header, Magic, std::min(headerRead, sizeof Magic)) == 0) {
    error.clear();  // a run killed as it began: no journal yet
    return false;
  }
  if (headerRead != sizeof header || std::memcmp(header, Magic, sizeof Magic) != 0) {
    error = "It is not an undo journal";
    return false;
  }
  const unsigned char* state = header + sizeof Magic;
  StateRead = GetU32(state + 9) == Crc(0, std::string_view(reinterpret_cast<const char*>(state), 9));
  if (StateRead) {
    C.State = state[0];
    C.EndLength = GetU64(state + 1);
  } else {
    Damaged("its state cannot be read");
  }
  return true;
}

void TContentReader::ReadRecords() {
  std::error_code ec;
  FileSize = fs::file_size(Path, ec);
  C.WholeEnd = static_cast<int64_t>(At);
  for (;;) {
    char type = 0;
    bool whole = false;
    const TRead read = ReadRecord(type, whole);
    if (read == TRead::End) break;
    if (read == TRead::Skipped) continue;
    if (Skipping) {
      if (!whole) {
        At = NextHead(F, At + 1, FileSize);
        continue;
      }
      Skipping = false;
      Damaged(Fmt("bytes %d to %d cannot be read; the files whose records they held are not known", DamagedFrom, At));
    }
    const uint64_t recordAt = At;
    At += HeadSize + Payload.size() + 4;
    C.WholeEnd = static_cast<int64_t>(At);
    TakeRecord(type, whole, recordAt);
  }
}

TContentReader::TRead TContentReader::ReadRecord(char& type, bool& whole) {
  if (!SeekTo(F, At)) return TRead::End;
  unsigned char head[HeadSize];
  const size_t got = std::fread(head, 1, sizeof head, F);
  const bool headRead = got == sizeof head && GetU32(head + 9) == Crc(0, std::string_view(reinterpret_cast<const char*>(head), 9));
  const uint64_t length = headRead ? GetU64(head + 1) : 0;
  const bool fits = headRead && length <= FileSize && At + HeadSize + length + 4 <= FileSize;
  if (got < sizeof head && !Skipping) return TRead::End;  // the end, or a head cut short
  if (!fits) {
    if (headRead && !Skipping) return TRead::End;  // a record cut short: the end of what was written
    // A damaged head: the length cannot be trusted; look for the next record byte by byte.
    if (!Skipping) {
      Skipping = true;
      DamagedFrom = At;
    }
    if (got < sizeof head) return TRead::End;
    At = NextHead(F, At + 1, FileSize);
    return TRead::Skipped;
  }
  Payload.resize(static_cast<size_t>(length));
  unsigned char sum[4];
  if (std::fread(Payload.data(), 1, Payload.size(), F) != Payload.size() || std::fread(sum, 1, 4, F) != 4) return TRead::End;
  type = static_cast<char>(head[0]);
  whole = GetU32(sum) == Checksum(type, Payload);
  return TRead::Record;
}

void TContentReader::TakeRecord(char type, bool whole, uint64_t recordAt) {
  if (type == FileRecord) ++C.Files;
  if (type == PieceRecord) {
    // Its file record follows; a run killed before that never changed the file.
    Pieces.push_back(whole ? recordAt : UINT64_MAX);
    return;
  }
  if (!whole) {
    TakeDamagedRecord(type, recordAt);
  } else if (type == RunRecord) {
    if (!C.HasRun) C.HasRun = ParseRun(Payload, C.Run);
    if (!C.HasRun) Damaged("its run cannot be read");
  } else if (type == FileRecord) {
    TakeFileRecord(recordAt);
  } else if (type == PlacedRecord) {
    TakePlacedRecord(recordAt);
  } else if (type == EndRecord) {
    TakeEndRecord();
  }
}

void TContentReader::TakeDamagedRecord(char type, uint64_t recordAt) {
  if (type != FileRecord) {
    Damaged(Fmt("the record at byte %d cannot be read", recordAt));
    return;
  }
  Pieces.clear();
  const std::string named = PathOfDamaged(Payload);
  Damaged(named.empty() ? Fmt("the file record at byte %d cannot be read, nor the file it names", recordAt)
                        : named + ": its record (at byte " + std::to_string(recordAt) + ") cannot be read");
}

void TContentReader::TakeFileRecord(uint64_t recordAt) {
  TJournalEntry e;
  uint64_t pieceCount = 0;
  std::string why = ParseFile(Payload, e, pieceCount);
  if (why.empty() && pieceCount > Pieces.size()) why = "pieces of its old content are missing";
  if (why.empty() && pieceCount > 0) e.Pieces.assign(Pieces.end() - static_cast<std::ptrdiff_t>(pieceCount), Pieces.end());
  Pieces.clear();
  if (!why.empty()) {
    Damaged((e.Path.empty() ? Fmt("the file record at byte %d", recordAt) : e.Path + ": its record") + " is not valid: " + why);
    return;
  }
  if (KeepEntries) C.Entries.push_back(std::move(e));
}

void TContentReader::TakePlacedRecord(uint64_t recordAt) {
  TReader r(Payload);
  uint64_t index = 0;
  int64_t time = 0;
  if (!r.U64(index) || !r.I64(time) || index >= C.Entries.size()) {
    if (KeepEntries) Damaged(Fmt("the placed record at byte %d names no file record", recordAt));
    return;
  }
  C.Entries[index].Placed = true;
  C.Entries[index].NewModifiedNs = time;
}

void TContentReader::TakeEndRecord() {
  TReader r(Payload);
  uint64_t files = 0;
  C.EndRecord = true;
  if (!r.U64(files) || files != static_cast<uint64_t>(C.Files))
    Damaged(Fmt("its end says %d files, but it holds %d file records", static_cast<int64_t>(files), C.Files));
}

void TContentReader::CheckEnd() {
  if (Skipping) Damaged(Fmt("bytes %d to its end cannot be read; the files whose records they held are not known", DamagedFrom));
  if (C.State == StateRunning || !StateRead) return;
  if (C.EndLength > FileSize)
    Damaged(Fmt("it is cut short (it held %d bytes when its run ended, now %d); the files whose records were cut "
                "off are not known",
                C.EndLength, FileSize));
  else if (!C.EndRecord && C.EndLength > 0)
    Damaged("its end record is missing");
}

// Reads the journal open in `f` from its start. False with `error` set when it is no journal.
// `keepEntries`: the file records are kept (else only counted).
bool ReadContent(std::FILE* f, const std::string& path, bool keepEntries, TJournalContent& c, std::string& error) {
  c = TJournalContent();
  TContentReader reader(f, path, keepEntries, c);
  if (!reader.ReadHeader(error)) return false;
  reader.ReadRecords();
  reader.CheckEnd();
  if (!c.HasRun) {
    // Without damage, a journal without its run record is one whose run was killed as it began.
    error = c.Damage.empty() && c.State == StateRunning ? std::string() : c.Damage.empty() ? "it names no run" : c.Damage.front();
    return false;
  }
  return true;
}

// The journal names the program makes: 20 digits, "-", 3 digits, the extension.
bool JournalName(const std::string& name) {
  const std::string ext = JournalExtension;
  if (name.size() != 24 + ext.size() || name.compare(24, std::string::npos, ext) != 0 || name[20] != '-') return false;
  for (size_t i = 0; i < 24; ++i)
    if (i != 20 && (name[i] < '0' || name[i] > '9')) return false;
  return true;
}

std::string FileNameOfPath(const std::string& path) { return fs::path(path).filename().string(); }

// Whether `path` is `folder` or lies below it (both resolved).
bool InFolder(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  if (path == folder) return true;
  const bool delimited = std::string_view(PathDelims).find(folder.back()) != std::string_view::npos;
  const std::string base = delimited ? folder : folder + PathDelim;
  return path.compare(0, base.size(), base) == 0;
}

}  // namespace


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
  // The size comes from a file: nothing is allocated for a size no packed text can stand for.
  if (!ValidSize(size, packed.size())) return false;
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

TUndoJournalWriter::~TUndoJournalWriter() = default;

bool TUndoJournalWriter::Create(const std::string& folder, const TJournalRun& given) {
  // The journals hold the old content of the user's files, and are acted upon: the folder
  // and the journal files are the user's alone.
  std::string problem;
  if (!MakeOwnFolder(folder, problem)) {
    FError = "The undo folder cannot be used: " + problem;
    return false;
  }
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  int error = 0;
  for (int n = 0; n < 1000 && !File.IsOpen(); ++n) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%020lld-%03d", static_cast<long long>(now), n);
    const std::string name = folder + "/" + stamp + JournalExtension;
    if (File.Create(name, error)) FPath = name;
    else if (error != EEXIST) break;
  }
  if (!File.IsOpen()) {
    FError = "The undo journal cannot be created in " + folder + " (" + SystemErrorText(error) + ")";
    return false;
  }
  // Held until the run ends: no undo takes this run while it runs.
  std::string lockError;
  if (File.TryLock(lockError) != TOwnFile::TLock::Held) {
    FError = "The undo journal " + FPath + " cannot be locked (" + lockError + ")";
    File.Close();
    std::remove(FPath.c_str());
    return false;
  }
  TJournalRun run = given;
  run.TimeNs = now;
  if (run.RealDirectory.empty() && !run.Directory.empty()) run.RealDirectory = ResolvedPath(run.Directory);
  std::string payload;
  PutU64(payload, static_cast<uint64_t>(run.Time));
  PutText(payload, run.Kind);
  PutText(payload, run.Target);
  PutText(payload, run.Replacement);
  PutText(payload, run.Directory);
  PutText(payload, run.RealDirectory);
  PutU64(payload, static_cast<uint64_t>(run.TimeNs));
  PutText(payload, run.Undoes);
  const std::string header = std::string(Magic, sizeof Magic) + StateBlock(StateRunning, 0);
  if (std::fwrite(header.data(), 1, header.size(), File.Stream()) != header.size() || !WriteRecord(RunRecord, payload, true)) {
    if (FError.empty()) FError = "The undo journal " + FPath + " cannot be written (" + SystemErrorText(errno) + ")";
    File.Close();
    std::remove(FPath.c_str());
    return false;
  }
  FlushFolderEntries(folder);
  return true;
}

bool TUndoJournalWriter::Continue(TOwnFile&& file, const std::string& path, int64_t wholeEnd, int32_t files) {
  File = std::move(file);
  FPath = path;
  FFiles = files;
  // Whatever a kill left after the last whole record goes; the records go on from there.
  if (!File.Truncate(wholeEnd)) {
    FError = "The undo journal " + FPath + " cannot be written (" + SystemErrorText(errno) + ")";
    File.Close();
    return false;
  }
  return true;
}

bool TUndoJournalWriter::WriteRecord(char type, const std::string& payload, bool flush) {
  if (!File.IsOpen()) {
    if (FError.empty()) FError = "The undo journal is not open";
    return false;
  }
  const std::string head = RecordHead(type, payload.size());
  const uint32_t sum = Checksum(type, payload);
  const char tail[4] = {static_cast<char>(sum & 0xff), static_cast<char>((sum >> 8) & 0xff),
                        static_cast<char>((sum >> 16) & 0xff), static_cast<char>(sum >> 24)};
  std::FILE* f = File.Stream();
  const bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
                  std::fwrite(payload.data(), 1, payload.size(), f) == payload.size() && std::fwrite(tail, 1, 4, f) == 4 &&
                  (!flush || File.FlushToDisk());
  if (!ok) {
    FError = "The undo journal " + FPath + " cannot be written (" + SystemErrorText(errno) + ")";
    // A record that may be half on disk: nothing more goes after it.
    File.Close();
  }
  return ok;
}

int32_t TUndoJournalWriter::AddFile(const std::string& path, const std::string& name, uint64_t device, uint64_t inode,
                                    bool inPlace, std::string_view oldContent, int64_t newSize, const TDigest& newHash,
                                    std::string_view newContentInPlace) {
  std::string oldPacked, newPacked;
  if (!Pack(oldContent, oldPacked) || (inPlace && !Pack(newContentInPlace, newPacked))) {
    FError = "The old content cannot be compressed for the undo journal";
    return -1;
  }
  return WriteFileRecord(path, name, device, inode, inPlace, static_cast<int64_t>(oldContent.size()), Sha256(oldContent),
                         newSize, newHash, oldPacked, newPacked, 0);
}

int32_t TUndoJournalWriter::AddFileInPieces(const std::string& path, const std::string& name, uint64_t device,
                                            uint64_t inode, int64_t oldSize, const TPieceReader& read, int64_t newSize,
                                            const TDigest& newHash) {
  // The pieces first, the file record that counts them last: a run killed before that
  // record was on disk had not changed the file, and the pieces before it are passed over.
  TSha256 oldHash;
  std::string piece, payload;
  uint64_t pieces = 0;
  for (int64_t at = 0; at < oldSize; ++pieces) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(oldSize - at, static_cast<int64_t>(PieceSize)));
    piece.resize(want);
    for (size_t got = 0; got < want;) {
      const int64_t n = read(piece.data() + got, want - got, at + static_cast<int64_t>(got));
      if (n <= 0) {
        FError = "The old content cannot be read for the undo journal";
        return -1;
      }
      got += static_cast<size_t>(n);
    }
    oldHash.Update(piece.data(), piece.size());
    std::string packed;
    if (!Pack(piece, packed)) {
      FError = "The old content cannot be compressed for the undo journal";
      return -1;
    }
    payload.clear();
    PutU64(payload, want);
    payload += packed;
    if (!WriteRecord(PieceRecord, payload, false)) return -1;
    at += static_cast<int64_t>(want);
  }
  return WriteFileRecord(path, name, device, inode, false, oldSize, oldHash.Final(), newSize, newHash, {}, {}, pieces);
}

int32_t TUndoJournalWriter::WriteFileRecord(const std::string& path, const std::string& name, uint64_t device,
                                            uint64_t inode, bool inPlace, int64_t oldSize, const TDigest& oldHash,
                                            int64_t newSize, const TDigest& newHash, const std::string& oldPacked,
                                            const std::string& newPacked, uint64_t pieces) {
  // The name as the run reached it, with its folder resolved: an undo checks that it still
  // leads to the file, in the run's folder.
  const std::string folder = ResolvedPath(FolderOf(name));
  const std::string reached = folder + (folder.size() > 0 && folder.back() == PathDelim ? "" : std::string(1, PathDelim)) +
                              FileNameOfPath(name);
  std::string payload;
  PutText(payload, path);
  PutU64(payload, Crc(0, path));
  PutText(payload, reached);
  PutU64(payload, device);
  PutU64(payload, inode);
  payload += static_cast<char>(inPlace ? 1 : 0);
  PutU64(payload, static_cast<uint64_t>(oldSize));
  PutDigest(payload, oldHash);
  PutU64(payload, static_cast<uint64_t>(newSize));
  PutDigest(payload, newHash);
  PutText(payload, oldPacked);
  PutText(payload, newPacked);
  if (pieces > 0) PutU64(payload, pieces);
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

namespace {

// Writes the journal's state in place and flushes it.
bool WriteState(TOwnFile& file, uint8_t state, uint64_t endLength) {
  std::FILE* f = file.Stream();
  const std::string block = StateBlock(state, endLength);
  const bool ok = std::fflush(f) == 0 && std::fseek(f, sizeof Magic, SEEK_SET) == 0 &&
                  std::fwrite(block.data(), 1, block.size(), f) == block.size() && file.FlushToDisk();
  std::fseek(f, 0, SEEK_END);
  return ok;
}

}  // namespace

void TUndoJournalWriter::Leave() {
  if (!File.IsOpen()) return;
  File.FlushToDisk();
  if (FFiles == 0) std::remove(FPath.c_str());
  File.Close();
}

bool TUndoJournalWriter::Finish() {
  if (!File.IsOpen()) return FError.empty();
  std::string payload;
  PutU64(payload, static_cast<uint64_t>(FFiles));
  bool ok = WriteRecord(EndRecord, payload, true);
  if (ok && FFiles == 0) {
    // A run that changed nothing cannot be undone: no journal stays for it.
    std::remove(FPath.c_str());
  } else if (ok) {
    const int64_t size = File.Size();
    ok = size > 0 && WriteState(File, StateEnded, static_cast<uint64_t>(size));
    if (!ok) FError = "The undo journal " + FPath + " cannot be written (" + SystemErrorText(errno) + ")";
  }
  File.Close();
  return ok;
}

// ---- Reading ----

namespace {

bool OpenJournal(const std::string& path, bool write, TOwnFile& file, std::string& problem) {
  if (file.Open(path, write, problem)) return true;
  problem = "The undo journal " + path + " was not used: " + problem;
  return false;
}

void FillInfo(const std::string& path, const TJournalContent& c, TJournalInfo& info) {
  info.Path = path;
  info.Run = c.Run;
  info.Files = c.Files;
  info.Ended = c.State != StateRunning || c.EndRecord;
  info.Undone = c.State == StateUndone;
  info.Damage = c.Damage;
  std::error_code ec;
  info.Bytes = static_cast<int64_t>(fs::file_size(path, ec));
}

}  // namespace

bool ReadJournal(const std::string& path, TJournalRun& run, std::vector<TJournalEntry>& entries, std::string& error,
                 std::vector<std::string>* damage) {
  entries.clear();
  TOwnFile file;
  if (!OpenJournal(path, false, file, error)) return false;
  TJournalContent c;
  const bool read = ReadContent(file.Stream(), path, true, c, error);
  if (damage) *damage = c.Damage;
  if (!read) return false;
  run = c.Run;
  entries = std::move(c.Entries);
  return true;
}

bool ReadJournalInfo(const std::string& path, TJournalInfo& info, std::string& problem) {
  info = {};
  TOwnFile file;
  if (!OpenJournal(path, false, file, problem)) return false;
  TJournalContent c;
  if (!ReadContent(file.Stream(), path, false, c, problem)) {
    if (!problem.empty()) problem = "The undo journal " + path + " cannot be read (" + problem + ")";
    return false;
  }
  FillInfo(path, c, info);
  // Its run, or an undo of it, holds the lock while it works.
  std::string lockError;
  info.Running = file.TryLock(lockError, true) == TOwnFile::TLock::Busy;
  return true;
}

std::vector<std::string> JournalPaths(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (JournalName(it->path().filename().string())) paths.push_back(it->path().string());
  std::sort(paths.begin(), paths.end(), std::greater<>());
  return paths;
}

std::vector<TJournalInfo> ListJournals(const std::string& folder, std::vector<std::string>* problems) {
  std::vector<TJournalInfo> list;
  std::string problem;
  if (CheckOwnFolder(folder, false, problem) == TOwnCheck::Refused) {
    if (problems) problems->push_back("The undo folder cannot be used: " + problem);
    return list;
  }
  for (const std::string& path : JournalPaths(folder)) {
    TJournalInfo info;
    if (!ReadJournalInfo(path, info, problem)) {
      if (problems && !problem.empty()) problems->push_back(problem);
      continue;
    }
    // A run that changed nothing is no run to undo (a journal of one that was killed, or of
    // an undo killed before it restored a file).
    if (info.Files > 0 || !info.Damage.empty()) list.push_back(std::move(info));
  }
  std::stable_sort(list.begin(), list.end(), [](const TJournalInfo& a, const TJournalInfo& b) {
    if (a.Run.TimeNs != b.Run.TimeNs) return a.Run.TimeNs > b.Run.TimeNs;
    return a.Path > b.Path;
  });
  return list;
}

std::string DescribeRun(const TJournalInfo& info) {
  std::string text = FormatDateTime("yyyy/mm/dd hh:nn:ss", UnixTimeToLocal(info.Run.Time, false)) + "  ";
  if (info.Run.Kind == "undo") text += "undo of the replace of " + Quoted(info.Run.Target) + " with " + Quoted(info.Run.Replacement);
  else text += "replace " + Quoted(info.Run.Target) + " with " + Quoted(info.Run.Replacement);
  text += " in " + CountText(info.Files, "file");
  if (!info.Run.Directory.empty()) text += " (" + info.Run.Directory + ")";
  if (info.Running) text += ", running";
  else if (!info.Ended) text += ", interrupted";
  if (info.Undone) text += ", undone";
  if (!info.Damage.empty()) text += ", damaged";
  return text;
}

TUndoLimits UndoLimitsOf(int32_t runs, int32_t sizeMiB) {
  TUndoLimits limits;
  if (runs > 0) limits.Runs = runs;
  if (sizeMiB > 0) limits.Bytes = int64_t{sizeMiB} << 20;
  return limits;
}

void PruneJournals(const std::string& folder, const TUndoLimits& limits, const std::string& keep) {
  std::string problem;
  if (CheckOwnFolder(folder, false, problem) != TOwnCheck::Fine) return;
  std::vector<TJournalInfo> list;  // every journal the program made
  for (const std::string& path : JournalPaths(folder)) {
    TJournalInfo info;
    if (ReadJournalInfo(path, info, problem)) {
      list.push_back(std::move(info));
    } else if (problem.empty() && path != keep) {
      // The journal of a run killed as it began, unless that run is only beginning.
      TOwnFile file;
      std::string error;
      if (file.Open(path, false, error) && file.TryLock(error) == TOwnFile::TLock::Held) {
        std::error_code ec;
        fs::remove(path, ec);
      }
    }
  }
  std::stable_sort(list.begin(), list.end(), [](const TJournalInfo& a, const TJournalInfo& b) { return a.Run.TimeNs > b.Run.TimeNs; });
  int32_t kept = 0;
  int64_t bytes = 0;
  for (const TJournalInfo& info : list) {
    // A journal whose run (or an undo of it) is at work stays.
    if (info.Path == keep || info.Running) {
      if (info.Files > 0) ++kept, bytes += info.Bytes;
      continue;
    }
    if (info.Files > 0 && kept < limits.Runs && bytes + info.Bytes <= limits.Bytes) {
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
  // Only journals of the user's own, in a folder of the user's own, vouch for a copy.
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

// Failed: the file could not be written or read now (a full disk, an I/O error, memory),
// which another undo may mend; Refused: it is not the file the run left, for good.
enum class TRestore { Restored, Refused, Failed, Unchanged };

// A file an undo puts back: its entry in the journal, the folder of the run (resolved), the
// journal of the undo itself (none when it keeps none) and where its log lines go.
struct TRestoreJob {
  const TJournalEntry& Entry;
  const std::string& Folder;
  TUndoJournalWriter* Journal;
  const std::function<void(const std::string&)>& Log;

  TRestore Refuse(const std::string& why) const {
    Log(Entry.Path + ": " + why + ", so it was not restored");
    return TRestore::Refused;
  }
  TRestore Fail(const std::string& why) const {
    Log(Entry.Path + ": " + why + ", so it was not restored");
    return TRestore::Failed;
  }
};

// The steps of a restore; each answers an outcome when it ends the restore.

// Opens the file in `rewriter` where the name the run reached it by still lies in the run's
// folder once every link on the way is followed, and leads to the file itself.
std::optional<TRestore> OpenForRestore(const TRestoreJob& job, TFileRewriter& rewriter) {
  const TJournalEntry& entry = job.Entry;
  const std::string reachedFolder = ResolvedPath(FolderOf(entry.Name));
  if (!InFolder(reachedFolder, job.Folder) || !InFolder(entry.Name, reachedFolder))
    return job.Refuse("It lies outside the folder of the run (" +
                      (job.Folder.empty() ? std::string("none recorded") : job.Folder) + ")");
  if (!PathEntryExists(entry.Name) && !PathEntryExists(entry.Path)) return job.Refuse("The file no longer exists");
  if (!rewriter.Open(entry.Name)) return job.Refuse(rewriter.Error());
  if (rewriter.RealPath() != entry.Path) return job.Refuse("The path now leads to another file (" + rewriter.RealPath() + ")");
  return std::nullopt;
}

// Nothing is written into a file that is not the one the run wrote, whatever it holds.
std::optional<TRestore> CheckRunsFile(const TRestoreJob& job, const TFileRewriter& rewriter, bool alreadyOld) {
  if (!alreadyOld && (rewriter.Info().Device != job.Entry.Device || rewriter.Info().Inode != job.Entry.Inode))
    return job.Refuse("It is no longer the file the replace wrote (another file, or a link to one, took its name)");
  return std::nullopt;
}

// The file (`size` bytes, `hash`) must hold what the run wrote.
std::optional<TRestore> CheckHoldsNew(const TRestoreJob& job, int64_t size, const TDigest& hash, bool alreadyOld) {
  if (size == job.Entry.NewSize && hash == job.Entry.NewHash) return std::nullopt;
  if (alreadyOld) return TRestore::Unchanged;
  return job.Refuse("The file changed since the replace");
}

std::optional<TRestore> BeginRestore(const TRestoreJob& job, TFileRewriter& rewriter) {
  if (!rewriter.CheckWritable()) return job.Refuse(rewriter.Error());
  if (!rewriter.BeginWrite()) return job.Fail(rewriter.Error());
  return std::nullopt;
}

// Keeps the current content in the undo's journal (`keepCurrent`, given the identity the file
// will have: the journal's entry, negative on a failure), puts the old content in place
// (`commit`), and removes the copy an interrupted rewrite left (`backup`, when any).
TRestore PlaceOld(const TRestoreJob& job, TFileRewriter& rewriter, const std::string& backup,
                  const std::function<int32_t(uint64_t device, uint64_t inode)>& keepCurrent,
                  const std::function<bool()>& commit) {
  int32_t index = -1;
  if (job.Journal) {
    uint64_t device = 0, inode = 0;
    rewriter.PlacedIdentity(device, inode);
    index = keepCurrent(device, inode);
    if (index < 0) return job.Fail("Its content could not be kept for undo (" + job.Journal->Error() + ")");
  }
  if (!commit()) return job.Fail(rewriter.Error());
  if (!backup.empty()) std::remove(backup.c_str());
  if (!rewriter.Warning().empty()) job.Log(job.Entry.Path + ": " + rewriter.Warning());
  TFileInfo info;
  if (job.Journal && GetFileInfo(job.Entry.Path, info)) job.Journal->MarkPlaced(index, info.ModifiedNs);
  return TRestore::Restored;
}

// Puts `old` back into the file of `entry`, which must hold what the run wrote, be the very
// file the run wrote, and be reached in `folder` (the run's folder, resolved).
TRestore RestoreFile(const TJournalEntry& entry, const std::string& old, const std::string& folder,
                     TUndoJournalWriter* journal, const std::function<void(const std::string&)>& log) {
  const TRestoreJob job{entry, folder, journal, log};
  TFileRewriter rewriter("Trawlex");
  if (const std::optional<TRestore> ended = OpenForRestore(job, rewriter)) return *ended;
  std::string current;
  if (!rewriter.ReadContent(current)) return job.Fail(rewriter.Error());
  const TDigest currentHash = Sha256(current);
  const bool alreadyOld = static_cast<int64_t>(current.size()) == entry.OldSize && currentHash == entry.OldHash;
  if (const std::optional<TRestore> ended = CheckRunsFile(job, rewriter, alreadyOld)) return *ended;
  const std::string backup = rewriter.LeftBackup();
  if (!backup.empty()) {
    // A copy left by an in-place rewrite that was interrupted: the file may be half written.
    std::string kept;
    if (!ReadWhole(backup, kept) || !InterruptedRewriteRecoverable(entry, kept, current))
      return job.Refuse("An interrupted replace left a copy of its old content in " + backup + ", and the file changed since");
  } else if (const std::optional<TRestore> ended =
                 CheckHoldsNew(job, static_cast<int64_t>(current.size()), currentHash, alreadyOld)) {
    return *ended;
  }
  if (const std::optional<TRestore> ended = BeginRestore(job, rewriter)) return *ended;
  const bool inPlace = rewriter.Mode() == TRewriteMode::InPlace;
  return PlaceOld(
      job, rewriter, backup,
      [&](uint64_t device, uint64_t inode) {
        return journal->AddFile(entry.Path, entry.Name, device, inode, inPlace, current, static_cast<int64_t>(old.size()),
                                entry.OldHash, inPlace ? old : "");
      },
      [&] { return inPlace ? rewriter.CommitInPlace(current, old) : rewriter.Write(old.data(), old.size()) && rewriter.Commit(); });
}

// The content of the piece record at `at` of the journal open in `f`; false when it is damaged.
bool ReadPieceRecord(std::FILE* f, uint64_t at, std::string& out) {
  unsigned char head[HeadSize];
  if (at == UINT64_MAX || !SeekTo(f, at) || std::fread(head, 1, sizeof head, f) != sizeof head || head[0] != PieceRecord ||
      GetU32(head + 9) != Crc(0, std::string_view(reinterpret_cast<const char*>(head), 9)))
    return false;
  const uint64_t length = GetU64(head + 1);
  if (length < 8 || length > 2 * TUndoJournalWriter::PieceSize + 4096) return false;
  std::string payload(static_cast<size_t>(length), '\0');
  unsigned char sum[4];
  if (std::fread(payload.data(), 1, payload.size(), f) != payload.size() || std::fread(sum, 1, 4, f) != 4 ||
      GetU32(sum) != Checksum(PieceRecord, payload))
    return false;
  uint64_t size = 0;
  TReader r(payload);
  if (!r.U64(size) || size > TUndoJournalWriter::PieceSize) return false;
  return UnpackContent(payload.substr(8), static_cast<int64_t>(size), out);
}

enum class TPieces { Whole, Damaged, NotTaken };

// Hands the old content kept in the piece records of `entry` to `take` a piece at a time,
// checked against the size and hash the replace read: Damaged when it does not match or a
// record is damaged, NotTaken when `take` refused a piece.
TPieces TakeOldPieces(std::FILE* from, const TJournalEntry& entry, const std::function<bool(const std::string&)>& take) {
  TSha256 hash;
  int64_t size = 0;
  std::string piece;
  for (const uint64_t at : entry.Pieces) {
    if (!ReadPieceRecord(from, at, piece)) return TPieces::Damaged;
    hash.Update(piece.data(), piece.size());
    if (!take(piece)) return TPieces::NotTaken;
    size += static_cast<int64_t>(piece.size());
  }
  return size == entry.OldSize && hash.Final() == entry.OldHash ? TPieces::Whole : TPieces::Damaged;
}

// The size and hash of the file open in `rewriter`, read a piece at a time; false with the
// rewriter's error.
bool HashFile(TFileRewriter& rewriter, int64_t& size, TDigest& digest) {
  TSha256 hash;
  std::string buffer(TUndoJournalWriter::PieceSize, '\0');
  for (;;) {
    const int64_t n = rewriter.ReadPiece(buffer.data(), buffer.size(), size);
    if (n < 0) return false;
    if (n == 0) break;
    hash.Update(buffer.data(), static_cast<size_t>(n));
    size += n;
  }
  digest = hash.Final();
  return true;
}

// A file whose old content the journal keeps in pieces, that must keep its inode: restored
// in place, whole, as a file kept whole would be, where it is small enough to be held.
// `held`, the file open, is closed first.
TRestore RestoreHeldWhole(const TRestoreJob& job, std::FILE* from, std::optional<TFileRewriter>& held, int64_t size) {
  constexpr int64_t Whole = (int64_t{1} << 31) - 1;
  if (job.Entry.OldSize > Whole || size > Whole)
    return job.Refuse("It must keep its inode (several names, or attributes a new file cannot get), and a file of 2 GiB "
                      "or more is restored only through a new file");
  std::string old;
  if (TakeOldPieces(from, job.Entry, [&](const std::string& piece) {
        old += piece;
        return true;
      }) != TPieces::Whole)
    return job.Refuse("Its old content in the undo journal is damaged");
  held.reset();  // its lock goes before RestoreFile takes it again
  return RestoreFile(job.Entry, old, job.Folder, job.Journal, job.Log);
}

// RestoreFile for a file whose old content the journal keeps in pieces (`from`, the journal):
// neither the file nor its old content is ever held whole.
TRestore RestoreFileInPieces(const TJournalEntry& entry, std::FILE* from, const std::string& folder,
                             TUndoJournalWriter* journal, const std::function<void(const std::string&)>& log) {
  const TRestoreJob job{entry, folder, journal, log};
  std::optional<TFileRewriter> held(std::in_place, "Trawlex");
  TFileRewriter& rewriter = *held;
  if (const std::optional<TRestore> ended = OpenForRestore(job, rewriter)) return *ended;
  int64_t size = 0;
  TDigest currentHash{};
  if (!HashFile(rewriter, size, currentHash)) return job.Fail(rewriter.Error());
  const bool alreadyOld = size == entry.OldSize && currentHash == entry.OldHash;
  if (const std::optional<TRestore> ended = CheckRunsFile(job, rewriter, alreadyOld)) return *ended;
  if (const std::string backup = rewriter.LeftBackup(); !backup.empty())
    return job.Refuse("An interrupted replace left a copy of its old content in " + backup + "; compare the two");
  if (const std::optional<TRestore> ended = CheckHoldsNew(job, size, currentHash, alreadyOld)) return *ended;
  if (const std::optional<TRestore> ended = BeginRestore(job, rewriter)) return *ended;
  if (rewriter.Mode() == TRewriteMode::InPlace) return RestoreHeldWhole(job, from, held, size);
  // The old content goes into the new file a piece at a time, checked as it goes; the file
  // is replaced only once all of it matches what the replace read.
  const TPieces pieces =
      TakeOldPieces(from, entry, [&](const std::string& piece) { return rewriter.Write(piece.data(), piece.size()); });
  if (pieces == TPieces::NotTaken) return job.Fail(rewriter.Error());
  if (pieces == TPieces::Damaged) return job.Refuse("Its old content in the undo journal is damaged");
  return PlaceOld(
      job, rewriter, std::string(),
      [&](uint64_t device, uint64_t inode) {
        return journal->AddFileInPieces(
            entry.Path, entry.Name, device, inode, size,
            [&](char* b, size_t count, int64_t offset) { return rewriter.ReadPiece(b, count, offset); }, entry.OldSize,
            entry.OldHash);
      },
      [&] { return rewriter.Commit(); });
}

// Restores one file of the run whose journal is open in `from`.
TRestore RestoreEntry(const TJournalEntry& e, std::FILE* from, const std::string& folder, TUndoJournalWriter* journal,
                      const std::function<void(const std::string&)>& log) {
  // Unpacking a file held whole takes as much memory as the file: running out is this file's
  // failure, and the undo goes on with the others.
  try {
    std::string old;
    if (!e.InPieces() && (!UnpackContent(e.OldPacked, e.OldSize, old) || Sha256(old) != e.OldHash)) {
      log(e.Path + ": Its old content in the undo journal is damaged, so it was not restored");
      return TRestore::Refused;
    }
    return e.InPieces() ? RestoreFileInPieces(e, from, folder, journal, log) : RestoreFile(e, old, folder, journal, log);
  } catch (const std::bad_alloc&) {
    log(e.Path + ": Out of memory, so it was not restored");
    return TRestore::Failed;
  }
}

// Opens and locks the journal of a run to undo, and reads it under the lock. False with
// `outcome` telling why.
bool TakeJournal(const std::string& path, TOwnFile& file, TJournalContent& content, TUndoOutcome& outcome) {
  if (!OpenJournal(path, true, file, outcome.Error)) return false;
  std::string error;
  TOwnFile::TLock lock = TOwnFile::TLock::Busy;
  // A listing holds a shared lock for a moment; a run or an undo holds it to its end.
  for (int attempt = 0; attempt < 50 && (lock = file.TryLock(error)) == TOwnFile::TLock::Busy; ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const bool read = ReadContent(file.Stream(), path, true, content, error);
  if (lock == TOwnFile::TLock::Failed) {
    outcome.Error = "The undo journal " + path + " cannot be locked (" + error + ")";
    return false;
  }
  if (!read) {
    outcome.Error = "The undo journal " + path + " cannot be read (" + error + ")";
    return false;
  }
  const std::string what = (content.Run.Kind == "undo" ? "undo of the replace of " : "replace of ") +
                           Quoted(content.Run.Target) + " with " + Quoted(content.Run.Replacement);
  if (lock == TOwnFile::TLock::Busy) {
    outcome.Busy = true;
    outcome.Error = content.State == StateRunning && !content.EndRecord
                        ? "The " + what + " is still running (its journal " + path + " is in use); undo it once it has ended"
                        : "Another undo of the " + what + " is running (its journal " + path + " is in use)";
    return false;
  }
  if (content.State == StateUndone) {
    outcome.AlreadyUndone = true;
    outcome.Error = "The " + what + " has been undone already";
    return false;
  }
  return true;
}

// An undo at work: the journal it was given, and when that is the journal of an undo that
// was interrupted, the journal of the run that undo undid; and the journal the undo keeps.
// (In this order: the journals' files close in the reverse one.)
struct TUndoWork {
  TOwnFile File;
  TJournalContent Content;
  TUndoJournalWriter Journal;
  TOwnFile UndoneFile;
  TJournalContent Undone;
  std::string UndonePath;
};

// An undo that was interrupted: the run it undid is taken up again, into the same journal,
// when that run is still there to undo. Takes that run's journal, and names the run in
// `outcome.Resumed`; false, with `outcome` telling why, when another undo of it is at work.
bool TakeUndoneRun(const std::string& journalPath, TUndoWork& w, TUndoOutcome& outcome) {
  const TJournalContent& content = w.Content;
  if (!(content.Run.Kind == "undo" && content.State == StateRunning && !content.EndRecord && JournalName(content.Run.Undoes)))
    return true;
  w.UndonePath = (fs::path(journalPath).parent_path() / content.Run.Undoes).string();
  TUndoOutcome taken;
  if (PathEntryExists(w.UndonePath) && TakeJournal(w.UndonePath, w.UndoneFile, w.Undone, taken)) {
    TJournalInfo info;
    FillInfo(w.UndonePath, w.Undone, info);
    outcome.Resumed = DescribeRun(info);
  } else if (taken.Busy) {
    outcome = taken;
    return false;
  }
  return true;
}

// Creates the journal of an undo of the run of `undone` (kept in `journalPath`).
bool CreateUndoJournal(TUndoJournalWriter& journal, const std::string& undoFolder, const TJournalRun& undone,
                       const std::string& journalPath, TUndoOutcome& outcome) {
  TJournalRun undo;
  undo.Time = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  undo.Kind = "undo";
  undo.Target = undone.Target;
  undo.Replacement = undone.Replacement;
  undo.Directory = undone.Directory;
  undo.RealDirectory = undone.RealDirectory;
  undo.Undoes = FileNameOfPath(journalPath);
  if (!journal.Create(undoFolder, undo)) {
    outcome.Error = journal.Error();
    return false;
  }
  return true;
}

}  // namespace

TUndoOutcome UndoJournal(const std::string& journalPath, const std::string& undoFolder,
                         const std::function<void(const std::string&)>& log) {
  TUndoOutcome outcome;
  TUndoWork w;
  if (!TakeJournal(journalPath, w.File, w.Content, outcome)) return outcome;
  if (!TakeUndoneRun(journalPath, w, outcome)) return outcome;
  const bool resuming = !outcome.Resumed.empty();
  if (resuming && !w.Journal.Continue(std::move(w.File), journalPath, w.Content.WholeEnd, w.Content.Files)) {
    outcome.Error = w.Journal.Error();
    return outcome;
  }
  TJournalContent& run = resuming ? w.Undone : w.Content;
  TOwnFile& runFile = resuming ? w.UndoneFile : w.File;
  for (const std::string& line : run.Damage) log(line);
  outcome.Damaged = static_cast<int32_t>(run.Damage.size());

  const bool journalled = !undoFolder.empty();
  if (journalled && !resuming && !CreateUndoJournal(w.Journal, undoFolder, run.Run, journalPath, outcome)) return outcome;
  const bool writing = journalled || resuming;
  // Last file first: should a file appear twice, its oldest content is what stays.
  for (auto e = run.Entries.rbegin(); e != run.Entries.rend(); ++e) {
    const TRestore result = RestoreEntry(*e, runFile.Stream(), run.Run.RealDirectory, writing ? &w.Journal : nullptr, log);
    if (result == TRestore::Restored) ++outcome.Restored;
    if (result == TRestore::Refused || result == TRestore::Failed) ++outcome.Refused;
    if (result == TRestore::Failed) ++outcome.Failed;
    if (result == TRestore::Unchanged) ++outcome.Unchanged;
  }
  if (outcome.Failed > 0) {
    // A file could not be written now: the undo stays unfinished, as if it had been killed,
    // so that the next one takes up what is left once the cause is mended.
    if (writing) w.Journal.Leave();
    return outcome;
  }
  if (writing && !w.Journal.Finish()) log(w.Journal.Error());
  // The run has been undone to its end (what was refused is named): it is not offered again.
  if (!WriteState(runFile, StateUndone, run.EndLength))
    log("The undo journal " + (resuming ? w.UndonePath : journalPath) + " cannot be marked as undone (" +
        SystemErrorText(errno) + ")");
  return outcome;
}

}  // namespace trawlex
