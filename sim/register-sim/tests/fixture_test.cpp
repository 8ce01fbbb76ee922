#include <gtest/gtest.h>

#include <sstream>

#include "fixture.h"
#include "test_support.h"

namespace regsim {
namespace {

using test::person_info;
using test::store_from;

TEST(Fixture, ExampleFileServesEveryKindOfPerson) {
    PersonStore r;
    load_fixture_file(REGISTER_SIM_EXAMPLE_FIXTURE, r);

    const Person* cn = r.find("194501011234");
    ASSERT_NE(cn, nullptr);
    auto info = person_info(cn->document);
    EXPECT_EQ(info["cn_pnr"], "194501011234");
    EXPECT_EQ(info["cn_fname"], "Anna Maria");
    EXPECT_EQ(info["cn_fo_city"], "UMEÅ");
    EXPECT_EQ(info["cn_su_code"], "");
    EXPECT_EQ(info["Relation"], "<Rel><RelPnr>194703031111</RelPnr><RelTyp>M</RelTyp></Rel>");

    // A quoted value keeps its blanks.
    EXPECT_EQ(person_info(r.find("193001014444")->document)["cn_su_code"], " av ");

    const Person* po = r.find("198811115555");
    ASSERT_NE(po, nullptr);
    info = person_info(po->document);
    EXPECT_EQ(info["PO_FNAME"], "Anna-Karin Lena");
    EXPECT_EQ(info["PO_DNAME"], "12");
    EXPECT_EQ(info["PO_MNAME"], "");
    EXPECT_EQ(info.count("cn_fname"), 0u);

    // Text is escaped in the document, so the connector sees the entity.
    EXPECT_NE(r.find("197007071010")->document.find("<PO_LNAME>Ek &amp; Son</PO_LNAME>"), std::string::npos);

    EXPECT_EQ(r.find("190001010000")->document.find("PersonInfo"), std::string::npos);
    EXPECT_EQ(r.find("190002020000")->inject->kind, InjectionKind::SoapFault);
    EXPECT_EQ(r.find("190003030000")->inject->status, 404);
    EXPECT_EQ(r.find("190005050000")->document,
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><PopulationManager><PersonInfoList></PersonInfoList>"
              "<Relation>r</Relation></PopulationManager>");
}

TEST(Fixture, TagsKeepTheirOrderAndCanonicalSpelling) {
    const PersonStore r = store_from(
        "person 1 PO\n"
        "  po_lname : Ek\n"
        "PO_FNAME:Bo\n"
        "person 2 cn\r\n"
        "CN_FNAME: Al\r\n");
    const std::string& po = r.find("1")->document;
    EXPECT_LT(po.find("<PO_PNR>1</PO_PNR>"), po.find("<PO_LNAME>Ek</PO_LNAME>"));
    EXPECT_LT(po.find("<PO_LNAME>Ek</PO_LNAME>"), po.find("<PO_FNAME>Bo</PO_FNAME>"));
    EXPECT_EQ(person_info(r.find("2")->document)["cn_fname"], "Al");
    EXPECT_EQ(r.find("3"), nullptr);
}

TEST(Fixture, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"cn_fname: Al\n", "test:1: 'cn_fname:' before the first person line"},
        {"person 1\n", "test:1: expected 'person NUMBER FAMILY'"},
        {"person 1 xx\n", "test:1: unknown family 'xx'"},
        {"person 1 cn\nPO_FNAME: Bo\n", "test:2: unknown key 'PO_FNAME' for a cn person"},
        {"person 1 cn\ncn_fnam: Al\n", "test:2: unknown key 'cn_fnam'"},
        {"person 1 cn\ncn_fname: A\ncn_fname: B\n", "test:3: person 1 has cn_fname twice"},
        {"person 1 cn\n\n# c\nperson 1 PO\n", "test:4: person 1 is already given on line 1"},
        {"person 1 cn\nrelation: <a>\n", "test:2: relation: is not well-formed XML content"},
        {"person 1 cn\nrelation: <a/>\nperson 2 cn\nrelation: x</b>\nperson 3 cn\nrelation: <c/>\n",
         "test:4: relation: is not well-formed XML content"},
        {"person 1 cn\nrelation: a\nrelation: b\n", "test:3: person 1 has relation: twice"},
        {"person 1 notfound\ncn_fname: Al\n", "test:2: a notfound person takes only inject:"},
        {"person 1 cn\ninject: explode\n", "test:2: inject: unknown kind 'explode'"},
        {"person 1 cn\ninject: http | status=404 | pnr=1\n",
         "test:2: inject: key pnr is accepted only by /control/fault"},
        {"person 1 cn\ninject: ok\ninject: drop\n", "test:3: person 1 has a second inject:"},
        {"person 1 cn\ncn_fname: Al\nresult: x\n", "test:1: person 1: result: replaces the whole document"},
        {"person 1 cn\ncn_fname: \xe5sa\n", "test:2: not valid UTF-8"},
        {"person 1 cn\njust words\n", "test:2: expected 'person NUMBER FAMILY' or 'key: value'"},
    };
    for (const Case& c : cases) {
        try {
            store_from(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const FixtureError& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what() << "\nexpected: " << c.error;
        }
    }
}

TEST(Fixture, SyntheticPersonsAlternateFamiliesAndFixtureWins) {
    PersonStore r;
    add_synthetic(r, 4);
    EXPECT_EQ(r.size(), 4u);
    EXPECT_EQ(synthetic_pnr(1), "190000000001");
    EXPECT_EQ(person_info(r.find("190000000001")->document).count("cn_fname"), 1u);
    EXPECT_EQ(person_info(r.find("190000000002")->document).count("PO_FNAME"), 1u);
    EXPECT_EQ(r.find("190000000005"), nullptr);

    std::istringstream in("person 190000000002 notfound\n");
    load_fixture(in, "over", r);
    EXPECT_EQ(r.find("190000000002")->document.find("PersonInfo"), std::string::npos);
}

}  // namespace
}  // namespace regsim
