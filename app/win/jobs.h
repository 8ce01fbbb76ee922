// The jobs the dispatcher runs on the main window.
#pragma once

#include <string>

namespace tolmar::win {

class TolmarForm;

// "PERSONNR:": looks the 12-character number up in the register and hands
// the person to the suite's running host program.
void LookUpPersonForHost(TolmarForm& form, const std::wstring& number);

// "TEST_MODE": the operator's lookup window, shown modally.
void RunTestMode(TolmarForm& form);

// "UPDATE_ALL": refreshes every patient row from the register, leaving one
// progress-list line per event.
void UpdateAllPatients(TolmarForm& form);

}  // namespace tolmar::win
