// The register layer's state of one program run, in one object: made once
// at start-up by its owner (wWinMain) and handed to every job that asks the
// register.
#pragma once

#include "register/soap_headers.h"
#include "register/win/http_transport.h"
#include "register/win/person_lookup.h"
#include "tools/environment.h"

namespace tolmar::win {

// What lives for the whole run:
//  - the HTTP session (the WinINet session and the kept exchange threads;
//    see HttpSession for how its threads end after it),
//  - the last-error strings that the register's error headers leave,
//  - the settings of "tolmar.ini" as last read (shared by every thread that
//    looks up),
//  - the main thread's lookup documents (answer store and reply parser).
// The documents are COM objects of the main thread: the session must end
// before COM does there, which its owner's scope sees to by making it after
// the thread's COM initialisation. The environment is read at each lookup
// (the working folder is filled in at start-up, after the session is made)
// and outlives the session.
class RegisterSession {
public:
    explicit RegisterSession(const Environment& environment);
    RegisterSession(const RegisterSession&) = delete;
    RegisterSession& operator=(const RegisterSession&) = delete;

    const Environment& environment() const { return environment_; }
    HttpSession& http() { return http_; }
    RegisterSettingsCache& settings() { return settings_; }
    // The main thread's only.
    LastErrorStrings& lastErrors() { return lastErrors_; }
    LookupDocuments& documents() { return documents_; }

private:
    const Environment& environment_;
    HttpSession http_;
    RegisterSettingsCache settings_;
    LastErrorStrings lastErrors_;
    LookupDocuments documents_;
};

}  // namespace tolmar::win
