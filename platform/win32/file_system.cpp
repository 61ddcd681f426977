// Win32 backend of the file-system facilities, on the A-functions: paths are in
// the process's ANSI code page, which the programs' manifest makes UTF-8.
// GetLastError is the last system error code.

#include "platform/file_system.h"

// windows.h first: the other Windows headers build on its types.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/code_page.h"

namespace platform {
namespace {

// FILETIME counts 100-nanosecond steps from 1601-01-01.
constexpr std::int64_t TicksTo1970 = 116444736000000000LL;

TFileTime FromFileTime(const FILETIME& time) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) -
      TicksTo1970;
  std::int64_t seconds = ticks / 10000000;
  std::int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  return TFileTime{seconds, static_cast<std::int32_t>(rest * 100)};
}

FILETIME ToFileTime(TFileTime time) {
  const auto ticks = static_cast<std::uint64_t>(time.Seconds * 10000000 + time.Nanoseconds / 100 + TicksTo1970);
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(ticks);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Closes a handle without disturbing the error code of the failure that led here.
void CloseQuietly(HANDLE handle) {
  const DWORD saved = ::GetLastError();
  ::CloseHandle(handle);
  ::SetLastError(saved);
}

// The attribute bits that files can be given.
constexpr DWORD SettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

DWORD SettableFrom(std::uint32_t attributes) {
  const DWORD bits = attributes & SettableAttributes;
  return bits != 0 ? bits : FILE_ATTRIBUTE_NORMAL;
}

// The system calls take "/" for "\\" too: a file's folder, for a temporary file
// beside it, ends at either.
constexpr TPathRules SystemCallPathRules{"\\/:", '\\', true, true};

// An open handle for identity and attribute queries: no access to the data, every
// sharing mode, folders included.
struct TQueryHandle {
  HANDLE Handle;
  explicit TQueryHandle(const std::string& path)
      : Handle(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
  ~TQueryHandle() {
    if (Handle != INVALID_HANDLE_VALUE) CloseQuietly(Handle);
  }
  TQueryHandle(const TQueryHandle&) = delete;
  TQueryHandle& operator=(const TQueryHandle&) = delete;
  bool Info(BY_HANDLE_FILE_INFORMATION& info) const {
    return Handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(Handle, &info);
  }
};

// Memory that the system allocated with LocalAlloc.
struct TLocalFree {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// A security descriptor that lets only the current user into a folder and what it
// will hold; nothing when the system cannot say who the user is.
std::unique_ptr<void, TLocalFree> PrivateSecurityDescriptor() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  alignas(TOKEN_USER) unsigned char buffer[256];
  DWORD size = 0;
  const bool known = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) != FALSE;
  ::CloseHandle(token);
  if (!known) return nullptr;
  char* sid = nullptr;
  if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) return nullptr;
  const std::unique_ptr<char, TLocalFree> sidText(sid);
  // Protected (no inherited entries): full access for the user, inherited by
  // everything created inside.
  const std::string sddl = std::string("D:P(A;OICI;FA;;;") + sidText.get() + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return nullptr;
  }
  return std::unique_ptr<void, TLocalFree>(descriptor);
}

/// The name of a file's Mark of the Web stream, after the file's path.
constexpr std::string_view ZoneStream = ":Zone.Identifier";
/// A mark is a few lines of text; more is not one.
constexpr std::int64_t LargestZoneMark = 64 * 1024;

// A handle that CloseQuietly closes.
struct TQuietClose {
  void operator()(void* handle) const { CloseQuietly(handle); }
};

/// Whether the volume of a file keeps named streams (NTFS does, FAT does not): on
/// one that does not, "FILE:Zone.Identifier" is no stream of FILE. Asked through a
/// handle of the file, which needs no access to the volume's root.
bool VolumeKeepsStreams(const std::string& path) {
  const HANDLE opened =
      ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  const std::unique_ptr<void, TQuietClose> handle(opened);
  DWORD flags = 0;
  return ::GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != FALSE &&
         (flags & FILE_NAMED_STREAMS) != 0;
}

}  // namespace

