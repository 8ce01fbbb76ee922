#include "host_windows.h"

#include <sstream>

namespace e2e {

// ---- journal hosts ---------------------------------------------------------------

UINT UpdateActivePatientMessage() {
    static const UINT message = RegisterWindowMessageW(L"UPDATE_ACTIVE_PATIENT");
    return message;
}

void PrintTo(const HostDelivery& d, std::ostream* os) {
    *os << Utf8(d.hostClass) << " got message 0x" << std::hex << d.message << " wParam 0x" << d.wParam << " lParam 0x"
        << static_cast<std::uintptr_t>(d.lParam) << std::dec << (d.sent ? " (sent)" : " (posted)") << " atom "
        << (d.atomText ? Printable(*d.atomText) : std::string("(none)")) << " main caption "
        << (d.mainCaption ? Printable(*d.mainCaption) : std::string("(no main window)"));
}

void HostLog::Add(HostDelivery delivery) {
    std::lock_guard<std::mutex> lock(mutex_);
    deliveries_.push_back(std::move(delivery));
}

std::vector<HostDelivery> HostLog::Deliveries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
}

std::string HostLog::Dump() const {
    std::string out;
    for (const auto& d : Deliveries()) out += "    " + ::testing::PrintToString(d) + "\n";
    return out.empty() ? "    (the hosts received nothing)\n" : out;
}

FakeHost::FakeHost(HostLog& log, std::wstring className, bool hung)
    : log_(log), window_(std::move(className), L"Journal", hung, [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
          Record(message, wParam, lParam);
      }) {
    UpdateActivePatientMessage();
}

void FakeHost::Record(UINT message, WPARAM wParam, LPARAM lParam) {
    HostDelivery d;
    d.at = Clock::now();
    d.hostClass = className();
    d.message = message;
    d.wParam = wParam;
    d.lParam = lParam;
    d.sent = (InSendMessageEx(nullptr) & ISMEX_SEND) != 0;
    // As the suite does: the atom is read now, before the sender releases it.
    if (message == UpdateActivePatientMessage() && lParam != 0) {
        wchar_t name[512] = {};
        const UINT n = GlobalGetAtomNameW(static_cast<ATOM>(lParam), name, 512);
        if (n > 0) {
            d.atomText = std::wstring(name, n);
            d.atomFoundByName = GlobalFindAtomW(name) == static_cast<ATOM>(lParam);
        }
    }
    if (HWND main = FindWindowW(L"TTolmarForm", nullptr)) {
        wchar_t caption[256] = {};
        const int n = GetWindowTextW(main, caption, 256);
        d.mainCaption = std::wstring(caption, n > 0 ? static_cast<size_t>(n) : 0);
    }
    log_.Add(d);
    if (onDelivery_) onDelivery_(d);
}

bool GlobalAtomExists(const std::wstring& name) { return GlobalFindAtomW(name.c_str()) != 0; }

// ---- the program's test form -----------------------------------------------------------

