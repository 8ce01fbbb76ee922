// Windows around the program under test:
//  - fake journal hosts: top-level windows of the suite's host classes, each
//    on its own thread in the test process, that take "UPDATE_ACTIVE_PATIENT"
//    the way the suite does (reading the atom while handling the message) and
//    record what they got;
//  - the program's test form, driven as an operator does: typing, Enter,
//    the buttons, reading each field.
//
//   e2e::HostLog hosts;
//   e2e::FakeHost vimla(hosts, e2e::kPagesDlg);
//   ... run the program with PERSONNR ...
//   EXPECT_EQ(hosts.Deliveries().at(0).atomText, L"194501011234¤...");
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// ---- journal hosts -------------------------------------------------------------------

inline constexpr const wchar_t* kPagesDlg = L"TPagesDlg";
inline constexpr const wchar_t* kBokora = L"TBokora";
inline constexpr const wchar_t* kFrmBokora = L"TfrmBokora";

// RegisterWindowMessageW("UPDATE_ACTIVE_PATIENT") in this process: the same
// number the program gets.
UINT UpdateActivePatientMessage();

// One application message (WM_USER and above) that reached a fake host.
struct HostDelivery {
    std::wstring hostClass;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool sent = false;                      // sent, not posted
    std::optional<std::wstring> atomText;   // the atom's name, read while handling; nullopt: no atom
    bool atomFoundByName = false;           // GlobalFindAtomW(atomText) gave lParam back then
    std::optional<std::wstring> mainCaption;  // the program's main window caption at that moment
    Clock::time_point at{};
};
void PrintTo(const HostDelivery& delivery, std::ostream* os);

// Thread-safe record of what the fake hosts received.
class HostLog {
public:
    void Add(HostDelivery delivery);
    std::vector<HostDelivery> Deliveries() const;
    std::string Dump() const;

private:
    mutable std::mutex mutex_;
    std::vector<HostDelivery> deliveries_;
};

// A hidden top-level window of `className` on a thread of its own. A hung
// host's thread creates the window and then stops handling messages until
// Release() (or the end of the object).
class FakeHost {
public:
    FakeHost(HostLog& log, std::wstring className, bool hung = false);

    bool ok() const { return window_.ok(); }
    HWND hwnd() const { return window_.hwnd(); }
    const std::wstring& className() const { return window_.className(); }
    // When a hung host's thread last handled messages.
    Clock::time_point hungSince() const { return window_.hungSince(); }
    void Release() { window_.Release(); }
    // Runs on the host's thread while it handles each message, after the
    // delivery is recorded; the sender waits meanwhile. Set it before the
    // program starts.
    void OnDelivery(std::function<void(const HostDelivery&)> action) { onDelivery_ = std::move(action); }

private:
    void Record(UINT message, WPARAM wParam, LPARAM lParam);

    HostLog& log_;
    std::function<void(const HostDelivery&)> onDelivery_;
    tolmar::test::FakeWindow window_;
};

// Whether a global atom of this name exists (GlobalFindAtomW).
bool GlobalAtomExists(const std::wstring& name);

// ---- the program's test form -----------------------------------------------------------

