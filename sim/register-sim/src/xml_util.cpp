#include "xml_util.h"

#include <cstdint>
#include <sstream>

namespace regsim {

void append_escaped(std::string& out, std::string_view text) {
    // Copies runs of plain text in one go: the documents are escaped on
    // every answer, and this keeps the unoptimised sanitizer builds fast too.
    const char* run = text.data();
    const char* const end = text.data() + text.size();
    for (const char* p = run; p != end; ++p) {
        const char* entity = nullptr;
        switch (*p) {
            case '&':
                entity = "&amp;";
                break;
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            case '"':
                entity = "&quot;";
                break;
            default:
                continue;
        }
        out.append(run, static_cast<size_t>(p - run)).append(entity);
        run = p + 1;
    }
    out.append(run, static_cast<size_t>(end - run));
}

std::string xml_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    append_escaped(out, text);
    return out;
}

bool is_valid_utf8(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra) return false;  // sequence cut short
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string_view local_name(std::string_view qname) {
    const auto colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::string_view name_prefix(std::string_view qname) {
    const auto colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view{} : qname.substr(0, colon);
}

std::optional<std::string> namespace_of(pugi::xml_node element) {
    const std::string_view prefix = name_prefix(element.name());
    if (prefix == "xml") return std::string("http://www.w3.org/XML/1998/namespace");
    const std::string declaration = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    for (pugi::xml_node n = element; n && n.type() == pugi::node_element; n = n.parent()) {
        if (pugi::xml_attribute a = n.attribute(declaration.c_str())) return std::string(a.value());
    }
    if (prefix.empty()) return std::string();
    return std::nullopt;
}

bool is_namespace_declaration(const pugi::xml_attribute& attribute) {
    const std::string_view name = attribute.name();
    return name == "xmlns" || name.substr(0, 6) == "xmlns:";
}

std::optional<std::string> fragment_error(std::string_view fragment) {
    pugi::xml_document doc;
    const std::string wrapped = "<f>" + std::string(fragment) + "</f>";
    const pugi::xml_parse_result r =
        doc.load_buffer(wrapped.data(), wrapped.size(), pugi::parse_default, pugi::encoding_utf8);
    if (r) return std::nullopt;
    return std::string(r.description());
}

std::string node_xml(pugi::xml_node node) {
    std::ostringstream out;
    node.print(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
}

}  // namespace regsim
