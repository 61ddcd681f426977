// POSIX backend of the file-system facilities. errno is the last system error
// code; every call that can be interrupted is retried on EINTR here and nowhere else.

#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace platform {
namespace {

template <typename Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

// Closes a descriptor without disturbing the error code of the failure that led here.
void CloseQuietly(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

std::uint32_t AttributesOf(const struct stat& st) {
  std::uint32_t attributes = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= faReadOnly;
  return attributes;
}

}  // namespace

const TPathRules& HostPathRules() { return PosixPathRules; }

int LastSystemError() { return errno; }
void SetLastSystemError(int code) { errno = code; }
std::string SystemErrorText(int code) { return std::strerror(code); }
int AccessDeniedError() { return EACCES; }
bool IsMissingFolderError(int code) { return code == ENOENT; }

std::string FullPath(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return {};
  }
  std::string whole;
  if (path[0] == '/') {
    whole = path;
  } else {
    std::string current(4096, '\0');
    while (::getcwd(current.data(), current.size()) == nullptr) {
      if (errno != ERANGE) return {};
      current.resize(current.size() * 2);
    }
    current.resize(std::strlen(current.c_str()));
    whole = current + "/" + path;
  }
  // Links are not resolved, as the Win32 call does not resolve them.
  return FoldDotSteps(whole, PosixPathRules);
}

std::string TempFolder() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  std::string folder = (fromEnvironment != nullptr && *fromEnvironment != '\0') ? fromEnvironment : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string ProgramFolder() {
  // Linux names the program's own file here; a system without it gives no folder.
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool MakeFolder(const std::string& path) {
  return RetryOnInterrupt([&] { return ::mkdir(path.c_str(), 0777); }) == 0;
}

bool RemoveFolder(const std::string& path) {
  return RetryOnInterrupt([&] { return ::rmdir(path.c_str()); }) == 0;
}

std::string MakePrivateFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = parent + prefix + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return {};  // mkdtemp creates it with mode 0700
  return pattern + "/";
}

std::optional<std::uint32_t> ReadAttributes(const std::string& path) {
  struct stat st {};
  if (RetryOnInterrupt([&] { return ::stat(path.c_str(), &st); }) != 0) return std::nullopt;
  return AttributesOf(st);
}

bool WriteAttributes(const std::string& path, std::uint32_t attributes) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    errno = EPERM;
    return false;
  }
  mode_t mode = st.st_mode & 0777;
  mode = (attributes & faReadOnly) != 0 ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
  return RetryOnInterrupt([&] { return ::chmod(path.c_str(), mode); }) == 0;
}

std::optional<TFileKind> QueryFileKind(const std::string& path) {
  struct stat st {};
  if (RetryOnInterrupt([&] { return ::stat(path.c_str(), &st); }) != 0) return std::nullopt;
  if (S_ISREG(st.st_mode)) return TFileKind::Regular;
  return S_ISDIR(st.st_mode) ? TFileKind::Folder : TFileKind::Other;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool MakeSymbolicLink(const std::string& target, const std::string& path) {
  return ::symlink(target.c_str(), path.c_str()) == 0;
}

bool SetPathOwner(const std::string& path, TFileOwner owner) {
  return ::lchown(path.c_str(), static_cast<uid_t>(owner.User), static_cast<gid_t>(owner.Group)) == 0;
}

bool SetPathPermissions(const std::string& path, std::optional<std::uint32_t> mode, bool readOnly) {
  if (!mode && !readOnly) return true;
  // Opened without following a link, and changed through that handle: a link
  // put at the path meanwhile fails the open instead of passing the change on.
  // Without blocking: a FIFO put there is not waited on.
  const int fd = RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return false;
  mode_t bits = 0;
  if (mode) {
    bits = static_cast<mode_t>(*mode & 07777);
  } else {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      CloseQuietly(fd);
      return false;
    }
    bits = st.st_mode & 07777 & ~mode_t{0222};
  }
  const bool done = ::fchmod(fd, bits) == 0;
  CloseQuietly(fd);
  return done;
}

