#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0  // POSIX systems make no difference between text and binary files
#endif

namespace MarlTool {

namespace fs = std::filesystem;

namespace {

int standardOutputError = 0;  // the first write failure's errno, 0 while all went well

void Complain(const std::string& what, const std::string& reason) {
    std::fprintf(stderr, "marl: cannot write to %s: %s\n", what.c_str(), reason.c_str());
}

#ifndef _WIN32
// The new file that a signal must not leave behind: a fixed buffer, since the handler may
// use nothing else.
char pendingFile[4096];

extern "C" void RemovePendingFile(int signal) {
    if (pendingFile[0] != '\0') unlink(pendingFile);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void GuardAgainstSignals(const std::string& path) {
    if (path.size() >= sizeof pendingFile) return;
    std::memcpy(pendingFile, path.c_str(), path.size() + 1);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemovePendingFile);
}

void ReleaseSignalGuard() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
    pendingFile[0] = '\0';
}
#else
void GuardAgainstSignals(const std::string&) {}
void ReleaseSignalGuard() {}
#endif

// Makes the new file's name hard to guess and new: ".NAME.XXXXXX~" beside the target.
std::string TemporaryName(const fs::path& target, std::mt19937& random) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
    return (target.parent_path() / ("." + target.filename().string() + "." + suffix + "~"))
        .string();
}

}  // namespace

void NoteStandardOutput() {
    if (standardOutputError == 0 && std::ferror(stdout)) {
        standardOutputError = errno != 0 ? errno : EIO;
    }
}

bool CloseStandardOutput() {
    NoteStandardOutput();
    if (std::fflush(stdout) != 0 && standardOutputError == 0) standardOutputError = errno;
    // A standard output that was closed before marl started and never written to is no
    // failure (EBADF), as for other tools.
    if (std::fclose(stdout) != 0 && standardOutputError == 0 && errno != EBADF) {
        standardOutputError = errno;
    }
    if (standardOutputError == 0) return true;
    Complain("standard output", std::strerror(standardOutputError));
    return false;
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(const std::string& name) {
    target = name;
    std::error_code failed;
    // Through a symbolic link to the file it names, so that the link stays.
    const fs::path resolved = fs::canonical(name, failed);
    finalPath = failed ? name : resolved.string();
    const fs::file_status status = fs::status(finalPath, failed);
    if (!fs::exists(status) || fs::is_regular_file(status)) return OpenBeside();
    stream = std::fopen(finalPath.c_str(), "wb");
    return stream != nullptr || Fail(errno);
}

bool OutputFile::OpenBeside() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = TemporaryName(fs::path(finalPath), random);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return Fail(errno);
        GuardAgainstSignals(temporary);
        stream = fdopen(fd, "wb");
        if (stream == nullptr) {
            const int error = errno;
            close(fd);
            return Fail(error);
        }
        return true;
    }
    return Fail(EEXIST);
}

bool OutputFile::Commit() {
    if (std::ferror(stream) || std::fflush(stream) != 0) return Fail(errno != 0 ? errno : EIO);
    if (!temporary.empty()) {
#ifdef _WIN32
        if (_commit(_fileno(stream)) != 0) return Fail(errno);
#else
        if (fsync(fileno(stream)) != 0) return Fail(errno);
#endif
    }
    const int closed = std::fclose(stream);
    stream = nullptr;
    if (closed != 0) return Fail(errno);
    if (temporary.empty()) return true;
    std::error_code failed;
    const fs::file_status old = fs::status(finalPath, failed);  // not_found for a new file
    if (fs::exists(old)) fs::permissions(temporary, old.permissions(), failed);
    if (!failed) fs::rename(temporary, finalPath, failed);
    if (failed) return Fail(failed.message());
    ReleaseSignalGuard();
    temporary.clear();
    return true;
}

bool OutputFile::Fail(int error) { return Fail(std::strerror(error)); }

bool OutputFile::Fail(const std::string& reason) {
    Complain(target, reason);
    Discard();
    return false;
}

void OutputFile::Discard() {
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
    if (!temporary.empty()) {
        std::remove(temporary.c_str());
        ReleaseSignalGuard();
    }
    temporary.clear();
}

}  // namespace MarlTool