namespace {

constexpr UINT kControlTimeoutMs = 2000;

// A message sent to a control of the program, bounded; nullopt when the
// program did not take it in time.
std::optional<LRESULT> SendBounded(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, kControlTimeoutMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

std::string Shown(const std::optional<std::wstring>& text) {
    return text ? Printable(*text) : std::string("(unreadable)");
}

}  // namespace

std::optional<PersonFields> TestForm::Fields() const {
    PersonFields fields;
    for (const auto& f : form::kPersonFields) {
        auto text = Text(f.id);
        if (!text) return std::nullopt;
        fields.push_back(std::move(*text));
    }
    return fields;
}

::testing::AssertionResult TestForm::SetNumber(const std::wstring& number) {
    HWND edit = GetDlgItem(hwnd_, form::kPersonalNumber);
    if (!edit) return ::testing::AssertionFailure() << "the form has no personal-number field";
    if (!SendBounded(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(number.c_str())))
        return ::testing::AssertionFailure() << "the personal-number field did not take WM_SETTEXT";
    const auto now = Text(form::kPersonalNumber);
    if (now != number)
        return ::testing::AssertionFailure() << "the personal-number field reads " << Shown(now) << " after setting " << Printable(number);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestForm::TypeNumber(const std::wstring& number) {
    if (auto emptied = SetNumber(L""); !emptied) return emptied;
    HWND edit = GetDlgItem(hwnd_, form::kPersonalNumber);
    for (wchar_t c : number)
        if (!PostMessageW(edit, WM_CHAR, c, 1))
            return ::testing::AssertionFailure() << "WM_CHAR could not be posted (error " << GetLastError() << ")";
    std::optional<std::wstring> now;
    if (!WaitUntil([&] { return (now = Text(form::kPersonalNumber)) == number; }, kCloseTimeout, {run_.process().handle()}))
        return ::testing::AssertionFailure() << "the personal-number field reads " << Shown(now) << " after typing " << Printable(number);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestForm::PostKey(UINT key) {
    HWND edit = GetDlgItem(hwnd_, form::kPersonalNumber);
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    if (!PostMessageW(edit, WM_KEYDOWN, key, 1 | (static_cast<LPARAM>(scan) << 16)) ||
        !PostMessageW(edit, WM_KEYUP, key, 1 | (static_cast<LPARAM>(scan) << 16) | (3LL << 30)))
        return ::testing::AssertionFailure() << "the key could not be posted (error " << GetLastError() << ")";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestForm::Search(SearchBy how, std::wstring& code, Ms timeout) {
    // The return-code field is emptied when a search starts and shows the code when it
    // ends; both writes clear the control's modified flag. Setting the flag
    // first thus tells a finished search from the code of the one before.
    HWND returnCode = GetDlgItem(hwnd_, form::kReturnCode);
    if (!returnCode) return ::testing::AssertionFailure() << "the form has no return-code field";
    SendBounded(returnCode, EM_SETMODIFY, TRUE);
    if (SendBounded(returnCode, EM_GETMODIFY) != std::optional<LRESULT>(TRUE))
        return ::testing::AssertionFailure() << "the return-code field's modified flag could not be set";
    if (how == SearchBy::Enter) {
        if (auto posted = PostKey(VK_RETURN); !posted) return posted;
    } else if (!PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(form::kSearch, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(hwnd_, form::kSearch)))) {
        return ::testing::AssertionFailure() << "the click could not be posted (error " << GetLastError() << ")";
    }
    std::optional<std::wstring> shown;
    const bool done = WaitUntil(
        [&] {
            const auto modified = SendBounded(returnCode, EM_GETMODIFY);
            if (!modified || *modified) return false;
            shown = Text(form::kReturnCode);
            return shown && !shown->empty();
        },
        timeout, {run_.process().handle()});
    if (!done)
        return ::testing::AssertionFailure() << "the search did not end within " << timeout.count()
                                             << " ms; the return-code field reads " << Shown(Text(form::kReturnCode))
                                             << (run_.process().Running() ? "" : " (the program has ended)");
    code = *shown;
    return ::testing::AssertionSuccess();
}

std::optional<HWND> TestForm::OpenViewer(Ms timeout) {
    if (!PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(form::kXml, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(hwnd_, form::kXml))))
        return std::nullopt;
    const auto viewer = run_.WaitForForm(timeout);
    if (!viewer) return std::nullopt;
    return viewer->hwnd;
}

::testing::AssertionResult TestForm::CloseViewer(HWND viewer, Ms timeout) {
    // As the viewer's close box does.
    if (!PostMessageW(viewer, WM_CLOSE, 0, 0))
        return ::testing::AssertionFailure() << "WM_CLOSE could not be posted (error " << GetLastError() << ")";
    if (!WaitUntil([&] { return !IsWindow(viewer) || !IsWindowVisible(viewer); }, timeout, {run_.process().handle()}))
        return ::testing::AssertionFailure() << "the viewer did not close";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestForm::ViewXml(std::wstring& text, Ms timeout) {
    const auto viewer = OpenViewer(timeout);
    if (!viewer) return ::testing::AssertionFailure() << "\"XML...\" opened no viewer";
    const auto caption = TextOf(*viewer);
    const auto memo = TextOf(GetDlgItem(*viewer, form::kViewerText));
    auto closed = CloseViewer(*viewer);
    if (caption != form::kViewerCaption)
        return ::testing::AssertionFailure() << "the viewer's caption is " << Shown(caption);
    if (!memo) return ::testing::AssertionFailure() << "the viewer's text field (id 3001) could not be read";
    if (!closed) return closed;
    text = *memo;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestForm::PressEsc() { return PostKey(VK_ESCAPE); }

std::wstring WithoutLayout(std::wstring_view xml) {
    std::wstring out;
    for (size_t i = 0; i < xml.size(); ++i) {
        out += xml[i];
        if (xml[i] != L'>') continue;
        const size_t next = xml.find_first_not_of(L" \t\r\n", i + 1);
        if (next != std::wstring_view::npos && xml[next] == L'<') i = next - 1;
    }
    return out;
}

std::optional<TestForm> StartTestForm(ProgramRun& run) {
    if (auto started = run.Start(); !started) {
        ADD_FAILURE() << started.message();
        return std::nullopt;
    }
    const auto shown = run.WaitForForm();
    if (!shown) {
        ADD_FAILURE() << "no test form appeared; recorded:\n" << run.log().Dump();
        return std::nullopt;
    }
    if (shown->caption != form::kCaption) {
        ADD_FAILURE() << "the first form is " << Printable(shown->caption) << ", not the test form";
        return std::nullopt;
    }
    return TestForm(run, shown->hwnd);
}

void TestModeSearch::SetUp() {
    ASSERT_TRUE(sim_.Ready());
    ASSERT_TRUE(run_.folder().WriteFile(L"tolmar.ini", RegisterIni{}.Text()));
    std::optional<TestForm> form = StartTestForm(run_);
    ASSERT_TRUE(form);
    testForm_.emplace(std::move(*form));
}

// ---- pictures for the README ----------------------------------------------------------

::testing::AssertionResult TakePicture(const std::wstring& name, HWND window, Ms timeout) {
    RECT r{};
    if (!GetWindowRect(window, &r)) return ::testing::AssertionFailure() << "the window to picture is gone";
    return TakePicture(name, r, timeout);
}

::testing::AssertionResult TakePicture(const std::wstring& name, const RECT& r, Ms timeout) {
    wchar_t folder[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"TOLMAR_PICTURES", folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return ::testing::AssertionFailure() << "TOLMAR_PICTURES is not set: the pictures are taken by scripts/screenshots";
    const std::wstring base = std::wstring(folder) + L"\\" + name;
    const std::string geometry = std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                                 std::to_string(r.left) + "+" + std::to_string(r.top) + "\n";
    // Written under another name first, so that the script never reads half of it.
    bool ok = false;
    {
        const tolmar::win::UniqueFile file(
            CreateFileW((base + L".part").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!file) return ::testing::AssertionFailure() << "cannot write in " << Utf8(folder);
        DWORD written = 0;
        ok = WriteFile(file.get(), geometry.data(), static_cast<DWORD>(geometry.size()), &written, nullptr);
    }
    if (!ok || !MoveFileExW((base + L".part").c_str(), (base + L".geometry").c_str(), MOVEFILE_REPLACE_EXISTING))
        return ::testing::AssertionFailure() << "cannot write " << Utf8(base) << ".geometry";
    const std::wstring done = base + L".done";
    if (!WaitUntil([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeout))
        return ::testing::AssertionFailure() << "no picture was taken of " << Utf8(name) << " within " << timeout.count()
                                             << " ms";
    DeleteFileW(done.c_str());
    return ::testing::AssertionSuccess();
}

}  // namespace e2e
