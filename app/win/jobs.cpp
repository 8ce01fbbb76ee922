#include "app/win/jobs.h"

#include "app/win/main_form.h"
#include "tools/error.h"

// The register client, the test window and the update run are not part of
// this build yet. Each job says so plainly instead of pretending to work.
namespace tolmar::win {

void LookUpPersonForHost(TolmarForm&, const std::wstring&) {
    throw Error(L"Uppslagning i befolkningsregistret finns inte i den h\u00e4r versionen av programmet.");
}

void RunTestMode(TolmarForm&) {
    throw Error(L"Testl\u00e4get finns inte i den h\u00e4r versionen av programmet.");
}

void UpdateAllPatients(TolmarForm&) {
    throw Error(L"Uppdatering av patientregistret finns inte i den h\u00e4r versionen av programmet.");
}

}  // namespace tolmar::win
