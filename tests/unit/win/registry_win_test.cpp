// The settings against the real registry, in a test key of their own.
#include <gtest/gtest.h>
#include <aclapi.h>

#include <vector>

#include "registry_keys.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/registry.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"
#include "tools/win/unique.h"
#include "win_test_support.h"

using namespace tolmar;
using namespace tolmar::win;
using tolmar::test::TestAppKey;
using tolmar::test::TempFolder;

namespace {

using tolmar::test::reg::KeyExists;

void WriteRaw(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value) {
    win::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kRegistryView, nullptr, key.put(),
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * 2)), ERROR_SUCCESS);
}

}  // namespace

TEST(RegistryWin, WriteSettingStoresBothRootsInThe32BitView) {
    TestAppKey app;
    WriteSetting(app.env(), L"DataProvider", L"DefaultDataProvider", L"clinic.udl");
    const std::wstring path = app.KeyPath(L"DataProvider");
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        win::UniqueHkey key;
        ASSERT_EQ(RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.put()), ERROR_SUCCESS);
        wchar_t data[64] = {};
        DWORD type = 0, bytes = sizeof(data);
        ASSERT_EQ(RegQueryValueExW(key.get(), L"DefaultDataProvider", nullptr, &type,
                                   reinterpret_cast<BYTE*>(data), &bytes), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(bytes, (10u + 1u) * 2u);  // the text and its NUL
        EXPECT_STREQ(data, L"clinic.udl");
    }
    // The machine-wide copy is in the 32-bit view only.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
    EXPECT_EQ(ReadSetting(app.env(), L"DataProvider", L"DefaultDataProvider"), L"clinic.udl");
}

TEST(RegistryWin, ReadFallsBackToMachineWideAndThenToTheMarker) {
    TestAppKey app;
    const std::wstring path = app.KeyPath(L"S");
    EXPECT_EQ(ReadSetting(app.env(), L"S", L"K"), L"ERROR");
    EXPECT_EQ(ReadSettingDefault(app.env(), L"S", L"K", L"dflt"), L"dflt");
    WriteRaw(HKEY_LOCAL_MACHINE, path, L"K", L"machine");
    EXPECT_EQ(ReadSetting(app.env(), L"S", L"K"), L"machine");
    WriteRaw(HKEY_CURRENT_USER, path, L"K", L"  ");
    EXPECT_EQ(ReadSetting(app.env(), L"S", L"K"), L"machine");
    WriteRaw(HKEY_CURRENT_USER, path, L"K", L" user ");
    EXPECT_EQ(ReadSetting(app.env(), L"S", L"K"), L" user ");
    // An empty value name addresses the key's default value.
    WriteRaw(HKEY_CURRENT_USER, path, L"", L"default value");
    EXPECT_EQ(ReadSetting(app.env(), L"S", L""), L"default value");
}

TEST(RegistryWin, ValuesUpTo1024CharactersOnly) {
    TestAppKey app;
    const std::wstring path = app.KeyPath(L"Limits");
    WriteRaw(HKEY_CURRENT_USER, path, L"fits", std::wstring(1024, L'x'));
    WriteRaw(HKEY_CURRENT_USER, path, L"long", std::wstring(1025, L'y'));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path, L"fits"), std::wstring(1024, L'x'));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path, L"long"), L"");
    // An over-long value is told apart from an absent one.
    EXPECT_FALSE(RegistryValueTooLong(HKEY_CURRENT_USER, path, L"fits"));
    EXPECT_TRUE(RegistryValueTooLong(HKEY_CURRENT_USER, path, L"long"));
    EXPECT_FALSE(RegistryValueTooLong(HKEY_CURRENT_USER, path, L"absent"));
    // Writes beyond the limit are refused rather than stored unreadable.
    EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, path, L"w", std::wstring(1024, L'z')).written);
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, path, L"w2", std::wstring(1025, L'z')).written);
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path, L"w2"), L"");
}