const TPathRules& HostPathRules() { return Win32PathRules; }

int LastSystemError() { return static_cast<int>(::GetLastError()); }
int AccessDeniedError() { return ERROR_ACCESS_DENIED; }
bool IsMissingFolderError(int code) { return code == ERROR_PATH_NOT_FOUND; }
void SetLastSystemError(int code) { ::SetLastError(static_cast<DWORD>(code)); }

std::string SystemErrorText(int code) {
  char* text = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  const std::unique_ptr<char, TLocalFree> owned(text);
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

std::string FullPath(const std::string& path) {
  // The system's own buffer size for a path: longer full paths are refused, not cut.
  char buffer[MAX_PATH];
  const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, buffer, nullptr);
  if (length == 0) return {};
  if (length >= MAX_PATH) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return {};
  }
  return std::string(buffer, length);
}

std::string TempFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > MAX_PATH) return {};
  std::string folder(buffer, length);
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

std::string ProgramFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return {};
  std::string path(buffer, length);
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

bool MakeFolder(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

bool RemoveFolder(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != FALSE; }

std::string MakePrivateFolder(const std::string& parent, const std::string& prefix) {
  const auto descriptor = PrivateSecurityDescriptor();
  if (!descriptor) {
    // Without the user's own access list the folder would take the parent's,
    // which may let others in: no folder rather than an open one.
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_ACCESS_DENIED);
    return {};
  }
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  // A suffix from the process and the clock; creating the folder is the test of
  // uniqueness, so a name that exists already is passed over for the next one.
  LARGE_INTEGER clock{};
  ::QueryPerformanceCounter(&clock);
  std::uint64_t seed =
      (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 40) ^ static_cast<std::uint64_t>(clock.QuadPart);
  static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    std::string name = parent + prefix;
    std::uint64_t bits = seed >> 16;
    for (int i = 0; i < 6; ++i, bits /= 36) name += Letters[bits % 36];
    if (::CreateDirectoryA(name.c_str(), &security)) return name + "\\";
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

std::optional<std::uint32_t> ReadAttributes(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A link: what it points to.
    const TQueryHandle target(path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!target.Info(info)) return std::nullopt;
    return info.dwFileAttributes & 0xFF;
  }
  return attributes & 0xFF;
}

bool WriteAttributes(const std::string& path, std::uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), SettableFrom(attributes)) != FALSE;
}

std::optional<TFileKind> QueryFileKind(const std::string& path) {
  const std::optional<std::uint32_t> attributes = ReadAttributes(path);
  if (!attributes) return std::nullopt;
  if ((*attributes & faDirectory) != 0) return TFileKind::Folder;
  // A device name ("CON", "NUL") or a pipe: a handle that asks nothing of the data
  // tells which without taking a byte.
  const TQueryHandle query(path);
  if (query.Handle == INVALID_HANDLE_VALUE) return std::nullopt;
  return ::GetFileType(query.Handle) == FILE_TYPE_DISK ? TFileKind::Regular : TFileKind::Other;
}

