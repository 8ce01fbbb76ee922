#include <gtest/gtest.h>

#include "tools/text.h"

using namespace tolmar;

TEST(Text, TrimAndBlankUseCodesUpToSpace) {
    EXPECT_EQ(Trim(L" \t\r\n x y \x01"), L"x y");
    EXPECT_EQ(Trim(L""), L"");
    EXPECT_TRUE(IsBlank(L"  \x1f"));
    EXPECT_TRUE(IsBlank(L""));
    EXPECT_FALSE(IsBlank(L" \u00a0"));  // a no-break space is not blank
}

// Each kind of path keeps its own separators: a data-link setting splits at
// "\" and ":", the module path also at "/", a journal path at "\" and "/".
TEST(Text, FileNameAndFolderPartTable) {
    struct Case {
        const wchar_t* path;
        std::wstring_view separators;
        const wchar_t* file;
        const wchar_t* folder;
    };
    const Case cases[] = {
        {L"C:\\Links\\Klinik.UDL", kBackslashOrColon, L"Klinik.UDL", L"C:\\Links\\"},
        {L"D:klinik.udl", kBackslashOrColon, L"klinik.udl", L"D:"},
        {L"C:/links/klinik.udl", kBackslashOrColon, L"/links/klinik.udl", L"C:"},
        {L"C:/links/klinik.udl", kSlashOrColon, L"klinik.udl", L"C:/links/"},
        {L"C:\\Apps\\tolmar07.exe", kSlashOrColon, L"tolmar07.exe", L"C:\\Apps\\"},
        {L"C:changes.csv", kSlash, L"C:changes.csv", L""},
        {L"..\\logs/changes.csv", kSlash, L"changes.csv", L"..\\logs/"},
        {L"klinik.udl", kBackslashOrColon, L"klinik.udl", L""},
        {L"C:\\links\\", kBackslashOrColon, L"", L"C:\\links\\"},
        {L"", kSlashOrColon, L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.path) + " split at " + ToUtf8(c.separators));
        EXPECT_EQ(FileNamePart(c.path, c.separators), c.file);
        EXPECT_EQ(FolderPart(c.path, c.separators), c.folder);
        EXPECT_EQ(FolderPart(c.path, c.separators) + FileNamePart(c.path, c.separators), c.path);
    }
}

struct ExtractCase {
    const wchar_t* text;
    const wchar_t* start;
    const wchar_t* end;
    const wchar_t* between;    // ExtractBetween
    const wchar_t* noCase;     // ExtractBetweenNoCase
};

TEST(Text, ExtractBetweenAndNoCaseTable) {
    const ExtractCase cases[] = {
        // no end marker: the plain routine gives the rest, the no-case one ""
        {L"Provider=X;Data Source=S", L"Data Source=", L";", L"S", L""},
        {L"Provider=X;Data Source=S;User ID=u", L"Data Source=", L";", L"S", L"S"},
        // start marker missing: "" even though the end marker occurs
        {L"a;b;c", L"Catalog=", L";", L"", L""},
        {L"x<A>Hello</A>y", L"<a>", L"</a>", L"", L"Hello"},
        {L"x<a>Hello</a>y", L"<a>", L"</a>", L"Hello", L"Hello"},
        // one-character text: no-case gives "" at once
        {L"a", L"a", L"", L"", L""},
        // empty markers find nothing
        {L"abc", L"", L"c", L"", L""},
        {L"abc", L"a", L"", L"bc", L""},
        // the first occurrence of each marker counts; the end is searched after the start
        {L"</a><a>1</a><a>2</a>", L"<a>", L"</a>", L"1", L"1"},
        // letter case of the result is kept
        {L"<NAME>MiXeD</name>", L"<name>", L"</NAME>", L"", L"MiXeD"},
        {L"", L"a", L"b", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "text=" << ToUtf8(c.text) << " start=" << ToUtf8(c.start));
        EXPECT_EQ(ExtractBetween(c.text, c.start, c.end), c.between);
        EXPECT_EQ(ExtractBetweenNoCase(c.start, c.end, c.text), c.noCase);
    }
}

TEST(Text, ExtractBetweenNoCaseFoldsNonAsciiLetters) {
    EXPECT_EQ(ExtractBetweenNoCase(L"<å>", L"</å>", L"<Å>ö</Å>"), L"ö");
}

TEST(Text, JoinTrimmedLines) {
    EXPECT_EQ(JoinTrimmedLines({L"SELECT a ", L" FROM b"}), L" SELECT a FROM b");
    EXPECT_EQ(JoinTrimmedLines({L"x", L"   ", L"y"}), L" x  y");
    EXPECT_EQ(JoinTrimmedLines({}), L"");
}

TEST(Text, SetConnectionStringValueTable) {
    struct Case { const wchar_t* before; const wchar_t* name; const wchar_t* value; const wchar_t* after; };
    const Case cases[] = {
        {L"Provider=P;User ID=u;Password=p", L"User ID=", L"v", L"Provider=P;User ID=v;Password=p"},
        {L"Provider=P;User ID=u;Password=p", L"Data Source=", L"S", L"Provider=P;User ID=u;Password=p;Data Source=S"},
        {L"Provider=P;User ID=u;Password=p", L"Data Source=", L"", L"Provider=P;User ID=u;Password=p"},
        // the last pair: everything from the name to the end is replaced
        {L"Provider=P;Password=p;junk", L"Password=", L"q", L"Provider=P;Password=q;junk"},
        {L"Provider=P;Password=secret", L"Password=", L"q", L"Provider=P;Password=q"},
        // an empty value keeps the name with an empty value
        {L"Provider=P;User ID=u;X=1", L"User ID=", L"", L"Provider=P;User ID=;X=1"},
        // case-sensitive: "user id=" is another name
        {L"Provider=P;User ID=u", L"user id=", L"v", L"Provider=P;User ID=u;user id=v"},
    };
    for (const auto& c : cases) {
        std::wstring cs = c.before;
        SetConnectionStringValue(cs, c.name, c.value);
        EXPECT_EQ(cs, c.after) << ToUtf8(c.before) << " / " << ToUtf8(c.name);
    }
}

TEST(Text, Utf8RoundTripAndInvalidInput) {
    const std::wstring sample = L"Söker ¤ €";
    EXPECT_EQ(FromUtf8(ToUtf8(sample)), sample);
    EXPECT_EQ(ToUtf8(L"å"), "\xc3\xa5");
    EXPECT_EQ(FromUtf8("a\xff" "b"), L"a\ufffdb");
    EXPECT_EQ(FromUtf8("\xe2\x82"), L"\ufffd\ufffd");  // truncated sequence
    EXPECT_EQ(FromUtf8("\xc0\x80"), L"\ufffd");        // overlong NUL
}
