// Support for the tests of the Win32 adapters: a unique test key in the
// settings tree of both roots, and a temporary folder, each removed at the
// end of the test whatever happens.
#pragma once

#include <windows.h>

#include <string>

#include "tools/environment.h"
#include "tools/win/registry.h"

namespace tolmar::test {

// An AppKey of its own, under SOFTWARE\Norvena\ in both roots (32-bit view).
class TestAppKey {
public:
    TestAppKey();
    ~TestAppKey();
    TestAppKey(const TestAppKey&) = delete;
    TestAppKey& operator=(const TestAppKey&) = delete;

    const std::wstring& appKey() const { return appKey_; }  // ends in "\"
    std::wstring KeyPath(const std::wstring& section) const;

private:
    std::wstring appKey_;
    std::wstring savedAppKey_;
};

void DeleteTree(HKEY root, const std::wstring& path);

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }  // ends in "\"
    std::wstring File(const std::wstring& name) const { return path_ + name; }
    void Write(const std::wstring& name, const std::string& bytes) const;
    std::string Read(const std::wstring& name) const;
    void MakeFolder(const std::wstring& name) const;

private:
    std::wstring path_;
};

// Sets the process's current directory for the lifetime of the object.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& path);
    ~CurrentDirectory();

private:
    std::wstring saved_;
};

}  // namespace tolmar::test

namespace tolmar::test {

// The register simulator that scripts/test starts for the Windows tests; its
// base URL ("http://127.0.0.1:PORT") comes in TOLMAR_REGISTER_SIM.
class RegisterSim {
public:
    // Empty when the variable is not set.
    static std::wstring BaseUrl();
    static std::wstring Endpoint() { return BaseUrl() + L"/PopmWs/WSPopMan.asmx"; }

    // The control endpoints: a fault for the next requests, and what was received.
    static void Inject(const std::string& spec);
    static void Reset();
    static std::string Requests();  // one line per request, tab-separated key=value
    // The value of `key` in the last recorded request ("" when absent).
    static std::string LastRequestValue(const std::string& key);

private:
    static std::string Http(const wchar_t* verb, const std::wstring& path, const std::string& body);
};

}  // namespace tolmar::test
