// A fresh folder under the system's temporary directory, removed with everything in it at the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sorvane::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    // Writes a file below the folder (making its parent folders) and returns its full path.
    std::string write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const;
    std::string write(const std::string& relative, const std::string& text) const;

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

}  // namespace sorvane::test