bool IsSymbolicLink(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool MakeSymbolicLink(const std::string& target, const std::string& path) {
  // Stored targets separate their folders with "/"; the system's links with "\\".
  std::string systemTarget = target;
  std::replace(systemTarget.begin(), systemTarget.end(), '/', '\\');
  const std::string folder = PathFolder(path, Win32PathRules);
  const std::string resolved = folder.empty() ? systemTarget : folder + "\\" + systemTarget;
  DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (FolderExists(resolved)) flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
  bool made = ::CreateSymbolicLinkA(path.c_str(), systemTarget.c_str(), flags) != FALSE;
  // Systems before developer mode refuse the flag itself: once more without it,
  // for a process that holds the privilege.
  if (!made && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    made = ::CreateSymbolicLinkA(path.c_str(), systemTarget.c_str(),
                                 flags & ~DWORD{SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE}) != FALSE;
  }
  if (!made) return false;
  // Some systems (Wine among them) answer success and make nothing: only a link
  // that is there counts.
  if (IsSymbolicLink(path)) return true;
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

namespace {

/// The last-write time of what stands at path. Backup semantics open a folder; the
/// reparse-point flag opens a link itself.
bool SetLastWriteTime(const std::string& path, TFileTime time, DWORD flags) {
  const HANDLE handle =
      ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const FILETIME written = ToFileTime(time);
  const bool done = ::SetFileTime(handle, nullptr, nullptr, &written) != FALSE;
  const DWORD error = ::GetLastError();
  ::CloseHandle(handle);
  if (!done) ::SetLastError(error);
  return done;
}

}  // namespace

bool SetPathLastWriteTime(const std::string& path, TFileTime time) {
  return SetLastWriteTime(path, time, FILE_FLAG_OPEN_REPARSE_POINT);
}

bool SetFileLastWriteTime(const std::string& path, TFileTime time) { return SetLastWriteTime(path, time, 0); }

// Files here have no Unix owner, and folders no permission bits: both succeed
// without a change.
bool SetPathOwner(const std::string&, TFileOwner) { return true; }

bool SetPathPermissions(const std::string&, std::optional<std::uint32_t>, bool) { return true; }

std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& folder) {
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found{};
  const HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  std::vector<TFolderEntry> entries;
  if (search == INVALID_HANDLE_VALUE) {
    // A root without "." and "..", and nothing else in it.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return entries;
    return std::nullopt;
  }
  do {
    TFolderEntry entry;
    entry.Name = found.cFileName;
    entry.Attributes = found.dwFileAttributes & 0xFF;
    // A link is listed as a file, so a walk deletes it and never follows it.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) entry.Attributes &= ~faDirectory;
    entries.push_back(std::move(entry));
  } while (::FindNextFileA(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    ::SetLastError(error);
    return std::nullopt;
  }
  return entries;
}

bool CopyFileOver(const std::string& source, const std::string& target) {
  if (SameFile(source, target)) {
    // The system refuses it too: the file is open for reading while it would be written.
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  return ::CopyFileA(source.c_str(), target.c_str(), FALSE) != FALSE;
}

bool RenameFile(const std::string& source, const std::string& target) {
  return ::MoveFileA(source.c_str(), target.c_str()) != FALSE;
}

bool RenameFileOver(const std::string& source, const std::string& target) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING;
  if (::MoveFileExA(source.c_str(), target.c_str(), flags)) return true;
  // The system refuses to replace a read-only file: the attribute is cleared for
  // the move, and given back when the move fails all the same.
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesA(target.c_str());
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      !::SetFileAttributesA(target.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
    ::SetLastError(error);
    return false;
  }
  if (::MoveFileExA(source.c_str(), target.c_str(), flags)) return true;
  const DWORD moveError = ::GetLastError();
  ::SetFileAttributesA(target.c_str(), attributes);
  ::SetLastError(moveError);
  return false;
}

bool RemoveFile(const std::string& path) {
  if (::DeleteFileA(path.c_str())) return true;
  // A link to a folder is removed as a folder; the folder it points to stays.
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ::RemoveDirectoryA(path.c_str()) != FALSE;
  }
  ::SetLastError(error);
  return false;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const DWORD saved = ::GetLastError();
  bool same = false;
  const std::string fullA = FullPath(a), fullB = FullPath(b);
  if (!fullA.empty() && !fullB.empty() && AnsiCompareText(fullA, fullB) == 0) {
    same = true;
  } else {
    // Two spellings of one file: a short name, a hard link.
    const TQueryHandle first(a), second(b);
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    same = first.Info(x) && second.Info(y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
  }
  ::SetLastError(saved);
  return same;
}

// The conversions take the daylight-saving rule in force at the date converted,
// not today's offset as FileTimeToLocalFileTime does: an entry made in summer
// keeps its time when unpacked in winter, as on every other system.
std::optional<std::string> ReadZoneIdentifier(const std::string& path) {
  if (!VolumeKeepsStreams(path)) return std::nullopt;
  TFile stream =
      TFile::Open(path + std::string(ZoneStream), TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
  if (!stream.IsOpen()) return std::nullopt;
  const std::int64_t size = stream.Size();
  if (size <= 0 || size > LargestZoneMark) return std::nullopt;
  std::string mark(static_cast<std::size_t>(size), '\0');
  if (stream.Read(mark.data(), mark.size()) != size) return std::nullopt;
  return mark;
}

bool WriteZoneIdentifier(const std::string& path, const std::string& mark) {
  if (!VolumeKeepsStreams(path)) return false;
  TFile stream =
      TFile::Open(path + std::string(ZoneStream), TFileAccess::Write, TFileShare::None, TFileCreation::CreateAlways);
  if (!stream.IsOpen()) return false;
  const bool written = stream.Write(mark.data(), mark.size()) == static_cast<std::int64_t>(mark.size());
  return stream.Close() && written;
}

std::optional<TCalendar> UtcToLocal(TFileTime time) {
  const FILETIME utc = ToFileTime(time);
  SYSTEMTIME utcParts{}, parts{};
  if (!::FileTimeToSystemTime(&utc, &utcParts) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &parts)) {
    return std::nullopt;
  }
  return TCalendar{parts.wYear,   parts.wMonth,  parts.wDay,         parts.wHour,
                   parts.wMinute, parts.wSecond, parts.wMilliseconds};
}

std::optional<TFileTime> LocalToUtc(const TCalendar& c) {
  SYSTEMTIME parts{};
  parts.wYear = static_cast<WORD>(c.Year);
  parts.wMonth = static_cast<WORD>(c.Month);
  parts.wDay = static_cast<WORD>(c.Day);
  parts.wHour = static_cast<WORD>(c.Hour);
  parts.wMinute = static_cast<WORD>(c.Minute);
  parts.wSecond = static_cast<WORD>(c.Second);
  parts.wMilliseconds = static_cast<WORD>(c.Millisecond);
  SYSTEMTIME utcParts{};
  FILETIME utc{};
  if (!::TzSpecificLocalTimeToSystemTime(nullptr, &parts, &utcParts) || !::SystemTimeToFileTime(&utcParts, &utc)) {
    return std::nullopt;
  }
  return FromFileTime(utc);
}

// ---- TFile ------------------------------------------------------------------------

TFile::~TFile() {
  if (IsOpen()) CloseQuietly(AsHandle(handle_));
}

TFile TFile::Open(const std::string& path, TFileAccess access, TFileShare share, TFileCreation creation,
                  std::uint32_t) {
  DWORD desired = 0;
  switch (access) {
    case TFileAccess::Read:
      desired = GENERIC_READ;
      break;
    case TFileAccess::Write:
      desired = GENERIC_WRITE;
      break;
    case TFileAccess::ReadWrite:
      desired = GENERIC_READ | GENERIC_WRITE;
      break;
  }
  DWORD sharing = 0;
  switch (share) {
    case TFileShare::None:
      sharing = 0;
      break;
    case TFileShare::Read:
      sharing = FILE_SHARE_READ;
      break;
    case TFileShare::Write:
      sharing = FILE_SHARE_WRITE;
      break;
    case TFileShare::ReadWrite:
      sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
  }
  const DWORD disposition = creation == TFileCreation::CreateAlways ? CREATE_ALWAYS
                            : creation == TFileCreation::CreateNew  ? CREATE_NEW
                                                                    : OPEN_EXISTING;
  // Without backup semantics a folder cannot be opened: the system refuses it.
  const HANDLE handle =
      ::CreateFileA(path.c_str(), desired, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return TFile();
  const DWORD type = ::GetFileType(handle);
  if (type != FILE_TYPE_DISK && access != TFileAccess::Read) {
    // A reserved name ("CON", "NUL", "COM1.txt" ...) opens a device wherever it
    // stands in a path: written data would go to the device, or nowhere, and be
    // reported as a file. Only files are written.
    ::CloseHandle(handle);
    ::SetLastError(ERROR_INVALID_NAME);
    return TFile();
  }
  // A file this call created is no folder.
  if (type == FILE_TYPE_DISK && creation != TFileCreation::CreateNew) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      ::CloseHandle(handle);
      ::SetLastError(ERROR_ACCESS_DENIED);
      return TFile();
    }
  }
  return TFile(reinterpret_cast<std::intptr_t>(handle));
}

TFile TFile::StandardInput() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  HANDLE copy = nullptr;
  if (input == nullptr || input == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    if (input == nullptr) ::SetLastError(ERROR_INVALID_HANDLE);
    return TFile();
  }
  return TFile(reinterpret_cast<std::intptr_t>(copy));
}

