// marllib_file.hpp: reading a file or a stream whole, as marllib_Load reads its path, and why a
// read failed. The library's loader, the C++ layer of marllib.hpp and the marl tool all read
// through it, so that they read alike and give the same reason for the same failure.
// Header-only C++17; it needs nothing of the library.
#ifndef MARLLIB_FILE_HPP
#define MARLLIB_FILE_HPP

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#if defined(_WIN32)
// The reason of a failed load crosses from the DLL to its host as the thread's Windows error,
// which every C runtime shares; <windows.h> itself is not pulled in, since its min and max
// macros would break code that includes this header.
extern "C" __declspec(dllimport) unsigned long __stdcall GetLastError(void);
extern "C" __declspec(dllimport) void __stdcall SetLastError(unsigned long code);
#endif

namespace MarlFile {

// The most bytes a document can be read from: its lengths are 32-bit signed.
constexpr std::size_t kMaxBytes = 2147483647u;

// A file's bytes: a growing array whose new room is not filled first, as a std::string's is.
class Bytes {
public:
    char* data() { return bytes_.get(); }
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    // Makes the size count; the first min(size(), count) bytes are kept, the rest not set.
    void resize(std::size_t count) {
        if (count > room_) {
            std::unique_ptr<char[]> grown(new char[count]);
            if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
            bytes_ = std::move(grown);
            room_ = count;
        }
        size_ = count;
    }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t room_ = 0;
};

namespace detail {

// Positions in 64 bits where long has 32 (all of Windows, 32-bit Linux), so that a file of
// 2 GiB or more says so instead of failing to say anything.
inline int64_t Tell(std::FILE* stream) {
#if defined(_WIN32)
    return _ftelli64(stream);
#else
    return ftello(stream);
#endif
}
inline bool Seek(std::FILE* stream, int64_t offset, int origin) {
#if defined(_WIN32)
    return _fseeki64(stream, offset, origin) == 0;
#else
    return fseeko(stream, static_cast<off_t>(offset), origin) == 0;
#endif
}

constexpr int64_t kUnknown = -1;  // the stream cannot be searched (a pipe, a terminal)
constexpr int64_t kMoved = -2;    // the stream went to its end and could not come back

// The bytes from the stream's position to its end, as far as the stream can say, or kUnknown
// or kMoved. Only a hint: a file of /proc says 0 and has bytes, and any file may change while
// it is read. Otherwise the position is left as it was.
inline int64_t RemainingHint(std::FILE* stream) {
    const int64_t here = Tell(stream);
    if (here < 0 || !Seek(stream, 0, SEEK_END)) return kUnknown;
    const int64_t end = Tell(stream);
    if (!Seek(stream, here, SEEK_SET)) return kMoved;
    return end >= here ? end - here : kUnknown;
}

// errno after a failed call, or EIO where the call set none.
inline int LastError() { return errno != 0 ? errno : EIO; }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace detail

// Reads stream in binary mode from its position to its end into bytes, whatever size the
// stream claims: a regular file, a pipe, a device or a file of /proc. The size it reports only
// sizes the first room; without one the room doubles as it fills. Bytes is Bytes or
// std::string. Returns 0, or the reason as an errno value, with bytes unchanged: EINVAL for a
// null stream, the read's own error (EISDIR for a directory) or EIO, and EFBIG for more than
// kMaxBytes bytes. The stream is left open, at its end.
template <typename Buffer>
int ReadStream(std::FILE* stream, Buffer& bytes) {
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
        } else if (hint > static_cast<int64_t>(kMaxBytes)) {
            return EFBIG;
        } else {
            std::ungetc(first, stream);
        }
    }
    // One byte beyond the hint, so that a file of the size it says ends in one more read
    // without growing; from there the room doubles up to one byte over the limit.
    constexpr std::size_t kFirstRoom = std::size_t{64} << 10;  // where the stream says nothing
    std::size_t room =
        hint >= 0 ? std::max(static_cast<std::size_t>(hint) + 1, std::size_t{4096}) : kFirstRoom;
    Buffer read;
    read.resize(room);
    std::size_t used = 0;
    errno = 0;
    for (;;) {
        if (used == room) {
            if (room > kMaxBytes) return EFBIG;
            room = std::min(room * 2, kMaxBytes + 1);
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

// ReadStream on the file at path, opened in binary mode and closed again. Returns 0 or the
// reason: EINVAL for a null path, and the open's own error (ENOENT, EACCES, ...), with EISDIR
// for a directory also where the system refuses to open one (Windows says EACCES).
template <typename Buffer>
int ReadFile(const char* path, Buffer& bytes) {
    if (path == nullptr) return EINVAL;
    errno = 0;
    const std::unique_ptr<std::FILE, detail::FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        const int error = detail::LastError();
        struct stat status {};
        if (error == EACCES && stat(path, &status) == 0 && (status.st_mode & S_IFMT) == S_IFDIR) {
            return EISDIR;
        }
        return error;
    }
    return ReadStream(file.get(), bytes);
}

// A reason of ReadStream or ReadFile in words, as strerror gives them but for EFBIG, which
// here means that the bytes are too many for a document.
inline std::string Reason(int error) {
    if (error == EFBIG) return "larger than the 2 GiB that a document can hold";
    return std::strerror(error);
}

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

inline unsigned long WindowsCodeFor(int error) {
    const auto* const known = std::find_if(std::begin(kWindowsErrors), std::end(kWindowsErrors),
                                           [error](const WindowsError& e) { return e.error == error; });
    return known != std::end(kWindowsErrors) ? known->code : kOtherWindowsError;
}
inline int ErrorForWindowsCode(unsigned long code) {
    const auto* const known = std::find_if(std::begin(kWindowsErrors), std::end(kWindowsErrors),
                                           [code](const WindowsError& e) { return e.code == code; });
    return known != std::end(kWindowsErrors) ? known->error : EIO;
}
#endif

// Leaves the reason of a failed read where a caller of marllib_Load finds it: in errno and,
// on Windows, in the thread's last error too.
inline void Report(int error) {
#if defined(_WIN32)
    SetLastError(WindowsCodeFor(error));
#endif
    errno = error;
}

// The reason that the last failed marllib_Load left: errno, or on Windows the thread's last
// error, which a host sees whichever C runtime it uses (a DLL's errno is its own runtime's).
inline int Reported() {
#if defined(_WIN32)
    return ErrorForWindowsCode(GetLastError());
#else
    return errno;
#endif
}

}  // namespace MarlFile

#endif  // MARLLIB_FILE_HPP
