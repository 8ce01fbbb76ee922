// Every start writes the two reference SQL settings of the update run, per
// user and machine-wide, under the key derived from the working folder, in
// the registry's 32-bit view.
#include <algorithm>

#include "harness.h"
#include "program_texts.h"

namespace {

using namespace e2e;

struct FolderCase {
    const char* name;
    const wchar_t* folderPrefix;
    bool startInUpperCase;  // the working folder handed over in another spelling
    bool staleValuesFirst;  // settings from an earlier run are in place
};

void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

const FolderCase kFolderCases[] = {
    {"PlainFolderOverEarlierValues", L"tolmar-e2e", false, true},
    // Spaces become "_"; the key follows the folder's stored spelling, not the
    // spelling the program was started with. No key may exist beforehand here,
    // or its spelling would be the harness's.
    {"FolderWithSpacesStartedInUpperCase", L"Tolmar Suite 2", true, false},
};

class SettingsAtStart : public ::testing::TestWithParam<FolderCase> {};

std::wstring Upper(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

TEST_P(SettingsAtStart, ReferenceSqlWrittenUnderTheFolderKeyInBothRoots) {
    const FolderCase& c = GetParam();
    ProgramRun run({.folderPrefix = c.folderPrefix});
    const std::wstring tolmarKey = run.registry().KeyPath(L"Tolmar");
    const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    if (c.staleValuesFirst) {
        for (HKEY root : roots) {
            ASSERT_TRUE(reg::WriteString(root, tolmarKey, L"KunderSQLOrg", L"SELECT 1"));
            ASSERT_TRUE(reg::WriteString(root, tolmarKey, L"KunderSQLAktiva", L""));
            ASSERT_TRUE(reg::WriteString(root, tolmarKey, L"KunderSQL", L"SELECT 2"));
        }
    }
    ASSERT_TRUE(run.Start(c.startInUpperCase ? std::optional(Upper(run.folder().path())) : std::nullopt));
    const Outcome out = run.Finish(IDOK);
    ASSERT_EQ(out.exitCode, 0u) << run.log().Dump();
    ASSERT_EQ(out.boxes.size(), 1u) << run.log().Dump();

    std::wstring keyName = run.AppKey();
    keyName.pop_back();
    for (HKEY root : roots) {
        SCOPED_TRACE(reg::RootName(root));
        const auto names = reg::SubKeyNames(root, L"SOFTWARE\\Norvena");
        std::string present;
        for (const auto& n : names) present += "\n    " + Printable(n);
        EXPECT_NE(std::find(names.begin(), names.end(), keyName), names.end())
            << "no key spelled " << Printable(keyName) << " under SOFTWARE\\Norvena; there are:" << present;
        for (const auto& [name, sql] : {std::pair{L"KunderSQLOrg", texts::kKunderSqlOrg},
                                        std::pair{L"KunderSQLAktiva", texts::kKunderSqlAktiva}}) {
            const auto value = reg::Read(root, tolmarKey, name);
            ASSERT_TRUE(value) << Utf8(tolmarKey) << " has no value " << Utf8(name);
            EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ)) << Utf8(name);
            EXPECT_PRED_FORMAT2(SameText, value->text, sql);
            EXPECT_EQ(value->bytes, (sql.size() + 1) * sizeof(wchar_t)) << Utf8(name) << ": one NUL stored";
        }
        if (c.staleValuesFirst) {
            const auto untouched = reg::Read(root, tolmarKey, L"KunderSQL");
            ASSERT_TRUE(untouched);
            EXPECT_PRED_FORMAT2(SameText, untouched->text, L"SELECT 2");
        }
    }
    // Machine-wide settings live in the 32-bit view only.
    EXPECT_FALSE(reg::KeyExists(HKEY_LOCAL_MACHINE, run.registry().KeyPath(), reg::kView64))
        << "settings also written to the 64-bit view of HKEY_LOCAL_MACHINE";
    if (!run.registry().MachineWriteErrorExistedBefore()) {
        const auto error = reg::Read(HKEY_CURRENT_USER, kMachineWriteErrorKey, L"ErrorMsg");
        EXPECT_FALSE(reg::KeyExists(HKEY_CURRENT_USER, kMachineWriteErrorKey))
            << "a machine-wide write failed: " << (error ? Printable(error->text) : "(no ErrorMsg value)");
    }
}

INSTANTIATE_TEST_SUITE_P(WorkingFolder, SettingsAtStart, ::testing::ValuesIn(kFolderCases),
                         [](const ::testing::TestParamInfo<FolderCase>& test) { return std::string(test.param.name); });

}  // namespace