std::int64_t TFile::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - done, std::size_t{1} << 30));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), bytes + done, piece, &got, nullptr)) {
      // The writing end of a pipe went away: that is its end.
      if (::GetLastError() == ERROR_BROKEN_PIPE) break;
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t TFile::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - done, std::size_t{1} << 30));
    DWORD put = 0;
    if (!::WriteFile(AsHandle(handle_), bytes + done, piece, &put, nullptr) || put == 0) {
      if (put == 0 && ::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_DISK_FULL);
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    done += put;
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t TFile::Seek(std::int64_t offset, TSeekOrigin origin) {
  const DWORD method = origin == TSeekOrigin::Begin     ? FILE_BEGIN
                       : origin == TSeekOrigin::Current ? FILE_CURRENT
                                                        : FILE_END;
  LARGE_INTEGER distance{}, position{};
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(AsHandle(handle_), distance, &position, method)) return -1;
  return position.QuadPart;
}

std::int64_t TFile::Size() {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

std::optional<TFileKind> TFile::Kind() {
  const DWORD type = ::GetFileType(AsHandle(handle_));
  if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) return std::nullopt;
  // Open handles are never folders here: Open refuses them.
  return type == FILE_TYPE_DISK ? TFileKind::Regular : TFileKind::Other;
}

