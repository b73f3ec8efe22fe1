// marllib_file.hpp: reading a file or a stream whole, as marllib_Load reads its path, and
// writing a file whole or not at all, and why a read or a write failed. The library's loader,
// the C++ layer of marllib.hpp and the marl tool all read and write through it, so that they
// do so alike and give the same reason for the same failure.
// Header-only C++17; it needs nothing of the library.
#ifndef MARLLIB_FILE_HPP
#define MARLLIB_FILE_HPP

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#if defined(_WIN32)
#include <io.h>
namespace marl {
namespace detail {
namespace windows {
// The reason of a failed load crosses from the DLL to its host as the thread's Windows error,
// which every C runtime shares; replacing a file in one step needs MoveFileExA. <windows.h>
// itself is not pulled in, since its min and max macros would break code that includes this
// header, and the declarations stay in this namespace, out of the host's way (they name the
// system's own functions all the same).
extern "C" __declspec(dllimport) unsigned long __stdcall GetLastError(void);
extern "C" __declspec(dllimport) void __stdcall SetLastError(unsigned long code);
extern "C" __declspec(dllimport) int __stdcall MoveFileExA(const char* from, const char* to,
                                                           unsigned long flags);
}  // namespace windows
}  // namespace detail
}  // namespace marl
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace marl {

// The most bytes a document can be read from: its lengths are 32-bit signed.
constexpr std::size_t max_file_bytes = 2147483647u;

// A file's bytes: a growing array whose new room is not filled first, as a std::string's is.
// It owns its array (a unique_ptr would do the same, at the cost of <memory> for every host).
class file_bytes {
public:
    file_bytes() = default;
    ~file_bytes() { delete[] bytes_; }
    file_bytes(const file_bytes&) = delete;
    file_bytes& operator=(const file_bytes&) = delete;
    file_bytes(file_bytes&& other) noexcept
        : bytes_(std::exchange(other.bytes_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          room_(std::exchange(other.room_, 0)) {}
    file_bytes& operator=(file_bytes&& other) noexcept {
        if (this != &other) {
            delete[] bytes_;
            bytes_ = std::exchange(other.bytes_, nullptr);
            size_ = std::exchange(other.size_, 0);
            room_ = std::exchange(other.room_, 0);
        }
        return *this;
    }

    char* data() { return bytes_; }
    const char* data() const { return bytes_; }
    std::size_t size() const { return size_; }
    // Makes the size count; the first min(size(), count) bytes are kept, the rest not set.
    void resize(std::size_t count) {
        if (count > room_) {
            char* const grown = new char[count];
            if (size_ > 0) std::memcpy(grown, bytes_, size_);
            delete[] bytes_;
            bytes_ = grown;
            room_ = count;
        }
        size_ = count;
    }

private:
    char* bytes_ = nullptr;
    std::size_t size_ = 0;
    std::size_t room_ = 0;
};

namespace detail {

// Positions in 64 bits where long has 32 (all of Windows, 32-bit Linux), so that a file of
// 2 GiB or more says so instead of failing to say anything.
#if defined(_WIN32)
using FileOffset = int64_t;
inline FileOffset Tell(std::FILE* stream) { return _ftelli64(stream); }
inline bool Seek(std::FILE* stream, FileOffset offset, int origin) {
    return _fseeki64(stream, offset, origin) == 0;
}
#else
using FileOffset = off_t;
inline FileOffset Tell(std::FILE* stream) { return ftello(stream); }
inline bool Seek(std::FILE* stream, FileOffset offset, int origin) {
    return fseeko(stream, offset, origin) == 0;
}
#endif

constexpr int64_t kUnknown = -1;  // the stream cannot be searched (a pipe, a terminal)
constexpr int64_t kMoved = -2;    // the stream went to its end and could not come back

// The bytes from the stream's position to its end, as far as the stream can say, or kUnknown
// or kMoved. Only a hint: a file of /proc says 0 and has bytes, and any file may change while
// it is read. Otherwise the position is left as it was.
inline int64_t RemainingHint(std::FILE* stream) {
    const FileOffset here = Tell(stream);
    if (here < 0 || !Seek(stream, 0, SEEK_END)) return kUnknown;
    const FileOffset end = Tell(stream);
    if (!Seek(stream, here, SEEK_SET)) return kMoved;
    return end >= here ? end - here : kUnknown;
}

// errno after a failed call, or EIO where the call set none.
inline int LastError() { return errno != 0 ? errno : EIO; }

// An open stdio stream, closed when it goes unless handed on.
class Stream {
public:
    explicit Stream(std::FILE* file) : file_(file) {}
    ~Stream() {
        if (file_ != nullptr) std::fclose(file_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    Stream(Stream&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
    Stream& operator=(Stream&&) = delete;

    std::FILE* get() const { return file_; }
    std::FILE* release() { return std::exchange(file_, nullptr); }
    explicit operator bool() const { return file_ != nullptr; }

private:
    std::FILE* file_;
};

}  // namespace detail

// Reads stream in binary mode from its position to its end into bytes, whatever size the
// stream claims: a regular file, a pipe, a device or a file of /proc. The size it reports only
// sizes the first room; without one the room doubles as it fills. file_bytes is file_bytes or
// std::string. Returns 0, or the reason as an errno value, with bytes unchanged: EINVAL for a
// null stream, the read's own error (EISDIR for a directory) or EIO, and EFBIG for more than
// max_file_bytes bytes. The stream is left open, at its end.
template <typename Buffer>
int read_stream(std::FILE* stream, Buffer& bytes) {
    if (stream == nullptr) return EINVAL;
    errno = 0;
    int64_t hint = detail::RemainingHint(stream);
    if (hint == detail::kMoved) return detail::LastError();
    if (hint > 0) {
        // A size is taken at its word once the stream delivers a byte, rather than read to the
        // limit first. A directory may claim any size (ext4 gives 2^31 - 1 to 32-bit programs,
        // room that could not be had) and fails here on its read error.
        errno = 0;
        const int first = std::fgetc(stream);
        if (first == EOF) {
            if (std::ferror(stream) != 0) return detail::LastError();
            hint = 0;  // it had nothing after all
        } else if (hint > static_cast<int64_t>(max_file_bytes)) {
            return EFBIG;
        } else {
            std::ungetc(first, stream);
        }
    }
    // One byte beyond the hint, so that a file of the size it says ends in one more read
    // without growing; from there the room doubles up to one byte over the limit.
    constexpr std::size_t kFirstRoom = std::size_t{64} << 10;  // where the stream says nothing
    constexpr std::size_t kLeastRoom = 4096;
    const std::size_t said = hint < 0 ? 0 : static_cast<std::size_t>(hint) + 1;
    std::size_t room = hint < 0 ? kFirstRoom : said < kLeastRoom ? kLeastRoom : said;
    Buffer read;
    read.resize(room);
    std::size_t used = 0;
    errno = 0;
    for (;;) {
        if (used == room) {
            if (room > max_file_bytes) return EFBIG;
            room = room * 2 < max_file_bytes + 1 ? room * 2 : max_file_bytes + 1;
            read.resize(room);
        }
        const std::size_t asked = room - used;
        const std::size_t got = std::fread(read.data() + used, 1, asked, stream);
        used += got;
        if (got < asked) break;  // the end, or an error
    }
    // A read that fails (as reading a directory does) sets the error flag.
    if (std::ferror(stream) != 0) return detail::LastError();
    read.resize(used);
    bytes = std::move(read);
    return 0;
}

// read_stream on the file at path, opened in binary mode and closed again. Returns 0 or the
// reason: EINVAL for a null path, and the open's own error (ENOENT, EACCES, ...), with EISDIR
// for a directory also where the system refuses to open one (Windows says EACCES).
template <typename Buffer>
int read_file(const char* path, Buffer& bytes) {
    if (path == nullptr) return EINVAL;
    errno = 0;
    const detail::Stream file(std::fopen(path, "rb"));
    if (!file) {
        const int error = detail::LastError();
        struct stat status {};
        if (error == EACCES && stat(path, &status) == 0 && (status.st_mode & S_IFMT) == S_IFDIR) {
            return EISDIR;
        }
        return error;
    }
    return read_stream(file.get(), bytes);
}

// A reason of read_stream or read_file in words, as strerror gives them but for EFBIG, which
// here means that the bytes are too many for a document.
inline std::string read_reason(int error) {
    if (error == EFBIG) return "larger than the 2 GiB that a document can hold";
    return std::strerror(error);
}

namespace detail {

#if defined(_WIN32)
// The Windows errors that stand for the reasons of a failed read: what marllib_Load leaves as
// the thread's last error, and what a host turns back into a reason.
struct WindowsError {
    int error;           // errno
    unsigned long code;  // the Windows error
};
constexpr WindowsError kWindowsErrors[] = {
    {ENOENT, 2},   // ERROR_FILE_NOT_FOUND
    {EACCES, 5},   // ERROR_ACCESS_DENIED
    {EMFILE, 4},   // ERROR_TOO_MANY_OPEN_FILES
    {ENOMEM, 8},   // ERROR_NOT_ENOUGH_MEMORY
    {EINVAL, 87},  // ERROR_INVALID_PARAMETER
    {EFBIG, 223},  // ERROR_FILE_TOO_LARGE
    {EISDIR, 336}, // ERROR_DIRECTORY_NOT_SUPPORTED
    {EIO, 30},     // ERROR_READ_FAULT
};
constexpr unsigned long kOtherWindowsError = 30;  // ERROR_READ_FAULT

// Loops rather than std::find_if: <algorithm> would cost every host of marllib.hpp.
inline unsigned long WindowsCodeFor(int error) {
    for (const WindowsError& known : kWindowsErrors) {
        // cppcheck-suppress useStlAlgorithm
        if (known.error == error) return known.code;
    }
    return kOtherWindowsError;
}
inline int ErrorForWindowsCode(unsigned long code) {
    for (const WindowsError& known : kWindowsErrors) {
        // cppcheck-suppress useStlAlgorithm
        if (known.code == code) return known.error;
    }
    return EIO;
}
#endif

// Leaves the reason of a failed read where a caller of marllib_Load finds it: in errno and,
// on Windows, in the thread's last error too.
inline void report_read_failure(int error) {
#if defined(_WIN32)
    windows::SetLastError(WindowsCodeFor(error));
#endif
    errno = error;
}

// The reason that the last failed marllib_Load left: errno, or on Windows the thread's last
// error, which a host sees whichever C runtime it uses (a DLL's errno is its own runtime's).
inline int reported_read_failure() {
#if defined(_WIN32)
    return ErrorForWindowsCode(windows::GetLastError());
#else
    return errno;
#endif
}

}  // namespace detail

// ---- Writing a file whole or not at all ----

// A function that writes a file's content to a stream and returns false when a write failed,
// such as a lambda, held by reference: it must outlive the call it is given to.
class fill_function {
public:
    template <typename Fill,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<Fill>, fill_function>>>
    // cppcheck-suppress noExplicitConstructor ; it takes a lambda as it is
    fill_function(Fill&& fill)  // NOLINT(google-explicit-constructor)
        : fill_(const_cast<void*>(static_cast<const void*>(&fill))),
          call_([](void* held, std::FILE* stream) -> bool {
              return (*static_cast<std::remove_reference_t<Fill>*>(held))(stream);
          }) {}
    bool operator()(std::FILE* stream) const { return call_(fill_, stream); }

private:
    void* fill_;
    bool (*call_)(void*, std::FILE*);
};

// What a failed write_file tells beyond its errno.
struct write_failure {
    // The folder that refused the new file beside the target, as the followed path writes it,
    // when making that file was what failed; empty for every other failure.
    std::string folder;
    // Windows: the system's own error when the final MoveFileEx failed (the errno returned
    // then stands for it as ErrorForWindowsCode maps it); 0 otherwise, and always elsewhere.
    unsigned long windows_code = 0;
};

namespace detail {


// The folder of path ("." for none) and its last part.
inline std::pair<std::string, std::string> SplitPath(const std::string& path) {
#if defined(_WIN32)
    const std::size_t slash = path.find_last_of("/\\");
#else
    const std::size_t slash = path.rfind('/');
#endif
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? path.substr(0, 1) : path.substr(0, slash), path.substr(slash + 1)};
}

// The file that writing to path writes: path with every symbolic link on its end followed (to
// a target that need not exist yet); path itself where a link cannot be read. A loop of links
// ends on a link after as many hops as the system follows, which stat then refuses (ELOOP).
inline std::string FollowedLinks(std::string path) {
#if !defined(_WIN32)
    for (int hop = 0; hop < 40; ++hop) {  // as many as the system follows
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        std::string target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1,
                           '\0');
        const ssize_t length = readlink(path.c_str(), &target[0], target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(length));
        if (target[0] != '/') target = SplitPath(path).first + "/" + target;
        path = target;
    }
#endif
    return path;
}

// Fills stream and flushes it; 0, or the first failure's errno.
inline int FillStream(std::FILE* stream, const fill_function& fill) {
    errno = 0;
    if (!fill(stream) || std::ferror(stream) != 0) return LastError();
    return std::fflush(stream) == 0 ? 0 : LastError();
}

// Closes stream; failure, or the close's errno where there was none before.
inline int Close(Stream stream, int failure) {
    errno = 0;
    const bool closed = std::fclose(stream.release()) == 0;
    return failure != 0 || closed ? failure : LastError();
}

// Writes to a device, a pipe or the like as it is, with no file beside it; 0 or errno.
inline int WriteDirectly(const std::string& target, const fill_function& fill) {
    errno = 0;
    Stream stream(std::fopen(target.c_str(), "wb"));
    if (!stream) return LastError();
    const int failure = FillStream(stream.get(), fill);
    return Close(std::move(stream), failure);
}

// An open file descriptor, closed when it goes unless handed on.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ < 0) return;
#if defined(_WIN32)
        _close(fd_);
#else
        close(fd_);
#endif
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void release() { fd_ = -1; }

private:
    int fd_;
};

// The new file beside the target, removed when it goes unless it was put in the target's place.
class NewFile {
public:
    NewFile() = default;
    ~NewFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Makes ".NAME.XXXXXXXX~" in folder with O_EXCL, so that no file or link already there is
    // written through, readable by the owner alone when secret; its descriptor, or -1 with
    // errno (EEXIST when a hundred names in a row were taken).
    int Make(const std::string& folder, const std::string& name, bool secret) {
        // Only a start for the names: O_EXCL tells whether one is taken.
        auto seed = static_cast<uint64_t>(std::time(nullptr)) ^
                    (uint64_t{reinterpret_cast<uintptr_t>(&name)} << 8) ^
                    static_cast<uint64_t>(std::clock());
        for (int attempt = 0; attempt < 100; ++attempt) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;  // a new name each try
            char suffix[17];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(seed >> 32));
            const std::string made = folder + "/." + name + "." + suffix + "~";
            const int fd = Open(made, secret);
            if (fd >= 0) path_ = made;  // only a file of its own is removed again
            if (fd >= 0 || errno != EEXIST) return fd;
        }
        errno = EEXIST;
        return -1;
    }
    const std::string& path() const { return path_; }
    // The file now stands in the target's place: nothing to remove.
    void Placed() { path_.clear(); }

private:
    static int Open(const std::string& path, bool secret) {
#if defined(_WIN32)
        (void)secret;
        return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                     _S_IREAD | _S_IWRITE);
#else
        return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, secret ? 0600 : 0666);
#endif
    }

    std::string path_;
};