namespace form {
// Control ids of the test form and the viewer, as the program's resources lay them out.
inline constexpr int kReturnCode = 2001;
inline constexpr int kPersonalNumber = 2002;
inline constexpr int kSearch = IDOK;     // "&Sök", the default button
inline constexpr int kXml = 2006;        // "XML..."
inline constexpr int kClose = IDCANCEL;  // "&Avsluta", the cancel button
inline constexpr int kSex = 2010;
inline constexpr int kFirstName = 2011;
inline constexpr int kAllFirstNames = 2012;
inline constexpr int kMiddleName = 2013;
inline constexpr int kSurname = 2014;
inline constexpr int kAddress = 2015;
inline constexpr int kCoAddress = 2016;
inline constexpr int kPostNumber = 2017;
inline constexpr int kTown = 2018;
inline constexpr int kRelation = 2019;
inline constexpr int kStatus = 2020;
inline constexpr int kViewerText = 3001;

inline const std::wstring kCaption = L"Norvena AB <--> Mirell - Ver 1.00.4";
inline const std::wstring kViewerCaption = L"Returnerad XML-data";
inline const std::wstring kNotDefined = L"<Not defined>";

// The person fields, top to bottom, with their names for messages.
struct PersonField {
    int id;
    const char* name;
};
inline constexpr PersonField kPersonFields[] = {
    {kSex, "sex"},           {kFirstName, "first name"}, {kAllFirstNames, "all first names"},
    {kMiddleName, "middle name"}, {kSurname, "surname"},   {kAddress, "address"},
    {kCoAddress, "c/o address"}, {kPostNumber, "post number"}, {kTown, "town"},
    {kRelation, "relation"}, {kStatus, "status"},
};
}  // namespace form

// What an operator sees in the person fields, in the order of kPersonFields.
using PersonFields = std::vector<std::wstring>;

enum class SearchBy { Enter, Button };

// The test form of a TEST_MODE run, found with ProgramRun::WaitForForm.
class TestForm {
public:
    TestForm(ProgramRun& run, HWND hwnd) : run_(run), hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    std::optional<std::wstring> Text(int id) const { return TextOf(GetDlgItem(hwnd_, id)); }
    // Every person field; nullopt when one cannot be read.
    std::optional<PersonFields> Fields() const;

    // Replaces the number in the personal-number field (WM_SETTEXT), or types it key by key
    // (posted WM_CHAR) after emptying the field.
    ::testing::AssertionResult SetNumber(const std::wstring& number);
    ::testing::AssertionResult TypeNumber(const std::wstring& number);
    // Starts a search with Enter in the personal-number field or with the
    // "&Sök" button and waits until it ends; `code` gets what the return-code
    // field then shows.
    ::testing::AssertionResult Search(SearchBy how, std::wstring& code, Ms timeout = kBoxTimeout);
    // Opens "XML...", reads the viewer (caption checked) and closes it again.
    ::testing::AssertionResult ViewXml(std::wstring& text, Ms timeout = kBoxTimeout);
    // Esc in the personal-number field.
    ::testing::AssertionResult PressEsc();

    // The viewer while open, for pictures: "XML..." clicked, the viewer found.
    std::optional<HWND> OpenViewer(Ms timeout = kBoxTimeout);
    ::testing::AssertionResult CloseViewer(HWND viewer, Ms timeout = kCloseTimeout);

private:
    ::testing::AssertionResult PostKey(UINT key);

    ProgramRun& run_;
    HWND hwnd_;
};

// The viewer's text without the layout that the program's XML parser may
// give a document when it writes it back out: the blanks and line breaks
// between one tag and the next are dropped.
std::wstring WithoutLayout(std::wstring_view xml);

// Starts a TEST_MODE run and waits for its form; nullopt (with a failure
// recorded) when no form comes.
std::optional<TestForm> StartTestForm(ProgramRun& run);

// A TEST_MODE run against the register simulator, with the tests' register
// settings in its tolmar.ini, its form up: the opening of a test that searches.
class TestModeSearch : public ::testing::Test {
protected:
    void SetUp() override;

    SimulatorSession sim_;
    ProgramRun run_{{.args = {L"TEST_MODE"}}};
    std::optional<TestForm> testForm_;
};

// ---- pictures for the README ----------------------------------------------------------

// scripts/screenshots runs the DISABLED_Pictures tests with TOLMAR_PICTURES
// naming a folder. For each picture the test writes "<name>.geometry" there
// (the window's place on the screen, "WxH+X+Y"); the script takes the picture
// of that part of the screen and answers with "<name>.done".
::testing::AssertionResult TakePicture(const std::wstring& name, const RECT& area, Ms timeout = Ms(30000));
::testing::AssertionResult TakePicture(const std::wstring& name, HWND window, Ms timeout = Ms(30000));

}  // namespace e2e