bool TFile::FlushToDisk() { return ::FlushFileBuffers(AsHandle(handle_)) != FALSE; }

std::optional<TFileTime> TFile::LastWriteTime() {
  FILETIME written{};
  if (!::GetFileTime(AsHandle(handle_), nullptr, nullptr, &written)) return std::nullopt;
  return FromFileTime(written);
}

bool TFile::SetLastWriteTime(TFileTime time) {
  const FILETIME written = ToFileTime(time);
  return ::SetFileTime(AsHandle(handle_), nullptr, nullptr, &written) != FALSE;
}

bool TFile::SetMode(std::uint32_t mode) {
  // Of the permission bits only the owner's write bit has a counterpart.
  return ApplyAttributes((mode & 0200) != 0 ? faArchive : faArchive | faReadOnly, std::nullopt);
}

bool TFile::SetOwner(TFileOwner) { return true; }

bool TFile::ApplyAttributes(std::uint32_t attributes, std::optional<std::uint32_t>) {
  // Unix permission bits have no counterpart here; the attribute bits do. Zero
  // times leave the file's times as they are.
  FILE_BASIC_INFO info{};
  info.FileAttributes = SettableFrom(attributes);
  return ::SetFileInformationByHandle(AsHandle(handle_), FileBasicInfo, &info, sizeof info) != FALSE;
}

