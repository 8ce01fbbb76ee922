// Support for the tests of the Win32 adapters: the environment of a test's
// own AppKey (registry_keys.h), the process's current folder for a while, and
// the person lookup on a register session of the test's own.
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

// An environment with the AppKey of `key` and nothing else.
inline Environment EnvironmentOf(const TestAppKey& key) {
    Environment env;
    env.appKey = key.appKey();
    return env;
}

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
