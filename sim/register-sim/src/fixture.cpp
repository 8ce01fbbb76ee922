#include "fixture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <fstream>
#include <string_view>

#include <pugixml.hpp>

#include "xml_util.h"

namespace regsim {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view family_name(Family f) {
    switch (f) {
        case Family::Cn:
            return "cn";
        case Family::Po:
            return "PO";
        default:
            return "notfound";
    }
}

// The value after "key:": blanks around it dropped, unless it is written in
// double quotes, which keep it exactly.
std::string fixture_value(std::string_view raw) {
    raw = trim(raw);
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') return std::string(raw.substr(1, raw.size() - 2));
    return std::string(raw);
}

constexpr std::string_view kDocumentStart = "<?xml version=\"1.0\" encoding=\"utf-8\"?><PopulationManager>";
constexpr std::string_view kDocumentEnd = "</PopulationManager>";

}  // namespace

const std::vector<std::string>& family_tags(Family family) {
    static const std::vector<std::string> cn = {"cn_fname", "cn_lname",    "cn_fo_addr1", "cn_fo_addr2", "cn_ut_addr2",
                                                "cn_cdate", "cn_fo_zcode", "cn_fo_city",  "cn_su_code",  "cn_secret"};
    static const std::vector<std::string> po = {"PO_FNAME",    "PO_NAME",    "PO_DNAME",    "PO_MNAME",
                                                "PO_LNAME",    "PO_FO_CO",   "PO_FO_ADDR1", "PO_FO_ADDR2",
                                                "PO_FO_ZCODE", "PO_FO_CITY", "PO_SEX",      "PO_SECRET"};
    static const std::vector<std::string> none;
    switch (family) {
        case Family::Cn:
            return cn;
        case Family::Po:
            return po;
        default:
            return none;
    }
}

const std::string& not_found_document() {
    static const std::string doc =
        std::string(kDocumentStart) + "<Message>Ingen person hittades</Message>" + std::string(kDocumentEnd);
    return doc;
}

std::string result_document(const Person& p) {
    if (p.result) return *p.result;
    if (p.family == Family::NotFound) return not_found_document();
    size_t size = kDocumentStart.size() + kDocumentEnd.size() + 80 + p.pnr.size() + p.relation.size();
    for (const auto& [tag, value] : p.tags) size += 2 * tag.size() + value.size() + 5;
    std::string doc;
    doc.reserve(size + size / 8);
    const auto element = [&doc](std::string_view tag, std::string_view content, bool escape) {
        doc.append("<").append(tag).append(">");
        if (escape) {
            append_escaped(doc, content);
        } else {
            doc.append(content);
        }
        doc.append("</").append(tag).append(">");
    };
    doc.append(kDocumentStart).append("<PersonInfo>");
    element(p.family == Family::Cn ? "cn_pnr" : "PO_PNR", p.pnr, true);
    for (const auto& [tag, value] : p.tags) element(tag, value, true);
    doc.append("</PersonInfo>");
    element("Relation", p.relation, false);
    doc.append(kDocumentEnd);
    return doc;
}

void PersonStore::add(Person person) {
    person.document = result_document(person);
    std::string key = person.pnr;
    persons_.insert_or_assign(std::move(key), std::move(person));
}

const Person* PersonStore::find(const std::string& pnr) const {
    const auto it = persons_.find(pnr);
    return it == persons_.end() ? nullptr : &it->second;
}