// The descriptor handed to RegCreateKeyExW for machine-wide keys. (Wine's
// registry does not apply a descriptor given at creation, so the descriptor
// itself is what can be checked here.)
TEST(RegistryWin, MachineKeysGetAnExplicitDaclNotANullOne) {
    MachineKeySecurity security;
    SECURITY_ATTRIBUTES* sa = security.attributes();
    EXPECT_EQ(sa->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_TRUE(sa->bInheritHandle);
    ASSERT_TRUE(IsValidSecurityDescriptor(sa->lpSecurityDescriptor));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sa->lpSecurityDescriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr) << "a null DACL lets every user take the key over";
    ASSERT_TRUE(IsValidAcl(dacl));

    struct Expected {
        WELL_KNOWN_SID_TYPE who;
        DWORD mask;
    };
    const Expected expected[] = {
        {WinBuiltinAdministratorsSid, KEY_ALL_ACCESS},
        {WinLocalSystemSid, KEY_ALL_ACCESS},
        {WinAuthenticatedUserSid, KEY_READ | KEY_WRITE},
    };
    ASSERT_EQ(dacl->AceCount, std::size(expected));
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD n = sizeof(sid);
        ASSERT_TRUE(CreateWellKnownSid(expected[i].who, nullptr, sid, &n));
        EXPECT_TRUE(EqualSid(&allowed->SidStart, sid)) << "ACE " << i;
        EXPECT_EQ(allowed->Mask, expected[i].mask) << "ACE " << i << " mask 0x" << std::hex << allowed->Mask;
    }
    // Users may read and write values and sub-keys, never change the DACL or the owner.
    constexpr DWORD userMask = KEY_READ | KEY_WRITE;
    EXPECT_EQ(userMask & (WRITE_DAC | WRITE_OWNER), 0u);
    EXPECT_EQ(userMask & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY), static_cast<DWORD>(KEY_SET_VALUE | KEY_CREATE_SUB_KEY));
}

TEST(RegistryWin, RefusedMachineWriteIsRecordedUnderErrorWritingToLocalMachine) {
    TestAppKey app;
    // A machine-wide key that refuses this process: creating the section below it fails.
    const std::wstring locked = app.KeyPath(L"Locked");
    {
        win::UniqueHkey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, locked.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kRegistryView,
                                  nullptr, key.put(), nullptr), ERROR_SUCCESS);
        EXPLICIT_ACCESSW deny{};
        BuildExplicitAccessWithNameW(&deny, const_cast<wchar_t*>(L"EVERYONE"), KEY_CREATE_SUB_KEY | KEY_SET_VALUE,
                                     DENY_ACCESS, NO_INHERITANCE);
        PACL acl = nullptr;
        ASSERT_EQ(SetEntriesInAclW(1, &deny, nullptr, &acl), ERROR_SUCCESS);
        const tolmar::win::UniqueLocalMem aclOwner(acl);
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
        ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    }
    const std::wstring recordPath(kMachineWriteErrorKey);
    const std::wstring before = ReadRegistryString(HKEY_CURRENT_USER, recordPath, L"ErrorMsg");

    WriteSetting(app.env(), L"Locked\\Inner", L"K", L"v");

    EXPECT_EQ(ReadSetting(app.env(), L"Locked\\Inner", L"K"), L"v");  // the per-user copy counts
    const std::wstring recorded = ReadRegistryString(HKEY_CURRENT_USER, recordPath, L"ErrorMsg");
    EXPECT_EQ(recorded, SystemErrorText(ERROR_ACCESS_DENIED));
    EXPECT_NE(recorded.find(L"ccess"), std::wstring::npos) << "recorded: " << ToUtf8(recorded);
    // Leave the shared record as it was.
    if (before.empty())
        RegDeleteKeyExW(HKEY_CURRENT_USER, recordPath.c_str(), kRegistryView, 0);
    else
        WriteRegistryString(HKEY_CURRENT_USER, recordPath, L"ErrorMsg", before);
}

TEST(RegistryWin, ReadIniValue) {
    TempFolder dir;
    dir.WriteFile(L"t.ini", "[oledb]\r\n; comment\r\nProvider=SQLOLEDB.1;Data Source=S\r\nLong=" + std::string(300, 'a') +
                            "\r\nLonger=" + std::string(5000, 'b') + "\r\nFits=" + std::string(1023, 'c') + "\r\n");
    EXPECT_EQ(ReadIniValue((dir / L"t.ini"), L"oledb", L"Provider"), L"SQLOLEDB.1;Data Source=S");
    // Long values are read whole, never cut (a cut path names another file).
    EXPECT_EQ(ReadIniValue((dir / L"t.ini"), L"oledb", L"Long"), std::wstring(300, L'a'));
    EXPECT_EQ(ReadIniValue((dir / L"t.ini"), L"oledb", L"Longer"), std::wstring(5000, L'b'));
    EXPECT_EQ(ReadIniValue((dir / L"t.ini"), L"oledb", L"Fits"), std::wstring(1023, L'c'));
    EXPECT_EQ(ReadIniValue((dir / L"t.ini"), L"oledb", L"Missing"), L"");
    EXPECT_EQ(ReadIniValue((dir / L"t.ini"), L"none", L"Provider"), L"");
    EXPECT_EQ(ReadIniValue((dir / L"missing.ini"), L"oledb", L"Provider"), L"");
}

