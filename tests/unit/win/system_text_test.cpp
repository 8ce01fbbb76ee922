// The failure texts that name a code: the number as the user has always been
// shown it, and the throwing helpers that take the code only when they fail.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tools/error.h"
#include "tools/win/system_text.h"

namespace {

using namespace tolmar::win;

TEST(FailureTexts, NameTheCodeBetweenWhatFailedAndWhatFollows) {
    const struct {
        std::wstring made, expected;
    } cases[] = {
        {WithErrorCode(L"Det gick inte att skapa en händelse", ERROR_ACCESS_DENIED),
         L"Det gick inte att skapa en händelse (fel 5)."},
        {WithErrorCode(L"Spärren", 1450, L". Inget har ändrats."), L"Spärren (fel 1450). Inget har ändrats."},
        {WithHresult(L"COM kunde inte startas", RPC_E_CHANGED_MODE), L"COM kunde inte startas (fel 0x80010106)."},
        {WithHresult(L"X", static_cast<HRESULT>(0x0000000A), L""), L"X (fel 0x0000000A)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.made, c.expected);
}

TEST(FailureTexts, ThrowOnlyOnFailureWithTheCodeOfTheFailure) {
    EXPECT_NO_THROW(ThrowIfFailed(S_FALSE, L"COM"));
    EXPECT_NO_THROW(ThrowLastErrorCodeIf(false, L"Händelsen"));
    const struct {
        const char* name;
        void (*fail)();
        std::wstring expected;
    } cases[] = {
        {"HRESULT", [] { ThrowIfFailed(E_OUTOFMEMORY, L"COM"); }, L"COM (fel 0x8007000E)."},
        {"last error",
         [] {
             SetLastError(ERROR_FILE_NOT_FOUND);
             ThrowLastErrorCodeIf(true, L"Händelsen", L"!");
         },
         L"Händelsen (fel 2)!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.fail();
            ADD_FAILURE() << "nothing was thrown";
        } catch (const tolmar::Error& e) {
            EXPECT_EQ(e.message(), c.expected);
        }
    }
}

}  // namespace
