#pragma once
// The file-system facilities that corvane, tessaly and the zip component ask of the
// operating system. Every call states its contract here once; the POSIX and Win32
// backends honour it alike. Paths are byte strings in the system's ANSI code page
// (UTF-8 on POSIX). No call throws; failures show in the result and in the last
// system error code, as with the calls these stand in for.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path.h"

namespace platform {

// ---- Last system error -------------------------------------------------------

/// System error codes the callers test for; a missing file is 2 on both systems.
inline constexpr int ErrorFileNotFound = 2;

/// The calling thread's last system error code (errno on POSIX).
int LastSystemError();
/// Sets the calling thread's last system error code; 0 clears it.
void SetLastSystemError(int code);
/// A short text for a system error code, for messages on stderr.
std::string SystemErrorText(int code);
/// The system's code for a denied access (EACCES, ERROR_ACCESS_DENIED), for a
/// caller that refuses an access itself and reports it as the system would.
int AccessDeniedError();
/// True when the code says a folder on the way to the path is missing (ENOENT;
/// ERROR_PATH_NOT_FOUND).
bool IsMissingFolderError(int code);

// ---- Paths and folders -------------------------------------------------------

/// Absolute form of a path: relative paths are taken from the current directory,
/// "." and ".." steps are folded, links are not resolved. Empty on failure.
std::string FullPath(const std::string& path);

/// The temporary-files directory, ending with a separator; empty on failure.
std::string TempFolder();

/// The folder of the running program itself, ending with a separator (where the
/// programs of a package keep what ships beside them); empty when the system
/// cannot tell.
std::string ProgramFolder();

/// Creates one folder (its parent must exist). False on failure, error code set.
bool MakeFolder(const std::string& path);
/// Creates a folder and its missing parents, however the path spells it (doubled
/// or trailing separators, "." steps), outermost first. An empty path, a root and a
/// drive are left alone, and so is anything before a drive's ":". Failures are not
/// reported: what needs the folder fails then.
void ForceFolders(const std::string& path, const TPathRules& rules = HostPathRules());
/// Removes one empty folder. False on failure, error code set.
bool RemoveFolder(const std::string& path);
/// Creates a new folder "parent + prefix + unique suffix" that only the current
/// user may enter (mode 0700), and returns its path ending with a separator.
/// Two calls never return the same folder. Empty on failure, error code set; a
/// folder that cannot be closed to others is a failure, never made open.
std::string MakePrivateFolder(const std::string& parent, const std::string& prefix);

// ---- Attributes ----------------------------------------------------------------

/// File attribute bits, with the values the archive format stores in the low byte
/// of an entry's external attributes.
enum : std::uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeId = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faNormal = 0x80,
};

/// The attributes of a file or folder; nothing when it cannot be queried (error
/// code set). A link is reported as what it points to.
std::optional<std::uint32_t> ReadAttributes(const std::string& path);
/// Sets the attributes that the system can express (on POSIX: read-only clears
/// every write bit, otherwise the owner may write). False on failure.
bool WriteAttributes(const std::string& path, std::uint32_t attributes);
/// True when the path names an existing folder.
bool FolderExists(const std::string& path);
/// True when the path names something that exists and is no folder.
bool FileExists(const std::string& path);

/// What a path names, as far as reading it goes.
enum class TFileKind {
  Regular,  ///< a file on disk: it has a size and can be read anywhere in it
  Folder,
  Other,  ///< a pipe, a FIFO, a device, a socket: read once, front to back
};
/// The kind of what the path names (a link: of what it points to), asked without
/// opening it, so that nothing is taken from a pipe; nothing when it cannot be
/// queried (error code set).
std::optional<TFileKind> QueryFileKind(const std::string& path);
/// True when the path itself is a symbolic link (whatever it points to, a missing
/// target included); false for anything else or when it cannot be queried.
bool IsSymbolicLink(const std::string& path);

/// The owner of a file where the system has owners: a Unix user and group ID.
struct TFileOwner {
  std::uint32_t User = 0;
  std::uint32_t Group = 0;
};

/// Gives what the path names the owner, a link itself rather than what it leads
/// to. Where files have no owners of this kind (Win32) it does nothing and
/// succeeds. False on failure (error code set; a user may not give files away).
bool SetPathOwner(const std::string& path, TFileOwner owner);
/// Gives the file or folder at path its permission bits: mode exactly (07777,
/// setuid, setgid and sticky included) when given, else its own bits less every
/// write bit when readOnly, else nothing. What stands at the path itself, never
/// what a link there leads to (such a path fails). Where files have no such bits
/// (Win32) it does nothing and succeeds. False on failure (error code set).
bool SetPathPermissions(const std::string& path, std::optional<std::uint32_t> mode, bool readOnly);