TEST(RegistryWin, ReadIniValueWithABareNameReadsTheWindowsFolder) {
    TempFolder dir;
    test::CurrentDirectory cd(dir.FolderPath());
    dir.WriteFile(L"tolmar_bare_test.ini", "[s]\r\nk=current\r\n");
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const test::ScopedFile inWindows(std::wstring(windows) + L"\\tolmar_bare_test.ini");
    EXPECT_EQ(ReadIniValue(L"tolmar_bare_test.ini", L"s", L"k"), L"");
    ASSERT_TRUE(WritePrivateProfileStringW(L"s", L"k", L"windows", inWindows.path().c_str()));
    EXPECT_EQ(ReadIniValue(L"tolmar_bare_test.ini", L"s", L"k"), L"windows");
}

// Notepad saves UTF-8 without a byte-order mark. Such a file must give the
// values the platform gives for the same text saved as UTF-16 with its mark,
// by every rule of the profile functions; a cp1252 file keeps its meaning.
TEST(RegistryWin, AnUnmarkedUtf8FileReadsAsTheSameTextMarkedAsUtf16) {
    const std::wstring text =
        L"LOG_ID=före varje avsnitt\r\n"
        L"  [PopulationManager]  \r\n"
        L"  log_id  =   klinik  \r\n"
        L"LOG_ID=den andra, tas inte\n"
        L"LOG_PWD=\"  hemligtÅÄÖ€  \"\r"
        L"LOG_ADDR='http://värd/x'\r\n"
        L"Quoted1=\"\r\n"
        L"Mixed='a\"\r\n"
        L"Empty=\r\n"
        L"NoEquals\r\n"
        L"Inner=a=b ; ingen kommentar\r\n"
        L"[Trasig\r\n"
        L"Unbracketed=fortfarande första avsnittet\r\n"
        L";LOG_UNIT=bortkommenterad\r\n"
        L"[ PopulationManager ]\r\n"
        L"Spaced=i ett avsnitt med blanktecken i namnet\r\n"
        L"[populationmanager]\r\n"
        L"Later=i det andra avsnittet med samma namn\r\n";
    const std::pair<const wchar_t*, const wchar_t*> queries[] = {
        {L"PopulationManager", L"LOG_ID"},  {L" POPULATIONMANAGER ", L" Log_Id "},
        {L"PopulationManager", L"LOG_PWD"}, {L"PopulationManager", L"LOG_ADDR"},
        {L"PopulationManager", L"Quoted1"}, {L"PopulationManager", L"Mixed"},
        {L"PopulationManager", L"Empty"},   {L"PopulationManager", L"NoEquals"},
        {L"PopulationManager", L"Inner"},   {L"PopulationManager", L"Unbracketed"},
        {L"PopulationManager", L"LOG_UNIT"}, {L"PopulationManager", L"Spaced"},
        {L" PopulationManager ", L"Spaced"}, {L"PopulationManager", L"Later"},
        {L"Other", L"LOG_ID"},
    };
    TempFolder dir;
    std::string utf16 = "\xFF\xFE";
    utf16.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    dir.WriteFile(L"marked.ini", utf16);
    dir.WriteFile(L"notepad.ini", ToUtf8(text));
    for (const auto& [section, key] : queries) {
        const std::wstring platform = ReadIniValue(dir / L"marked.ini", section, key);
        EXPECT_EQ(ToUtf8(ReadIniValue(dir / L"notepad.ini", section, key)), ToUtf8(platform))
            << "[" << ToUtf8(section) << "] " << ToUtf8(key);
    }
    EXPECT_EQ(ReadIniValue(dir / L"notepad.ini", L"PopulationManager", L"LOG_PWD"), L"  hemligtÅÄÖ€  ");

    // The same password in the ANSI code page: read as before, by the platform.
    const std::string ansi = "[PopulationManager]\r\nLOG_PWD=hemligt\xC5\xC4\xD6\x80\r\n";
    dir.WriteFile(L"cp1252.ini", ansi);
    wchar_t decoded[32] = {};
    const int n = MultiByteToWideChar(CP_ACP, 0, "hemligt\xC5\xC4\xD6\x80", -1, decoded, 32);
    ASSERT_GT(n, 0);
    EXPECT_EQ(ToUtf8(ReadIniValue(dir / L"cp1252.ini", L"PopulationManager", L"LOG_PWD")), ToUtf8(decoded));
    if (GetACP() == 1252) {
        EXPECT_EQ(std::wstring(decoded), L"hemligtÅÄÖ€");
    }

    // Read as UTF-8, a value too long to read whole is refused as the platform's is.
    dir.WriteFile(L"long.ini", "[s]\r\nk=\xC3\x85" + std::string(1u << 20, 'x') + "\r\n");
    EXPECT_THROW(ReadIniValue(dir / L"long.ini", L"s", L"k"), Error);
}