namespace {

/// The last-write time of what stands at path: through a link, or of the link itself.
bool SetLastWriteTime(const std::string& path, TFileTime time, int flags) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.Seconds);
  times[1].tv_nsec = time.Nanoseconds;
  return ::utimensat(AT_FDCWD, path.c_str(), times, flags) == 0;
}

}  // namespace

bool SetFileLastWriteTime(const std::string& path, TFileTime time) { return SetLastWriteTime(path, time, 0); }

bool SetPathLastWriteTime(const std::string& path, TFileTime time) {
  return SetLastWriteTime(path, time, AT_SYMLINK_NOFOLLOW);
}

// POSIX file systems have no named streams: no file carries the mark, nor can.
std::optional<std::string> ReadZoneIdentifier(const std::string&) { return std::nullopt; }
bool WriteZoneIdentifier(const std::string&, const std::string&) { return false; }

std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<TFolderEntry> entries;
  const int dirFd = ::dirfd(dir);
  errno = 0;
  while (const dirent* item = ::readdir(dir)) {
    TFolderEntry entry;
    entry.Name = item->d_name;
    struct stat st {};
    // lstat: a link is listed as a file, so a walk deletes it and never follows it.
    if (::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry.Attributes = S_ISLNK(st.st_mode) ? faArchive : AttributesOf(st);
    } else {
      entry.Attributes = faArchive;
    }
    entries.push_back(std::move(entry));
    errno = 0;
  }
  const int readError = errno;
  ::closedir(dir);
  if (readError != 0) {
    errno = readError;
    return std::nullopt;
  }
  return entries;
}

bool CopyFileOver(const std::string& source, const std::string& target) {
  if (SameFile(source, target)) {
    // Copying a file onto itself would truncate it before reading it.
    errno = EINVAL;
    return false;
  }
  TFile in = TFile::Open(source, TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting);
  if (!in.IsOpen()) return false;
  const std::int64_t size = in.Size();
  if (size < 0) return false;
  TFileReplacement out;
  if (!out.Begin(target, source)) return false;
  if (out.File().CopyFrom(in, 0, size) != size) return false;
  // A file that grew while it was copied is copied to its new end.
  for (;;) {
    const std::int64_t copied = out.File().Seek(0, TSeekOrigin::Current);
    const std::int64_t more = out.File().CopyFrom(in, copied, std::int64_t{1} << 30);
    if (more < 0) return false;
    if (more == 0) break;
  }
  return out.Commit();
}

bool RenameFile(const std::string& source, const std::string& target) {
  return ::rename(source.c_str(), target.c_str()) == 0;
}

