#include "register/win/register_session.h"

namespace tolmar::win {

RegisterSession::RegisterSession(const Environment& environment) : environment_(environment) {}

}  // namespace tolmar::win