namespace {

// Checks every relation: value of a fixture in one parse (one parse per
// value makes a 10,000-person fixture slow to load under the sanitizers).
// `relations` holds each value with its line; on a fault the line of the
// value that holds it is reported.
void check_relations(const std::vector<std::pair<std::string_view, int>>& relations, const std::string& source) {
    if (relations.empty()) return;
    std::string all = "<r>";
    std::vector<size_t> ends;  // where each value's wrapper ends in `all`
    for (const auto& [value, line] : relations) {
        all.append("<f>").append(value).append("</f>");
        ends.push_back(all.size());
    }
    all.append("</r>");
    pugi::xml_document doc;
    const pugi::xml_parse_result r = doc.load_buffer(all.data(), all.size(), pugi::parse_default, pugi::encoding_utf8);
    if (r) return;
    size_t at = 0;
    while (at + 1 < ends.size() && static_cast<size_t>(r.offset) >= ends[at]) ++at;
    // The value that fails on its own names the fault best.
    for (size_t i = at > 0 ? at - 1 : 0; i < relations.size(); ++i) {
        if (auto err = fragment_error(relations[i].first)) {
            throw FixtureError(source + ":" + std::to_string(relations[i].second) +
                               ": relation: is not well-formed XML content: " + *err);
        }
    }
    throw FixtureError(source + ": relation: values are not well-formed XML content: " + r.description());
}

}  // namespace

void load_fixture(std::istream& in, const std::string& source, PersonStore& store) {
    std::deque<Person> persons;
    std::vector<std::pair<std::string_view, int>> relations;
    std::unordered_map<std::string, int> first_line;
    int person_line = 0;
    int line_no = 0;
    const auto fail = [&](int line, const std::string& msg) {
        throw FixtureError(source + ":" + std::to_string(line) + ": " + msg);
    };
    const auto finish = [&] {
        if (persons.empty()) return;
        const Person& p = persons.back();
        if (p.result && (!p.tags.empty() || !p.relation.empty())) {
            fail(person_line,
                 "person " + p.pnr +
                     ": result: replaces the whole document and cannot be combined with tags or relation:");
        }
    };

    std::string line;
    while (std::getline(in, line)) {
        ++line_no;
        if (!is_valid_utf8(line)) fail(line_no, "not valid UTF-8 (the fixture is read as UTF-8)");
        const std::string_view text = trim(line);
        if (text.empty() || text.front() == '#') continue;

        if (text.substr(0, 7) == "person " || text == "person") {
            finish();
            std::vector<std::string_view> words;
            std::string_view rest = text;
            while (!rest.empty()) {
                rest = trim(rest);
                const auto end = std::min(rest.find_first_of(" \t"), rest.size());
                if (end > 0) words.push_back(rest.substr(0, end));
                rest.remove_prefix(end);
            }
            if (words.size() != 3) fail(line_no, "expected 'person NUMBER FAMILY' (FAMILY: cn, PO or notfound)");
            Person p;
            p.pnr = std::string(words[1]);
            p.tags.reserve(12);
            if (iequals(words[2], "cn")) {
                p.family = Family::Cn;
            } else if (iequals(words[2], "PO")) {
                p.family = Family::Po;
            } else if (iequals(words[2], "notfound")) {
                p.family = Family::NotFound;
            } else {
                fail(line_no, "unknown family '" + std::string(words[2]) + "' (cn, PO or notfound)");
            }
            if (const auto [it, fresh] = first_line.emplace(p.pnr, line_no); !fresh) {
                fail(line_no, "person " + p.pnr + " is already given on line " + std::to_string(it->second));
            }
            person_line = line_no;
            persons.push_back(std::move(p));
            continue;
        }

        const auto colon = text.find(':');
        if (colon == std::string_view::npos) fail(line_no, "expected 'person NUMBER FAMILY' or 'key: value'");
        const std::string_view key = trim(text.substr(0, colon));
        const std::string value = fixture_value(text.substr(colon + 1));
        if (persons.empty()) fail(line_no, "'" + std::string(key) + ":' before the first person line");
        Person& p = persons.back();

        if (key == "inject") {
            if (p.inject) fail(line_no, "person " + p.pnr + " has a second inject:");
            try {
                p.inject = parse_injection(value, false);
            } catch (const InjectionError& e) {
                fail(line_no, std::string("inject: ") + e.what());
            }
            continue;
        }
        if (p.family == Family::NotFound) fail(line_no, "a notfound person takes only inject:");
        if (key == "relation") {
            if (!p.relation.empty()) fail(line_no, "person " + p.pnr + " has relation: twice");
            p.relation = value;
            if (!p.relation.empty()) relations.emplace_back(p.relation, line_no);
            continue;
        }
        if (key == "result") {
            p.result = value;
            continue;
        }
        const auto& tags = family_tags(p.family);
        const auto tag = std::find_if(tags.begin(), tags.end(), [&](const std::string& t) { return iequals(t, key); });
        if (tag == tags.end()) {
            fail(line_no,
                 "unknown key '" + std::string(key) + "' for a " + std::string(family_name(p.family)) + " person");
        }
        if (std::any_of(p.tags.begin(), p.tags.end(), [&](const auto& kv) { return kv.first == *tag; })) {
            fail(line_no, "person " + p.pnr + " has " + *tag + " twice");
        }
        p.tags.emplace_back(*tag, value);
    }
    finish();
    check_relations(relations, source);
    for (auto& p : persons) store.add(std::move(p));
}