bool RenameFileOver(const std::string& source, const std::string& target) {
  // rename replaces the target's name in one step, whatever its permission bits.
  return ::rename(source.c_str(), target.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
  return RetryOnInterrupt([&] { return ::unlink(path.c_str()); }) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const int saved = errno;
  struct stat sa {
  }, sb{};
  const bool same =
      ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  errno = saved;
  return same;
}

std::optional<TCalendar> UtcToLocal(TFileTime time) {
  const std::time_t seconds = static_cast<std::time_t>(time.Seconds);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  return TCalendar{local.tm_year + 1900, local.tm_mon + 1,          local.tm_mday, local.tm_hour, local.tm_min,
                   local.tm_sec,         time.Nanoseconds / 1000000};
}

std::optional<TFileTime> LocalToUtc(const TCalendar& c) {
  std::tm local{};
  local.tm_year = c.Year - 1900;
  local.tm_mon = c.Month - 1;
  local.tm_mday = c.Day;
  local.tm_hour = c.Hour;
  local.tm_min = c.Minute;
  local.tm_sec = c.Second;
  local.tm_isdst = -1;
  errno = 0;
  const std::time_t seconds = ::mktime(&local);
  if (seconds == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
  return TFileTime{static_cast<std::int64_t>(seconds), c.Millisecond * 1000000};
}

// ---- TFile ------------------------------------------------------------------------

TFile::~TFile() {
  if (IsOpen()) CloseQuietly(static_cast<int>(handle_));
}

TFile TFile::Open(const std::string& path, TFileAccess access, TFileShare, TFileCreation creation,
                  std::uint32_t permissions) {
  int flags = O_CLOEXEC;
  switch (access) {
    case TFileAccess::Read:
      flags |= O_RDONLY;
      break;
    case TFileAccess::Write:
      flags |= O_WRONLY;
      break;
    case TFileAccess::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  if (creation == TFileCreation::CreateAlways) flags |= O_CREAT | O_TRUNC;
  // With O_EXCL a link at the path fails the call like any other name.
  if (creation == TFileCreation::CreateNew) flags |= O_CREAT | O_EXCL;
  const int fd = RetryOnInterrupt([&] { return ::open(path.c_str(), flags, static_cast<mode_t>(permissions & 0777)); });
  if (fd < 0) return TFile();
  // The system opens no folder for writing (EISDIR); only a read can meet one.
  if (access != TFileAccess::Read) return TFile(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) errno = EISDIR;
    CloseQuietly(fd);
    return TFile();
  }
  return TFile(fd);
}

TFile TFile::StandardInput() {
  const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  return fd < 0 ? TFile() : TFile(fd);
}

std::int64_t TFile::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = RetryOnInterrupt([&] { return ::read(static_cast<int>(handle_), bytes + done, count - done); });
    if (got < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t TFile::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put =
        RetryOnInterrupt([&] { return ::write(static_cast<int>(handle_), bytes + done, count - done); });
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    done += static_cast<std::size_t>(put);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t TFile::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::Begin ? SEEK_SET : origin == TSeekOrigin::Current ? SEEK_CUR : SEEK_END;
  return ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), whence);
}

std::int64_t TFile::Size() {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
}

std::optional<TFileKind> TFile::Kind() {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  if (S_ISREG(st.st_mode)) return TFileKind::Regular;
  return S_ISDIR(st.st_mode) ? TFileKind::Folder : TFileKind::Other;
}

bool TFile::FlushToDisk() {
  return RetryOnInterrupt([&] { return ::fsync(static_cast<int>(handle_)); }) == 0;
}

std::optional<TFileTime> TFile::LastWriteTime() {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  knownMode_ = static_cast<std::int32_t>(st.st_mode & 07777);
  return TFileTime{static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
}

bool TFile::SetLastWriteTime(TFileTime time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.Seconds);
  times[1].tv_nsec = time.Nanoseconds;
  return ::futimens(static_cast<int>(handle_), times) == 0;
}

bool TFile::ApplyAttributes(std::uint32_t attributes, std::optional<std::uint32_t> unixMode) {
  mode_t current = 0;
  if (knownMode_ >= 0) {
    current = static_cast<mode_t>(knownMode_);
  } else {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) return false;
    current = st.st_mode & 07777;
  }
  mode_t mode = current & 0777;
  if (unixMode) mode = static_cast<mode_t>(*unixMode & 0777) | S_IRUSR | S_IWUSR;
  mode = (attributes & faReadOnly) != 0 ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
  // A file created with these bits already has them.
  if (mode == current) return true;
  knownMode_ = -1;
  return ::fchmod(static_cast<int>(handle_), mode) == 0;
}

bool TFile::SetMode(std::uint32_t mode) {
  // A file created with these bits already has them.
  if (knownMode_ >= 0 && static_cast<std::uint32_t>(knownMode_) == (mode & 07777)) return true;
  knownMode_ = -1;
  return ::fchmod(static_cast<int>(handle_), static_cast<mode_t>(mode & 07777)) == 0;
}

bool TFile::SetOwner(TFileOwner owner) {
  knownMode_ = -1;
  return ::fchown(static_cast<int>(handle_), static_cast<uid_t>(owner.User), static_cast<gid_t>(owner.Group)) == 0;
}

