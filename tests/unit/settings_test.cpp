#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "fake_registry.h"
#include "tools/error.h"
#include "tools/settings.h"

using tolmar::test::FakeRegistry;

using namespace tolmar;

namespace {

constexpr const wchar_t* kPath = L"SOFTWARE\\Norvena\\D_Apps_Suite_2\\DataProvider";

}  // namespace

TEST(Settings, WriteGoesToBothRootsUnderAppKeyAndSection) {
    FakeRegistry reg;
    Settings settings(reg, L"D_Apps_Suite_2\\");
    settings.Write(L"DataProvider", L"DefaultDataProvider", L"clinic.udl");
    EXPECT_EQ(reg.values.size(), 2u);
    EXPECT_EQ(reg.ReadString(RegRoot::CurrentUser, kPath, L"DefaultDataProvider"), L"clinic.udl");
    EXPECT_EQ(reg.ReadString(RegRoot::LocalMachine, kPath, L"DefaultDataProvider"), L"clinic.udl");
}

TEST(Settings, FailedMachineWriteIsRecordedPerUserOnly) {
    FakeRegistry reg;
    reg.machineWritable = false;
    Settings settings(reg, L"C_Work\\");
    settings.Write(L"Tolmar", L"KunderSQL", L"SELECT 1");
    EXPECT_EQ(settings.Read(L"Tolmar", L"KunderSQL"), L"SELECT 1");
    EXPECT_EQ(reg.ReadString(RegRoot::CurrentUser, kMachineWriteErrorKey, kMachineWriteErrorValue),
              L"Access denied.\r\n");
}

TEST(Settings, ReadFallbackChainTable) {
    struct Case {
        const wchar_t* user;     // nullptr: not stored
        const wchar_t* machine;  // nullptr: not stored
        const wchar_t* read;
        const wchar_t* readDefault;
    };
    const Case cases[] = {
        {L"u", L"m", L"u", L"u"},
        {nullptr, L"m", L"m", L"m"},
        {L"  ", L"m", L"m", L"m"},            // a blank per-user value counts as absent
        {L"\t", nullptr, L"ERROR", L"dflt"},
        {L" x ", L"m", L" x ", L" x "},       // blanks around text are kept
        {L"ERROR", nullptr, L"ERROR", L"ERROR"},
        {nullptr, nullptr, L"ERROR", L"dflt"},
    };
    for (const auto& c : cases) {
        FakeRegistry reg;
        if (c.user) reg.values[{RegRoot::CurrentUser, kPath, L"K"}] = c.user;
        if (c.machine) reg.values[{RegRoot::LocalMachine, kPath, L"K"}] = c.machine;
        Settings settings(reg, L"D_Apps_Suite_2\\");
        SCOPED_TRACE(testing::Message() << "user=" << (c.user ? "set" : "none"));
        EXPECT_EQ(settings.Read(L"DataProvider", L"K"), c.read);
        EXPECT_EQ(settings.ReadDefault(L"DataProvider", L"K", L"dflt"), c.readDefault);
        EXPECT_EQ(settings.ReadDefaultStrict(L"DataProvider", L"K", L"dflt"), c.readDefault);
    }
}

// A stored value over the limit is unreadable, not absent: the strict read
// refuses it in either copy instead of falling back.
TEST(Settings, StrictReadRefusesAnOverLongCopy) {
    const std::wstring tooLong(kRegistryTextLimit + 1, L'x');
    for (const RegRoot root : {RegRoot::CurrentUser, RegRoot::LocalMachine}) {
        FakeRegistry reg;
        reg.values[{root, kPath, L"K"}] = tooLong;
        Settings settings(reg, L"D_Apps_Suite_2\\");
        EXPECT_EQ(settings.ReadDefault(L"DataProvider", L"K", L"dflt"), L"dflt");
        try {
            settings.ReadDefaultStrict(L"DataProvider", L"K", L"dflt");
            ADD_FAILURE() << "an over-long value was read";
        } catch (const Error& e) {
            EXPECT_NE(e.message().find(L"K i "), std::wstring::npos) << ToUtf8(e.message());
            EXPECT_NE(e.message().find(L"1024 tecken"), std::wstring::npos) << ToUtf8(e.message());
        }
    }
}