void load_fixture_file(const std::string& path, PersonStore& store) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw FixtureError(path + ": cannot be opened");
    load_fixture(in, path, store);
}

std::string synthetic_pnr(int number) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "19%010d", number);
    return buf;
}

void add_synthetic(PersonStore& store, int count) {
    static const char* const given[] = {"Anna Maria", "Lars Erik", "Åsa",          "Karl-Johan Olof",
                                        "Eva Linnéa", "Per",       "Märta Ingrid", "Nils Göran"};
    static const char* const called[] = {"Anna", "Lars", "Åsa", "Karl-Johan", "Eva", "Per", "Märta", "Nils"};
    static const char* const family[] = {"Andersson", "Öberg", "Lindqvist", "Ekström", "Nyström", "Håkansson"};
    static const char* const street[] = {"Storgatan", "Kyrkvägen", "Skolgatan", "Älvgatan", "Björkvägen"};
    static const char* const town[] = {"UMEÅ", "LULEÅ", "SKELLEFTEÅ", "ÖSTERSUND", "SUNDSVALL"};
    static const char* const marking[] = {"10", "20", "12", ""};
    for (int i = 1; i <= count; ++i) {
        Person p;
        p.pnr = synthetic_pnr(i);
        const std::string zip = std::to_string(90000 + (i * 37) % 9999);
        const std::string number = std::to_string(1 + i % 97);
        const auto tag = [&p](const char* name, std::string value) { p.tags.emplace_back(name, std::move(value)); };
        p.tags.reserve(12);
        if (i % 2 == 1) {
            // Every 101st is deceased, every 103rd emigrated, every 107th protected.
            p.family = Family::Cn;
            tag("cn_fname", given[i % 8]);
            tag("cn_lname", family[i % 6]);
            tag("cn_fo_addr1", number);
            tag("cn_fo_addr2", street[i % 5]);
            tag("cn_ut_addr2", "");
            tag("cn_cdate", "");
            tag("cn_fo_zcode", zip);
            tag("cn_fo_city", town[i % 5]);
            tag("cn_su_code", i % 101 == 0 ? "AV" : (i % 103 == 0 ? "UV" : ""));
            tag("cn_secret", i % 107 == 0 ? "J" : "N");
        } else {
            p.family = Family::Po;
            tag("PO_FNAME", given[i % 8]);
            tag("PO_NAME", called[i % 8]);
            tag("PO_DNAME", marking[i % 4]);
            tag("PO_MNAME", i % 3 == 0 ? family[(i + 1) % 6] : "");
            tag("PO_LNAME", family[i % 6]);
            tag("PO_FO_CO", "");
            tag("PO_FO_ADDR1", number);
            tag("PO_FO_ADDR2", street[i % 5]);
            tag("PO_FO_ZCODE", zip);
            tag("PO_FO_CITY", town[i % 5]);
            tag("PO_SEX", i % 4 == 0 ? "K" : "M");
            tag("PO_SECRET", i % 107 == 0 ? "J" : "N");
        }
        store.add(std::move(p));
    }
}

}  // namespace regsim
