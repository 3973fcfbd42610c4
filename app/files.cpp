#include "app/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

namespace sorvane::files {
namespace {

// Owns one file descriptor.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int fd) {
        close();
        fd_ = fd;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close itself succeeded (it can report a late write error).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name for the temporary file that is unique within this process and unlikely elsewhere;
// O_EXCL settles any remaining clash.
std::string temporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

}  // namespace

std::string executableDirectory() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return {};
    }
    buffer.resize(static_cast<std::size_t>(n));
    const auto slash = buffer.rfind('/');
    return slash == std::string::npos ? std::string{} : buffer.substr(0, slash);
}

bool changeDirectory(const std::string& path) {
    return ::chdir(path.c_str()) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool makeDirectoryPath(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    // Walk the path, creating each missing component; an existing one is fine when it is a
    // directory (or a link to one).
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            return false;
        }
        if (end == std::string::npos) {
            break;
        }
    }
    return isDirectory(path);
}

Bytes readWholeFile(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    // O_NONBLOCK: opening a FIFO without a writer must not wait; it is refused below anyway.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
        return {};
    }
    try {
        Bytes bytes;
        // The size is only a hint: the file may change while it is read.
        bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
        std::size_t used = 0;
        for (;;) {
            if (used == bytes.size()) {
                if (used > kMaxFileBytes) {
                    return {};  // grew past the limit while being read
                }
                bytes.resize(bytes.size() * 2);
            }
            const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return {};
            }
            if (n == 0) {
                break;
            }
            used += static_cast<std::size_t>(n);
        }
        bytes.resize(used);
        return bytes;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (path.empty() || path.back() == '/') {
        return false;
    }
    std::string temporary;
    Fd fd(-1);
    for (int attempt = 0; attempt < 16 && !fd.valid(); ++attempt) {
        temporary = temporaryName(path);
        fd.reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.valid() && errno != EEXIST) {
            return false;
        }
    }
    if (!fd.valid()) {
        return false;
    }
    const bool written = writeAll(fd.get(), data, size) && ::fsync(fd.get()) == 0 && fd.close();
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here does not undo a complete write.
    Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) {
        ::fsync(folder.get());
    }
    return true;
}

bool deleteFile(const std::string& path) {
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

}  // namespace sorvane::files