#if !defined(_WIN32)
// Holds SIGINT, SIGTERM and SIGHUP back while it lives, so that they cannot leave the new file
// behind; they arrive once it is gone.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t previous_;
};

// The old file's owner and group, where the process may give them.
inline void KeepOwner(int fd, const struct stat& old) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;  // not the process's to give
}

// The old file's mode bits, the set-user-ID, set-group-ID and sticky bits with them. Given once
// the content is written, since a chown and a write by a process that may not set them
// (without CAP_FSETID) clear the set-ID bits.
inline int KeepMode(std::FILE* stream, const struct stat& old) {
    errno = 0;
    return fchmod(fileno(stream), old.st_mode & 07777) == 0 ? 0 : LastError();
}
#endif

// The stream's bytes on the disk; 0 or errno.
inline int SyncToDisk(std::FILE* stream) {
    errno = 0;
#if defined(_WIN32)
    return _commit(_fileno(stream)) == 0 ? 0 : LastError();
#else
    return fsync(fileno(stream)) == 0 ? 0 : LastError();
#endif
}

// Writes the new file through fd, which the stream over it then owns: the old file's owner
// (old: null for a new target), the content flushed, the old file's mode, all synced to the
// disk, and closed.
inline int WriteNewFile(Descriptor& fd, const struct stat* old, const fill_function& fill) {
#if defined(_WIN32)
    (void)old;  // a new file's permissions are all that Windows keeps
    Stream stream(_fdopen(fd.get(), "wb"));
#else
    if (old != nullptr) KeepOwner(fd.get(), *old);
    errno = 0;
    Stream stream(fdopen(fd.get(), "wb"));
#endif
    if (!stream) return LastError();
    fd.release();
    int failure = FillStream(stream.get(), fill);
#if !defined(_WIN32)
    if (failure == 0 && old != nullptr) failure = KeepMode(stream.get(), *old);
#endif
    if (failure == 0) failure = SyncToDisk(stream.get());
    return Close(std::move(stream), failure);
}

