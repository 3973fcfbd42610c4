// Walking a sample folder: every file below it, in an order that stays the same from run to run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

// Kinds of directory entries that a listing step admits.
enum EntryMask : unsigned {
    kFileEntries = 0x27,    // regular files, symbolic links to them included
    kFolderEntries = 0x10,  // directories, symbolic links to them included
};

struct FolderListing;

// The state of one folder listing, or none. Closing happens when the handle is reset or dies.
class SearchHandle {
public:
    SearchHandle();
    ~SearchHandle();
    SearchHandle(const SearchHandle&) = delete;
    SearchHandle& operator=(const SearchHandle&) = delete;

    bool isOpen() const;
    void close();
    // Device and inode of the listed folder; valid while open.
    std::uint64_t device() const;
    std::uint64_t inode() const;

private:
    friend std::string findEntry(const std::string&, unsigned, SearchHandle&);
    std::unique_ptr<FolderListing> listing_;
    std::size_t next_ = 0;
    std::string extension_;
};

// One listing step. A non-empty pattern ("<folder>/*.<extension>", the extension "*" matching
// every name) starts a new listing; an empty one continues the open listing. Returns the next
// admitted entry's name in natural order, or the empty text (and the handle closed) at the end.
std::string findEntry(const std::string& pattern, unsigned mask, SearchHandle& handle);

// The per-file routine gets the file name and its full path, both its own to keep.
using FileFound = std::function<void(std::string name, std::string path)>;
// Runs after each subfolder's walk; returning false stops the whole walk at once.
using AfterSubfolder = std::function<bool()>;

// Walks `folder` (its files first, then its subfolders in turn when `recursive`), calling
// `fileFound` for each file whose name ends in "." + extension (any name for "" or "*").
// A directory already on the path from `folder` is not entered again, so link cycles end.
// Returns false when `afterSubfolder` stopped the walk.
bool scanFolder(const std::string& folder, const std::string& extension, bool recursive,
                const FileFound& fileFound, const AfterSubfolder& afterSubfolder = {});

// Natural order: digit runs compared by value, letters without regard to ASCII case, then bytes.
bool naturalLess(std::string_view a, std::string_view b);
// Sorts names into natural order; much faster than std::sort with naturalLess on a long list.
void sortNaturally(std::vector<std::string>& names);

}  // namespace sorvane
