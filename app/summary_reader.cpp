#include "app/summary_reader.h"

#include "tools/error.h"
#include "tools/text.h"

namespace tolmar {
namespace {

constexpr int kMaxDepth = 32;

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<std::wstring> Database() {
        Blanks();
        if (Peek() != '{') Fail(L"den är inget JSON-objekt");
        std::optional<std::wstring> database;
        bool named = false;
        Object(0, [&](const std::string& name) {
            if (name != "database") return false;
            if (named) Fail(L"\"database\" står två gånger");
            named = true;
            Blanks();
            if (Peek() == '"') {
                database = Decoded(String());
            } else if (!Literal("null")) {
                Fail(L"\"database\" är ingen text");
            }
            return true;
        });
        Blanks();
        if (at_ != text_.size()) Fail(L"text efter objektet");
        return database;
    }

private:
    [[noreturn]] static void Fail(const std::wstring& why) { throw Error(why); }

    int Peek() const { return at_ < text_.size() ? static_cast<unsigned char>(text_[at_]) : -1; }

    void Blanks() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }

    void Expect(char c) {
        if (Peek() != static_cast<unsigned char>(c)) Fail(L"fel tecken på plats " + std::to_wstring(at_ + 1));
        ++at_;
    }

    bool Literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    static std::wstring Decoded(const std::string& utf8) {
        std::optional<std::wstring> text = DecodeUtf8Strict(utf8);
        if (!text) Fail(L"text som inte är UTF-8");
        return std::move(*text);
    }

    unsigned Hex4() {
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const int c = Peek();
            ++at_;
            if (c >= '0' && c <= '9')
                v = v * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v = v * 16 + static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v = v * 16 + static_cast<unsigned>(c - 'A' + 10);
            else
                Fail(L"en felaktig \\u-kod");
        }
        return v;
    }

    // A string's bytes (UTF-8, escapes resolved); a lone surrogate is refused.
    std::string String() {
        Expect('"');
        std::string out;
        for (;;) {
            const int c = Peek();
            if (c < 0) Fail(L"en text avslutas aldrig");
            ++at_;
            if (c == '"') return out;
            if (c < 0x20) Fail(L"ett styrtecken i en text");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const int e = Peek();
            ++at_;
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned cp = Hex4();
                    if (cp >= 0xDC00 && cp <= 0xDFFF) Fail(L"en ensam surrogat");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (!Literal("\\u")) Fail(L"en ensam surrogat");
                        const unsigned low = Hex4();
                        if (low < 0xDC00 || low > 0xDFFF) Fail(L"en ensam surrogat");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    AppendUtf8(out, static_cast<char32_t>(cp));
                    break;
                }
                default:
                    Fail(L"en felaktig escape-sekvens");
            }
        }
    }

    void Digits() {
        if (Peek() < '0' || Peek() > '9') Fail(L"ett felaktigt tal");
        while (Peek() >= '0' && Peek() <= '9') ++at_;
    }

    void Number() {
        if (Peek() == '-') ++at_;
        if (Peek() == '0')
            ++at_;
        else
            Digits();
        if (Peek() == '.') {
            ++at_;
            Digits();
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++at_;
            if (Peek() == '+' || Peek() == '-') ++at_;
            Digits();
        }
    }

    void Value(int depth) {
        Blanks();
        const int c = Peek();
        if (c == '{') {
            Object(depth + 1, [](const std::string&) { return false; });
        } else if (c == '[') {
            if (depth + 1 > kMaxDepth) Fail(L"för djupt nästlad");
            ++at_;
            Blanks();
            if (Peek() == ']') {
                ++at_;
                return;
            }
            for (;;) {
                Value(depth + 1);
                Blanks();
                if (Peek() == ']') {
                    ++at_;
                    return;
                }
                Expect(',');
            }
        } else if (c == '"') {
            Decoded(String());
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            Number();
        } else if (!Literal("true") && !Literal("false") && !Literal("null")) {
            Fail(L"ett okänt värde på plats " + std::to_wstring(at_ + 1));
        }
    }

    // An object; `member` reads the value of a member it takes (true), else
    // the value is read here.
    template <class Member>
    void Object(int depth, Member member) {
        if (depth > kMaxDepth) Fail(L"för djupt nästlad");
        Expect('{');
        Blanks();
        if (Peek() == '}') {
            ++at_;
            return;
        }
        for (;;) {
            Blanks();
            const std::string name = String();
            Decoded(name);
            Blanks();
            Expect(':');
            if (!(depth == 0 && member(name))) Value(depth);
            Blanks();
            if (Peek() == '}') {
                ++at_;
                return;
            }
            Expect(',');
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::optional<std::wstring> SummaryDatabase(std::string_view json) {
    const std::wstring refusal = L"Körningens summary.json går inte att läsa: ";
    if (json.size() > kMaxSummaryBytes) throw Error(refusal + L"den är större än 1 MB.");
    try {
        return JsonReader(json).Database();
    } catch (const Error& e) {
        throw Error(refusal + e.message() + L".");
    }
}

}  // namespace tolmar