// Puts the new file in the target's place in one step; 0 or errno.
inline int PutInPlace(NewFile& made, const std::string& target, write_failure* failure) {
#if defined(_WIN32)
    constexpr unsigned long kReplaceExisting = 1;  // MOVEFILE_REPLACE_EXISTING
    constexpr unsigned long kWriteThrough = 8;     // MOVEFILE_WRITE_THROUGH
    if (windows::MoveFileExA(made.path().c_str(), target.c_str(),
                             kReplaceExisting | kWriteThrough) == 0) {
        const unsigned long code = windows::GetLastError();
        if (failure != nullptr) failure->windows_code = code;
        return ErrorForWindowsCode(code);
    }
#else
    (void)failure;
    errno = 0;
    if (std::rename(made.path().c_str(), target.c_str()) != 0) return LastError();
#endif
    made.Placed();
    return 0;
}

#if !defined(_WIN32)
// The rename reaches the disk with the folder. The file is in place whatever this gives, so a
// folder that cannot be synced (some file systems refuse) is no failure.
inline void SyncFolder(const std::string& folder) {
    const Descriptor fd(open(folder.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() >= 0) (void)fsync(fd.get());
}
#endif

// errno after the new file could not be made in folder, which is noted as what refused it:
// the folder is what must change. A folder that is not there (ENOENT, ENOTDIR) is left out,
// since the reason alone says so of the path as given.
inline int RefusedIn(const std::string& folder, write_failure* failure) {
    const int error = LastError();
    if (failure != nullptr && error != ENOENT && error != ENOTDIR) failure->folder = folder;
    return error;
}

// Replaces the regular file target (old: its status; null when there is none yet) by a new
// file beside it.
inline int ReplaceRegularFile(const std::string& target, const struct stat* old,
                              const fill_function& fill, write_failure* failure) {
    const auto [folder, name] = SplitPath(target);
#if !defined(_WIN32)
    const HeldSignals held;  // declared first: it outlives the new file
#endif
    NewFile made;
    Descriptor fd(made.Make(folder, name, old != nullptr));
    if (fd.get() < 0) return RefusedIn(folder, failure);
    if (const int error = WriteNewFile(fd, old, fill)) return error;
    if (const int error = PutInPlace(made, target, failure)) return error;
#if !defined(_WIN32)
    SyncFolder(folder);
#endif
    return 0;
}

}  // namespace detail

