// The long-name check behind the "*.err" clean-up and the "*.udl" scans.
#include <gtest/gtest.h>

#include "tools/file_mask.h"

namespace {

struct MaskCase {
    const wchar_t* name;
    const wchar_t* mask;
    bool fits;
};

TEST(FileMask, LongNameFitsMask) {
    const MaskCase cases[] = {
        {L"a.err", L"*.err", true},
        {L"B.ERR", L"*.err", true},
        {L"Fel.Err", L"*.ERR", true},
        {L".err", L"*.err", true},
        {L"x.err.err", L"*.err", true},
        // what the short names 8.3 would let through
        {L"notes.error", L"*.err", false},
        {L"x.errata", L"*.err", false},
        {L"long-name.errors", L"*.err", false},
        {L"NOTES~1.ERR.txt", L"*.err", false},
        {L"a.err.txt", L"*.err", false},
        {L"err", L"*.err", false},
        {L"clinic.udlx", L"*.udl", false},
        {L"Klinik.UDL", L"*.udl", true},
        {L"åtta.udl", L"*.udl", true},
        {L"ÅTTA.udl", L"åtta.*", true},
        // the other wildcards
        {L"anything", L"*", true},
        {L"no-dot", L"*.*", true},
        {L"", L"*", true},
        {L"", L"", true},
        {L"a", L"", false},
        {L"ab.udl", L"a?.udl", true},
        {L"a.udl", L"a?.udl", false},
        {L"abc.udl", L"a*c.udl", true},
        {L"abcxc.udl", L"a*c.udl", true},
        {L"abcxd.udl", L"a*c.udl", false},
        {L"a.b.c", L"*.*.*", true},
        {L"a.b", L"**.b", true},
    };
    for (const MaskCase& c : cases)
        EXPECT_EQ(tolmar::LongNameFitsMask(c.name, c.mask), c.fits)
            << testing::PrintToString(std::wstring(c.name)) << " against " << testing::PrintToString(std::wstring(c.mask));
}

}  // namespace
