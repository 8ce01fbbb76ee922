// Support for the tests of the Win32 adapters: a unique test key in the
// settings tree of both roots, removed at the end of the test whatever
// happens, and the process's current folder for a while.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "register/person_record.h"
#include "register/win/register_session.h"
#include "register_sim.h"
#include "registry_keys.h"
#include "temp_folder.h"
#include "tools/environment.h"
#include "tools/win/registry.h"

namespace tolmar::test {

// An AppKey of its own, under SOFTWARE\Norvena\ in both roots (32-bit view),
// and an environment that names it.
class TestAppKey {
public:
    TestAppKey();
    ~TestAppKey();
    TestAppKey(const TestAppKey&) = delete;
    TestAppKey& operator=(const TestAppKey&) = delete;

    const std::wstring& appKey() const { return env_.appKey; }  // ends in "\"
    // An environment with this AppKey and nothing else.
    const Environment& env() const { return env_; }
    std::wstring KeyPath(const std::wstring& section) const;

private:
    Environment env_;
};

// Sets the process's current directory for the lifetime of the object.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& path);
    ~CurrentDirectory();

private:
    std::wstring saved_;
};

// The person lookup as the jobs make it, on a register session of the
// test's own, with "tolmar.ini" in a folder of its own as the working folder.
class LookupTest : public testing::Test {
protected:
    void SetUp() override;

    struct Outcome {
        std::int32_t code = 12345;
        std::wstring errms = L"<untouched>";
        PersonRecord person;
    };
    Outcome Lookup(const std::wstring& number);
    // "tolmar.ini" with these lines in its section.
    void WriteIni(const std::string& lines);
    // "tolmar.ini" with the tests' login and the register at `endpoint`.
    void UseRegisterAt(const std::wstring& endpoint);

    TempFolder dir_;
    Environment environment_;  // its working folder is dir_
    win::RegisterSession session_{environment_};
};

}  // namespace tolmar::test
