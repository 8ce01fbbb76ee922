// The persons the simulated register knows, read from a fixture file (see
// README.md for the format) and/or generated synthetically.
#pragma once

#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "injection.h"

namespace regsim {

enum class Family { Cn, Po, NotFound };

struct Person {
    std::string pnr;
    Family family = Family::NotFound;
    // Tags of PersonInfo in the order written, canonical spelling.
    std::vector<std::pair<std::string, std::string>> tags;
    // Raw XML content of the Relation element.
    std::string relation;
    // A result string given verbatim, replacing the generated document.
    std::optional<std::string> result;
    // How this person's requests are answered when no run-time injection
    // applies.
    std::optional<Injection> inject;
    // The GetPersonResult string, built once when the person is added.
    std::string document;
};

class FixtureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PersonStore {
public:
    // Adds or replaces a person; builds its result document.
    void add(Person person);
    const Person* find(const std::string& pnr) const;
    size_t size() const { return persons_.size(); }

private:
    std::unordered_map<std::string, Person> persons_;
};

// Reads fixture text into `store`. `source` names the input in error
// messages ("FILE:LINE: ..."). Throws FixtureError.
void load_fixture(std::istream& in, const std::string& source, PersonStore& store);
void load_fixture_file(const std::string& path, PersonStore& store);

// Adds persons 1..count with personal numbers "19" + the number padded to
// ten digits; odd numbers are of the cn family, even numbers of the PO
// family (see README.md).
void add_synthetic(PersonStore& store, int count);
std::string synthetic_pnr(int number);

// The result document for a person (found or not) and the one for a
// personal number the register does not know.
std::string result_document(const Person& person);
const std::string& not_found_document();

// The tags each family writes into PersonInfo.
const std::vector<std::string>& family_tags(Family family);

}  // namespace regsim