/// Makes a symbolic link at path that leads to target, kept as given (a relative
/// target counts from the link's folder). Fails when anything is at path. On
/// Windows only where the process may (developer mode, or the privilege to make
/// links); the link is a folder link when its target is a folder now. False on
/// failure (error code set).
bool MakeSymbolicLink(const std::string& target, const std::string& path);

/// One entry of a folder listing. A link is listed as a plain file, never as a
/// folder, so that a walk deletes the link and never follows it.
struct TFolderEntry {
  std::string Name;
  std::uint32_t Attributes = 0;
};

/// Every entry of a folder, "." and ".." included as the system lists them.
/// Nothing when the folder cannot be read (error code set).
std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& folder);

// ---- Whole files ---------------------------------------------------------------

/// Copies a file over the target, replacing it. Never truncates the source: copying
/// a file onto itself fails. False on failure, error code set; success leaves the
/// error code untouched.
bool CopyFileOver(const std::string& source, const std::string& target);
/// Renames a file. False on failure, error code set.
bool RenameFile(const std::string& source, const std::string& target);
/// Renames a file over the target in one step: a file that stands at the target
/// (read-only or not; a link is replaced, never followed) gives way to the source,
/// and no moment leaves the target's name without one of the two. Both names lie
/// on one volume (the source beside the target, say). A folder at the target is
/// never replaced. False on failure (error code set); both files are then as they
/// were.
bool RenameFileOver(const std::string& source, const std::string& target);
/// Deletes a file (a link is deleted, not followed). False on failure.
bool RemoveFile(const std::string& path);
/// True when both paths name the same file: byte-exact on POSIX or the same
/// device and inode; without regard to case on Win32.
bool SameFile(const std::string& a, const std::string& b);
/// The Mark of the Web of a file: the text of its "Zone.Identifier" stream, which
/// Windows gives what came from the internet. Nothing when it has none, when its
/// volume keeps no named streams, and on POSIX, which has no such streams.
std::optional<std::string> ReadZoneIdentifier(const std::string& path);
/// Gives a file the Mark of the Web: writes mark as its "Zone.Identifier" stream,
/// on a volume that keeps named streams. False when nothing was written (always
/// on POSIX).
bool WriteZoneIdentifier(const std::string& path, const std::string& mark);

// ---- Times -----------------------------------------------------------------------

/// A point in time, UTC, as seconds and nanoseconds since 1970-01-01.
struct TFileTime {
  std::int64_t Seconds = 0;
  std::int32_t Nanoseconds = 0;
  friend bool operator==(const TFileTime&, const TFileTime&) = default;
};

/// A broken-down local date and time.
struct TCalendar {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

/// Sets the last-write time of what the path names, a link itself rather than
/// what it leads to, a folder included. False on failure (error code set).
bool SetPathLastWriteTime(const std::string& path, TFileTime time);

/// Sets the last-write time of the file the path names, through a link to what
/// it leads to. False on failure (error code set).
bool SetFileLastWriteTime(const std::string& path, TFileTime time);

/// The local calendar time of a UTC time; nothing when the system cannot say.
std::optional<TCalendar> UtcToLocal(TFileTime time);
/// The UTC time of a local calendar time; nothing when it does not exist.
std::optional<TFileTime> LocalToUtc(const TCalendar& local);

// ---- Open files ------------------------------------------------------------------

enum class TFileAccess { Read, Write, ReadWrite };
/// What others may do with the file meanwhile (Win32 sharing; ignored on POSIX).
enum class TFileShare { None, Read, Write, ReadWrite };
enum class TFileCreation {
  OpenExisting,  ///< fail when missing
  CreateAlways,  ///< create, or truncate an existing file
  CreateNew,     ///< create; fail when anything stands at the path (a link is never followed)
};
enum class TSeekOrigin { Begin, Current, End };

/// A move-only open file. The destructor closes it.
class TFile {
 public:
  TFile() = default;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  TFile(TFile&& other) noexcept;
  TFile& operator=(TFile&& other) noexcept;
  ~TFile();

  /// Opens or creates a file. The result is closed on failure (error code set).
  /// A folder cannot be opened. A file that this call creates starts with the
  /// permission bits permissions, as far as the umask lets them (ignored on Win32).
  static TFile Open(const std::string& path, TFileAccess access, TFileShare share, TFileCreation creation,
                    std::uint32_t permissions = 0666);
  /// The process's standard input, as a file of its own (closing it leaves the
  /// standard input open); closed when there is none (error code set).
  static TFile StandardInput();