std::int64_t TFile::CopyFrom(TFile& source, std::int64_t offset, std::int64_t count) {
  const int in = static_cast<int>(source.handle_);
  const int out = static_cast<int>(handle_);
  std::int64_t done = 0;
  bool kernelCopy = true;
  std::vector<char> buffer;
  while (done < count) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - done, std::int64_t{1} << 30));
    if (kernelCopy) {
      loff_t from = offset + done;
      const ssize_t moved = ::copy_file_range(in, &from, out, nullptr, chunk, 0);
      if (moved > 0) {
        done += moved;
        continue;
      }
      if (moved == 0) break;  // the source ended early
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) {
        return done > 0 ? done : -1;
      }
      // The kernel cannot copy between these files: read and write instead.
      kernelCopy = false;
      buffer.resize(1 << 20);
    }
    const std::size_t piece = std::min(chunk, buffer.size());
    const ssize_t got =
        RetryOnInterrupt([&] { return ::pread(in, buffer.data(), piece, static_cast<off_t>(offset + done)); });
    if (got < 0) return done > 0 ? done : -1;
    if (got == 0) break;
    const std::int64_t put = Write(buffer.data(), static_cast<std::size_t>(got));
    if (put > 0) done += put;
    if (put != got) return done > 0 ? done : -1;
  }
  return done;
}

bool TFile::Close() {
  if (!IsOpen()) return true;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  knownMode_ = -1;
  return ::close(fd) == 0;
}

// ---- TFileBytes ---------------------------------------------------------------------

void TFileBytes::Release() {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
  mapped_ = false;
  data_ = nullptr;
  size_ = 0;
  copy_.clear();
}

bool TFileBytes::Load(TFile& file) {
  Release();
  const int fd = static_cast<int>(file.Handle());
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    void* map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      // The scanners read front to back.
      ::madvise(map, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
      data_ = static_cast<const char*>(map);
      size_ = static_cast<std::size_t>(st.st_size);
      mapped_ = true;
      return true;
    }
  }
  // Not mappable (empty, a device, a pipe): read it.
  return ReadAll(file);
}

// ---- TFileReplacement --------------------------------------------------------------

TFileReplacement::~TFileReplacement() {
  if (!temporary_.empty()) {
    const int saved = errno;
    file_.Close();
    ::unlink(temporary_.c_str());
    errno = saved;
  }
}

bool TFileReplacement::Begin(const std::string& target, const std::string& permissionsFrom) {
  std::string temporary = PathFolderPart(target, PosixPathRules) + ".corvane-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  temporary_ = temporary;
  target_ = target;
  file_ = TFile(fd);
  struct stat st {};
  mode_t mode = 0644;
  if (::stat(permissionsFrom.c_str(), &st) == 0) mode = (st.st_mode & 0777) | S_IRUSR | S_IWUSR;
  return ::fchmod(fd, mode) == 0;
}

bool TFileReplacement::Commit() {
  if (temporary_.empty()) {
    errno = EBADF;
    return false;
  }
  if (!file_.Close()) return false;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
  temporary_.clear();
  return true;
}

// ---- Console ----------------------------------------------------------------------

bool WriteConsoleText(TConsoleStream stream, std::string_view text) {
  std::FILE* target = stream == TConsoleStream::Output ? stdout : stderr;
  const bool written = std::fwrite(text.data(), 1, text.size(), target) == text.size();
  // A failed write of buffered bytes often shows only when they are passed on.
  return std::fflush(target) == 0 && written;
}

std::string_view ConsoleLineEnding() { return "\n"; }

bool ConsoleIsTerminal(TConsoleStream stream) {
  return ::isatty(stream == TConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

bool WriteConsoleLine(TConsoleStream stream, std::string_view text) {
  std::string line(text);
  line += ConsoleLineEnding();
  return WriteConsoleText(stream, line);
}

int ConsoleWidth(TConsoleStream stream) {
  winsize size{};
  if (::ioctl(stream == TConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace platform
