// The suite's cipher of the stored login, as the tests stand it in.
#pragma once

#include <string>

#include "tools/db/connect_database.h"

namespace tolmar::test {

// Reverses the text: stands in for the suite's cipher of the stored login.
class ReversingCipher final : public CredentialCipher {
public:
    std::string Decipher(const std::string& enciphered) override { return {enciphered.rbegin(), enciphered.rend()}; }
};

}  // namespace tolmar::test