std::int64_t TFile::CopyFrom(TFile& source, std::int64_t offset, std::int64_t count) {
  const std::int64_t resume = source.Seek(0, TSeekOrigin::Current);
  if (resume < 0 || source.Seek(offset, TSeekOrigin::Begin) < 0) return -1;
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(std::max<std::int64_t>(count, 1), 1 << 20)));
  std::int64_t done = 0;
  bool failed = false;
  while (done < count) {
    const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(count - done, buffer.size()));
    const std::int64_t got = source.Read(buffer.data(), piece);
    if (got < 0) {
      failed = true;
      break;
    }
    if (got == 0) break;  // the source ended early
    const std::int64_t put = Write(buffer.data(), static_cast<std::size_t>(got));
    if (put > 0) done += put;
    if (put != got) {
      failed = true;
      break;
    }
  }
  const DWORD error = ::GetLastError();
  source.Seek(resume, TSeekOrigin::Begin);
  ::SetLastError(error);
  return failed && done == 0 ? -1 : done;
}

bool TFile::Close() {
  if (!IsOpen()) return true;
  const HANDLE handle = AsHandle(handle_);
  handle_ = -1;
  return ::CloseHandle(handle) != FALSE;
}

// ---- TFileBytes ---------------------------------------------------------------------

// A file with a mapped view cannot be replaced on this system (the rename over it
// is refused while the view lives), and a view must survive that: the bytes are
// read into memory instead.

void TFileBytes::Release() {
  data_ = nullptr;
  size_ = 0;
  copy_.clear();
}

bool TFileBytes::Load(TFile& file) {
  Release();
  const std::int64_t size = file.Size();
  if (size > 0) copy_.reserve(static_cast<std::size_t>(size));
  return ReadAll(file);
}

// ---- TFileReplacement --------------------------------------------------------------

TFileReplacement::~TFileReplacement() {
  if (!temporary_.empty()) {
    const DWORD saved = ::GetLastError();
    file_.Close();
    ::DeleteFileA(temporary_.c_str());
    ::SetLastError(saved);
  }
}

bool TFileReplacement::Begin(const std::string& target, const std::string&) {
  // Permission bits do not exist here; the new file starts with normal attributes.
  const std::string folder = PathFolderPart(target, SystemCallPathRules);
  char name[MAX_PATH];
  if (!::GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "cvn", 0, name)) return false;
  temporary_ = name;  // created, so the destructor removes it from here on
  target_ = target;
  file_ = TFile::Open(temporary_, TFileAccess::Write, TFileShare::None, TFileCreation::CreateAlways);
  return file_.IsOpen();
}

bool TFileReplacement::Commit() {
  if (temporary_.empty()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!file_.Close()) return false;
  if (!::MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  temporary_.clear();
  return true;
}

// ---- Console ----------------------------------------------------------------------

bool ConsoleIsTerminal(TConsoleStream stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(stream == TConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE),
                          &mode) != 0;
}

bool WriteConsoleText(TConsoleStream stream, std::string_view text) {
  std::FILE* buffered = stream == TConsoleStream::Output ? stdout : stderr;
  std::fflush(buffered);
  const HANDLE handle = ::GetStdHandle(stream == TConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (text.empty()) return true;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    // A console shows characters, whatever its own code page: give it UTF-16.
    const std::u16string wide = AnsiToUtf16(text);
    DWORD written = 0;
    return ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != FALSE &&
           written == wide.size();
  }
  // Redirected: the bytes as they are.
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, std::size_t{1} << 30));
    if (!::WriteFile(handle, text.data() + done, piece, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += written;
  }
  return true;
}

std::string_view ConsoleLineEnding() { return "\r\n"; }

int ConsoleWidth(TConsoleStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(
          ::GetStdHandle(stream == TConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), &info))
    return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool WriteConsoleLine(TConsoleStream stream, std::string_view text) {
  std::string line(text);
  line += ConsoleLineEnding();
  return WriteConsoleText(stream, line);
}

}  // namespace platform
