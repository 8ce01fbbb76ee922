// A fresh folder under the temporary folder, removed with everything in it
// at its end (a folder that cannot be removed fails the test).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolmar::test {

class TempFolder {
public:
    explicit TempFolder(std::wstring_view namePrefix = L"tolmar-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Full path as the file system spells it, without trailing "\"; empty
    // (and the test failed) when no folder could be made.
    const std::wstring& path() const { return path_; }
    // With trailing "\", as the program keeps its folders (AppPath and the like).
    std::wstring FolderPath() const { return path_ + L"\\"; }
    std::wstring operator/(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

    // Writes the file; false, with a test failure naming it, when it cannot.
    bool WriteFile(std::wstring_view name, std::string_view bytes) const;
    bool MakeFolder(std::wstring_view name) const;
    bool Exists(std::wstring_view name) const;
    // The file's bytes; nullopt when it cannot be read.
    std::optional<std::string> ReadFile(std::wstring_view name) const;
    // Names of the entries directly in the folder, sorted.
    std::vector<std::wstring> Entries() const;

private:
    std::wstring path_;
};

// A whole file's bytes by its full path, as a reader sees them also while a
// program still writes the file; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::wstring& path);

// A file that a test must put outside its folder (into the Windows folder),
// deleted at the end of the test whatever happens.
class ScopedFile {
public:
    explicit ScopedFile(std::wstring path) : path_(std::move(path)) {}
    ~ScopedFile();
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

}  // namespace tolmar::test