// Writes the file at path whole or not at all: fill(stream) writes the content and returns
// false when a write failed. Returns 0, or the reason as an errno value, and then leaves the
// file and its folder as they were; failure (when given) tells more of a failure. write_file
// owns the stream that it hands to fill, which must neither close it nor keep it; an exception
// from fill leaves everything as a failure does and goes on to the caller.
// - A new file (a path that does not exist, or a link to one) is made with the permissions
//   that new files get (0666 less the umask).
// - An existing file is replaced, keeping its permission bits with the set-user-ID,
//   set-group-ID and sticky bits and, where the process may give them, its owner and group. A
//   symbolic link, or a chain of them, is followed to the file at its end, which is replaced;
//   the links stay (POSIX; Windows writes to the path as given).
// - The text goes to a new file beside the target (made with O_EXCL, so that no file or link
//   already there is written through), which is flushed, synced to the disk, closed and then
//   renamed over the target in one step; the folder is synced after. A failure at any point
//   removes the new file. While it exists, SIGINT, SIGTERM and SIGHUP are held back, so that
//   they cannot leave it behind; they arrive once it is renamed or removed. (Windows:
//   _O_EXCL, _commit and MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.)
// - A target that exists and is neither a file nor a folder, such as a device or a pipe, is
//   written directly, as a shell's '>' would.
// Refused, with nothing written:
// - a null or empty path: EINVAL;
// - a target whose status cannot be had for any reason but that it does not exist: that
//   reason, such as ELOOP for a loop of links or a link to itself, or EACCES for a folder on
//   the way that may not be searched;
// - a folder: EISDIR;
// - an existing file that the process may not write, although its folder would let it be
//   replaced, as a write into it would be: EACCES, or EPERM for an immutable one;
// - a folder that does not let the new file be made: the reason (EACCES, EPERM, EROFS,
//   ENOSPC, ...), with failure->folder naming that folder; ENOENT or ENOTDIR where the folder
//   is not there, without it.
// Failures after that give the system's reason: a write, flush or sync (ENOSPC, EFBIG, EIO,
// ...) or the rename (EISDIR where a folder took the target's place meanwhile, ...).
inline int write_file(const char* path, const fill_function& fill,
                       write_failure* failure = nullptr) {
    if (path == nullptr || *path == '\0') return EINVAL;
    const std::string target = detail::FollowedLinks(path);
    struct stat old {};
    errno = 0;
    if (stat(target.c_str(), &old) != 0) {
        const int error = detail::LastError();
        if (error != ENOENT) return error;
        return detail::ReplaceRegularFile(target, nullptr, fill, failure);
    }
    const auto type = old.st_mode & S_IFMT;
    if (type == S_IFDIR) return EISDIR;
    if (type != S_IFREG) return detail::WriteDirectly(target, fill);
#if !defined(_WIN32)
    errno = 0;
    if (access(target.c_str(), W_OK) != 0) return detail::LastError();
#endif
    return detail::ReplaceRegularFile(target, &old, fill, failure);
}

// The reason of a failed write_file in words: the system's, after the folder that refused the
// new file where that was the failure ("cannot make a new file in FOLDER: Permission denied").
inline std::string write_reason(int error, const write_failure& failure) {
    const std::string reason =
        failure.windows_code != 0
            ? std::system_category().message(static_cast<int>(failure.windows_code))
            : std::generic_category().message(error);
    if (failure.folder.empty()) return reason;
    return "cannot make a new file in " + failure.folder + ": " + reason;
}

}  // namespace marl

#endif  // MARLLIB_FILE_HPP
