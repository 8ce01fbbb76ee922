// Test mode: the operator's lookup form `TForm1` and the returned-XML viewer
// `TfrmXML`.
#pragma once

#include <windows.h>

#include <string>

namespace tolmar::win {

class RegisterSession;

// Shows the lookup form modally; returns when the operator closes it. Its
// lookups are the session's, and its viewer shows the session's store.
void ShowTestForm(HWND owner, RegisterSession& registerSession);

// Shows `text` (the returned-XML store's) in the viewer, modally.
void ShowXmlViewer(HWND owner, const std::wstring& text);

// The text as a multi-line edit field shows it: every line break as CR LF.
std::wstring WithCrLf(const std::wstring& text);

}  // namespace tolmar::win