  bool IsOpen() const { return handle_ >= 0; }
  /// Reads up to count bytes; fewer at the end of the file, or when a read fails
  /// after some bytes came (the count read so far; error code set). -1 when the
  /// first read fails.
  std::int64_t Read(void* buffer, std::size_t count);
  /// Writes count bytes; returns the count written, less than count only on
  /// failure (error code set). -1 when nothing could be written.
  std::int64_t Write(const void* buffer, std::size_t count);
  /// Moves the file position; the new position, or -1 on failure.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
  /// The file's size, or -1 on failure.
  std::int64_t Size();
  /// What the open file is (fkOther: a pipe, a FIFO, a device, which can be read
  /// only once, front to back); nothing when the system cannot say.
  std::optional<TFileKind> Kind();
  /// Asks the system to write the file's buffers to disk.
  bool FlushToDisk();
  /// The file's last-write time. On POSIX the permission bits come with it, and
  /// a following ApplyAttributes that finds them as they should be asks nothing more.
  std::optional<TFileTime> LastWriteTime();
  /// Sets the last-write time; other times are left alone.
  bool SetLastWriteTime(TFileTime time);
  /// Gives the open file an archive entry's attributes in one step: a Unix-made
  /// entry's permission bits (mode & 0777, owner read and write kept; never setuid,
  /// setgid or sticky), then the read-only bit of the attributes (read-only clears
  /// every write bit, otherwise the owner may write).
  bool ApplyAttributes(std::uint32_t attributes, std::optional<std::uint32_t> unixMode);
  /// Gives the open file exactly the permission bits mode (07777, setuid, setgid
  /// and sticky included) on POSIX; on Win32 the read-only attribute when the
  /// owner may not write. False on failure.
  bool SetMode(std::uint32_t mode);
  /// Gives the open file an owner (fchown); changing it first keeps a set-uid
  /// bit given after it. Does nothing and succeeds on Win32. False on failure
  /// (error code set).
  bool SetOwner(TFileOwner owner);
  /// Copies count bytes of source, from offset on, to this file at its position,
  /// inside the system where it can; the source's own position does not move.
  /// Returns the count copied, less than count only on failure (error code set).
  std::int64_t CopyFrom(TFile& source, std::int64_t offset, std::int64_t count);
  /// Closes the file; false when the system reports an error on close.
  bool Close();
  /// The operating-system handle (a file descriptor on POSIX).
  std::intptr_t Handle() const { return handle_; }

 private:
  friend class TFileReplacement;
  explicit TFile(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;
  /// The permission bits last read from the open file, -1 when unknown (POSIX).
  std::int32_t knownMode_ = -1;
};

/// A read-only view of a whole open file's bytes. Mapped where the system allows,
/// so that a large document costs neither fresh memory nor a copy; read into
/// memory otherwise. The view stays valid while the object lives, even when the
/// file is replaced by a rename meanwhile.
class TFileBytes {
 public:
  TFileBytes() = default;
  TFileBytes(const TFileBytes&) = delete;
  TFileBytes& operator=(const TFileBytes&) = delete;
  TFileBytes(TFileBytes&& other) noexcept;
  TFileBytes& operator=(TFileBytes&& other) noexcept;
  ~TFileBytes();

  /// Takes the bytes of the file from its start to its end; a pipe or a device
  /// (which has no start to go back to) from where it stands to its end. False on
  /// failure (error code set); the view is then empty.
  bool Load(TFile& file);
  std::string_view View() const { return {data_, size_}; }

 private:
  void Release();
  /// Reads the file into memory, from its start (a pipe or a device from where it
  /// stands): the view of a file that is not mapped.
  bool ReadAll(TFile& file);
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
  std::string copy_;
};

/// A new file written beside a target and put in the target's place in one step,
/// so the target is replaced whole or not at all. The destructor removes the new
/// file unless it was committed.
class TFileReplacement {
 public:
  TFileReplacement() = default;
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;
  ~TFileReplacement();

  /// Creates the new file in the target's folder, with the permission bits of
  /// permissionsFrom when that file exists (owner read and write always kept).
  /// False on failure (error code set).
  bool Begin(const std::string& target, const std::string& permissionsFrom);
  TFile& File() { return file_; }
  /// Closes the new file and renames it over the target. False on failure (error
  /// code set); the target is then unchanged.
  bool Commit();

 private:
  TFile file_;
  std::string temporary_;
  std::string target_;
};

// ---- Console -----------------------------------------------------------------------

enum class TConsoleStream { Output, Error };

/// The system's line ending on the console: LF on POSIX, CR LF on Win32.
std::string_view ConsoleLineEnding();
/// Writes one line and the system's line ending. False when not all of it reached
/// the stream (a closed or full output; error code set).
bool WriteConsoleLine(TConsoleStream stream, std::string_view text);
/// Writes bytes as they are, with no line ending, and passes them on at once. False
/// when not all of them reached the stream (error code set).
bool WriteConsoleText(TConsoleStream stream, std::string_view text);
/// True when the stream is a terminal that a person watches (not a file or a pipe):
/// only there may a line be redrawn in place.
bool ConsoleIsTerminal(TConsoleStream stream);
/// The width in columns of the terminal the stream shows on, asked anew each time
/// (the window may have been resized); 0 when it is no terminal or cannot say.
int ConsoleWidth(TConsoleStream stream);

}  // namespace platform
