// The suite's cipher of the stored login, as the tests put it in place.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tools/db/connect_database.h"

namespace tolmar::test {

// Reverses the text: stands in for the suite's cipher of the stored login.
class ReversingCipher final : public CredentialCipher {
public:
    std::string Decipher(const std::string& enciphered) override { return {enciphered.rbegin(), enciphered.rend()}; }
};

// Puts a cipher in place for the lifetime of the object, and none after it.
class CipherScope {
public:
    explicit CipherScope(std::unique_ptr<CredentialCipher> cipher) { CredentialCipherSlot() = std::move(cipher); }
    ~CipherScope() { CredentialCipherSlot().reset(); }
    CipherScope(const CipherScope&) = delete;
    CipherScope& operator=(const CipherScope&) = delete;
};

}  // namespace tolmar::test
