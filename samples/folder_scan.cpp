#include "samples/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace sorvane {

// One read of a folder: the names of its files and of its subfolders, each sorted naturally.
struct FolderListing {
    std::string folder;  // as given, for reuse by a later pattern on the same folder
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

namespace {

// Owns a DIR stream.
struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

enum class Kind { File, Folder, Other };

Kind kindOf(int dirFd, const dirent& entry) {
    switch (entry.d_type) {
        case DT_REG:
            return Kind::File;
        case DT_DIR:
            return Kind::Folder;
        case DT_LNK:
        case DT_UNKNOWN:
            break;  // follow the link, or ask the file system that gave no type
        default:
            return Kind::Other;  // FIFOs, sockets, devices are never samples
    }
    struct stat st {};
    if (::fstatat(dirFd, entry.d_name, &st, 0) != 0) {
        return Kind::Other;  // a broken link
    }
    if (S_ISREG(st.st_mode)) {
        return Kind::File;
    }
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
}

std::unique_ptr<FolderListing> readFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    DirPtr dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return nullptr;
    }
    auto listing = std::make_unique<FolderListing>();
    listing->folder = folder;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        listing->device = st.st_dev;
        listing->inode = st.st_ino;
    }
    // A read error part-way ends the listing as if it were complete.
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        switch (kindOf(fd, *entry)) {
            case Kind::File:
                listing->files.emplace_back(name);
                break;
            case Kind::Folder:
                listing->folders.emplace_back(name);
                break;
            case Kind::Other:
                break;
        }
    }
    sortNaturally(listing->files);
    sortNaturally(listing->folders);
    return listing;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Appends a key whose byte order is the natural order of names: letters lower-cased; each run of
