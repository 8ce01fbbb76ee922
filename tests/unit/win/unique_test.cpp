// The owners of tools/win/unique.h against the real platform: each gives its
// resource back when it ends, a move hands the resource over, and COM ends
// only with the scope that began it.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <thread>
#include <type_traits>

#include "tools/error.h"
#include "tools/win/unique.h"

using namespace tolmar::win;

namespace {

// Creates one resource, hands it to its owner, lets the owner end and asks
// the platform whether the resource still exists.
struct OwnerCase {
    const char* name;
    std::function<void(bool& aliveWhileOwned, std::function<bool()>& alive)> run;
};

template <typename Owner, typename Raw>
void Check(Raw raw, std::function<bool(Raw)> exists, bool& aliveWhileOwned, std::function<bool()>& alive) {
    {
        Owner first(raw);
        Owner second(std::move(first));  // the move hands it over; only `second` gives it back
        EXPECT_FALSE(first);
        aliveWhileOwned = exists(raw);
    }
    alive = [raw, exists] { return exists(raw); };
}

TEST(Owners, GiveTheResourceBackExactlyWhenTheyEnd) {
    const OwnerCase cases[] = {
        {"kernel handle",
         [](bool& owned, std::function<bool()>& alive) {
             Check<UniqueKernelHandle, HANDLE>(
                 CreateEventW(nullptr, TRUE, FALSE, nullptr),
                 [](HANDLE h) {
                     DWORD flags = 0;
                     return GetHandleInformation(h, &flags) != FALSE;
                 },
                 owned, alive);
         }},
        {"window",
         [](bool& owned, std::function<bool()>& alive) {
             Check<UniqueWindow, HWND>(
                 CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr),
                                 nullptr),
                 [](HWND h) { return IsWindow(h) != FALSE; }, owned, alive);
         }},
        {"brush",
         [](bool& owned, std::function<bool()>& alive) {
             Check<UniqueBrush, HBRUSH>(
                 CreateSolidBrush(RGB(1, 2, 3)), [](HBRUSH h) { return GetObjectType(h) == OBJ_BRUSH; }, owned, alive);
         }},
        {"font",
         [](bool& owned, std::function<bool()>& alive) {
             Check<UniqueFont, HFONT>(
                 CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma"),
                 [](HFONT h) { return GetObjectType(h) == OBJ_FONT; }, owned, alive);
         }},
        {"global atom",
         [](bool& owned, std::function<bool()>& alive) {
             Check<UniqueGlobalAtom, ATOM>(
                 GlobalAddAtomW(L"tolmar-unique-test-atom"),
                 [](ATOM a) { return GlobalFindAtomW(L"tolmar-unique-test-atom") == a; }, owned, alive);
         }},
    };
    for (const OwnerCase& c : cases) {
        SCOPED_TRACE(c.name);
        bool aliveWhileOwned = false;
        std::function<bool()> alive;
        c.run(aliveWhileOwned, alive);
        EXPECT_TRUE(aliveWhileOwned);
        EXPECT_FALSE(alive());
    }
}

// A font owner takes no brush, nor a brush owner a font.
static_assert(!std::is_constructible_v<UniqueFont, HBRUSH>);
static_assert(!std::is_constructible_v<UniqueBrush, HFONT>);
static_assert(!std::is_constructible_v<UniqueFont, HGDIOBJ>);

// While a SelectedObject lives the DC holds its object; afterwards the DC
// holds again what it held before, for each kind of object.
TEST(Owners, SelectedObjectPutsTheReplacedObjectBack) {
    const UniqueWindow window(
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(window);
    const UniqueWindowDc dc(window.get());
    ASSERT_NE(dc.get(), nullptr);
    const UniqueFont font(CreateFontW(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma"));
    const UniqueBrush brush(CreateSolidBrush(RGB(4, 5, 6)));
    const struct {
        const char* name;
        UINT kind;
        HGDIOBJ object;
    } cases[] = {{"font", OBJ_FONT, font.get()}, {"brush", OBJ_BRUSH, brush.get()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.object, nullptr);
        const HGDIOBJ before = GetCurrentObject(dc.get(), c.kind);
        ASSERT_NE(before, c.object);
        {
            const SelectedObject selected(dc.get(), c.object);
            EXPECT_EQ(GetCurrentObject(dc.get(), c.kind), c.object);
        }
        EXPECT_EQ(GetCurrentObject(dc.get(), c.kind), before);
    }
}

TEST(Owners, BstrMovesItsText) {
    UniqueBstr first(L"Åsa Öberg");
    const BSTR raw = first.get();
    UniqueBstr second(std::move(first));
    EXPECT_EQ(first.get(), nullptr);
    EXPECT_EQ(second.get(), raw);
    UniqueBstr third(L"annat");
    third = std::move(second);
    EXPECT_EQ(second.get(), nullptr);
    EXPECT_EQ(third.str(), L"Åsa Öberg");
}

TEST(Owners, VariantFactoriesMakeWhatTheyName) {
    // A string literal once became a VT_BOOL here; the type now refuses any
    // construction from a value (see the static_asserts of the header).
    const UniqueVariant text = UniqueVariant::Text(L"XPath");
    ASSERT_EQ(text.get().vt, VT_BSTR);
    EXPECT_EQ(std::wstring(text.get().bstrVal, SysStringLen(text.get().bstrVal)), L"XPath");

    for (const bool value : {true, false}) {
        const UniqueVariant flag = UniqueVariant::Bool(value);
        ASSERT_EQ(flag.get().vt, VT_BOOL);
        EXPECT_EQ(flag.get().boolVal, value ? VARIANT_TRUE : VARIANT_FALSE);
    }

    UniqueVariant from = UniqueVariant::Text(L"flyttad");
    const UniqueVariant to(std::move(from));
    EXPECT_EQ(from.get().vt, VT_EMPTY);
    ASSERT_EQ(to.get().vt, VT_BSTR);
    EXPECT_EQ(std::wstring(to.get().bstrVal), L"flyttad");
}

// On a thread of its own: the test thread already has COM for the whole run.
TEST(Owners, ComEndsWithTheScopeThatBeganIt) {
    HRESULT outer = E_FAIL, nested = E_FAIL, afterwards = E_FAIL;
    std::thread([&] {
        {
            const ScopedComInit com(COINIT_APARTMENTTHREADED, L"COM");
            outer = com.result();
            const ScopedComInit again(COINIT_APARTMENTTHREADED, L"COM");
            nested = again.result();
        }
        // Both scopes ended with a balanced CoUninitialize: COM begins anew.
        afterwards = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(afterwards)) CoUninitialize();
    }).join();
    EXPECT_EQ(outer, S_OK);
    EXPECT_EQ(nested, S_FALSE);
    EXPECT_EQ(afterwards, S_OK);
}

// COM that cannot begin (the thread is already in the other apartment
// model) is an error with its code, and is not ended by the scope.
TEST(Owners, ComThatCannotBeginThrowsItsCode) {
    std::wstring message;
    HRESULT afterwards = E_FAIL;
    std::thread([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
        try {
            const ScopedComInit com(COINIT_APARTMENTTHREADED, L"COM kunde inte startas");
        } catch (const tolmar::Error& e) {
            message = e.message();
        }
        // Still the thread's first COM: a second, balanced begin says S_FALSE.
        afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterwards)) CoUninitialize();
        CoUninitialize();
    }).join();
    EXPECT_EQ(message, L"COM kunde inte startas (fel 0x80010106).");  // RPC_E_CHANGED_MODE
    EXPECT_EQ(afterwards, S_FALSE);
}

}  // namespace