// digits as '0', the length of the run without its leading zeros (4 bytes, big-endian) and then
// those digits, so that numbers compare by value. A run starts with the byte '0' whatever its
// digits, which orders it against any other byte exactly as a digit would be.
void appendSortKey(std::string_view name, std::string& key) {
    // A one-digit run grows to six bytes, the most any byte can grow; write through a pointer
    // into that much room, then cut the key to what was written.
    const std::size_t start = key.size();
    key.resize(start + name.size() * 6);
    char* out = key.data() + start;
    for (std::size_t i = 0; i < name.size();) {
        if (!isDigit(name[i])) {
            *out++ = asciiLower(name[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < name.size() && isDigit(name[end])) {
            ++end;
        }
        while (i + 1 < end && name[i] == '0') {
            ++i;
        }
        const auto length = static_cast<std::uint32_t>(end - i);
        *out++ = '0';
        for (int shift = 24; shift >= 0; shift -= 8) {
            *out++ = static_cast<char>((length >> shift) & 0xFF);
        }
        out = std::copy(name.begin() + static_cast<std::ptrdiff_t>(i),
                        name.begin() + static_cast<std::ptrdiff_t>(end), out);
        i = end;
    }
    key.resize(static_cast<std::size_t>(out - key.data()));
}

bool hasExtension(std::string_view name, std::string_view extension) {
    if (extension == "*") {
        return true;
    }
    if (name.size() < extension.size() + 1 || name[name.size() - extension.size() - 1] != '.') {
        return false;
    }
    const auto tail = name.substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// The folder of a pattern "<folder>/*.<extension>", and its extension.
std::pair<std::string, std::string> splitPattern(const std::string& pattern) {
    const auto slash = pattern.rfind('/');
    std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    std::string glob = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::string extension = glob.rfind("*.", 0) == 0 ? glob.substr(2) : glob;
    return {std::move(folder), extension.empty() ? "*" : extension};
}

struct Identity {
    std::uint64_t device;
    std::uint64_t inode;
    bool operator==(const Identity&) const = default;
};

bool walk(const std::string& folder, const std::string& extension, bool recursive,
          const FileFound& fileFound, const AfterSubfolder& afterSubfolder,
          std::vector<Identity>& ancestors);

}  // namespace

bool naturalLess(std::string_view a, std::string_view b) {
    std::string keyA;
    std::string keyB;
    appendSortKey(a, keyA);
    appendSortKey(b, keyB);
    return keyA != keyB ? keyA < keyB : a < b;
}

// Names equal under the key ("a01", "A1") are ordered by their bytes.
void sortNaturally(std::vector<std::string>& names) {
    struct Entry {
        std::uint64_t head;  // the key's first 8 bytes, big-endian: most comparisons end here
        std::size_t offset;
        std::size_t length;
        std::size_t index;
    };
    std::string keys;  // all keys in one buffer: one allocation for the folder, not one a name
    std::size_t bytes = 0;
    for (const auto& name : names) {
        bytes += name.size();
    }
    keys.reserve(bytes * 6);
    std::vector<Entry> entries;
    entries.reserve(names.size());
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::size_t offset = keys.size();
        appendSortKey(names[k], keys);
        std::uint64_t head = 0;
        for (std::size_t b = 0; b < 8; ++b) {
            const std::size_t at = offset + b;
            head = (head << 8) | (at < keys.size() ? static_cast<unsigned char>(keys[at]) : 0u);
        }
        entries.push_back({head, offset, keys.size() - offset, k});
    }
    const std::string_view all(keys);
    std::sort(entries.begin(), entries.end(), [&](const Entry& x, const Entry& y) {
        if (x.head != y.head) {
            return x.head < y.head;
        }
        const int order = all.substr(x.offset, x.length).compare(all.substr(y.offset, y.length));
        return order != 0 ? order < 0 : names[x.index] < names[y.index];
    });
    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (const Entry& entry : entries) {
        sorted.push_back(std::move(names[entry.index]));
    }
    names.swap(sorted);
}

SearchHandle::SearchHandle() = default;
SearchHandle::~SearchHandle() = default;
bool SearchHandle::isOpen() const {
    return listing_ != nullptr;
}
std::uint64_t SearchHandle::device() const {
    return listing_ ? listing_->device : 0;
}
std::uint64_t SearchHandle::inode() const {
    return listing_ ? listing_->inode : 0;
}
void SearchHandle::close() {
    listing_.reset();
    next_ = 0;
}

std::string findEntry(const std::string& pattern, unsigned mask, SearchHandle& handle) {
    if (!pattern.empty()) {
        auto [folder, extension] = splitPattern(pattern);
        // A second pattern on the folder just listed rewinds that listing instead of reading
        // the folder again: the walk lists each folder's files and then its subfolders.
        if (!handle.listing_ || handle.listing_->folder != folder) {
            handle.listing_ = readFolder(folder);
        }
        handle.next_ = 0;
        handle.extension_ = extension;
        if (!handle.listing_) {
            return {};
        }
    } else if (!handle.listing_) {
        return {};
    }
    // Files and folders are kept apart; an entry is admitted by the kind the mask asks for.
    const bool wantFiles = (mask & kFileEntries) != 0;
    const bool wantFolders = (mask & kFolderEntries) != 0;
    const auto& files = handle.listing_->files;
    const auto& folders = handle.listing_->folders;
    const std::size_t fileCount = wantFiles ? files.size() : 0;
    const std::size_t total = fileCount + (wantFolders ? folders.size() : 0);
    while (handle.next_ < total) {
        const std::size_t k = handle.next_++;
        if (k < fileCount) {
            if (hasExtension(files[k], handle.extension_)) {
                return files[k];
            }
        } else if (hasExtension(folders[k - fileCount], handle.extension_)) {
            return folders[k - fileCount];
        }
    }
    // Keep the read listing for a rewind on the same folder; the walk drops the handle after.
    handle.next_ = total;
    return {};
}

namespace {

bool walk(const std::string& folder, const std::string& extension, bool recursive,
          const FileFound& fileFound, const AfterSubfolder& afterSubfolder,
          std::vector<Identity>& ancestors) {
    const std::string base = !folder.empty() && folder.back() == '/' ? folder : folder + "/";
    SearchHandle handle;
    std::string name = findEntry(base + "*." + extension, kFileEntries, handle);
    if (!handle.isOpen()) {
        return true;  // missing or unreadable: contributes nothing
    }
    const Identity self{handle.device(), handle.inode()};
    if (std::find(ancestors.begin(), ancestors.end(), self) != ancestors.end()) {
        return true;  // a link back up the tree: walked already
    }
    for (; !name.empty(); name = findEntry({}, kFileEntries, handle)) {
        std::string path = base + name;
        fileFound(std::move(name), std::move(path));
    }
    if (!recursive) {
        return true;
    }
    ancestors.push_back(self);
    // Subfolders are walked with every name: the extension only filters files.
    for (name = findEntry(base + "*.*", kFolderEntries, handle); !name.empty();
         name = findEntry({}, kFolderEntries, handle)) {
        if (!walk(base + name, extension, true, fileFound, afterSubfolder, ancestors)) {
            return false;
        }
        if (afterSubfolder && !afterSubfolder()) {
            return false;
        }
    }
    ancestors.pop_back();
    return true;
}

}  // namespace

bool scanFolder(const std::string& folder, const std::string& extension, bool recursive,
                const FileFound& fileFound, const AfterSubfolder& afterSubfolder) {
    std::vector<Identity> ancestors;
    return walk(folder, extension.empty() ? "*" : extension, recursive, fileFound, afterSubfolder,
                ancestors);
}

}  // namespace sorvane
