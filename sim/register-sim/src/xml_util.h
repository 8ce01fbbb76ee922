// Small XML helpers shared by the simulator: text escaping, UTF-8
// validation and namespace resolution on top of pugixml (which keeps
// qualified names as they are written and leaves namespaces to us).
#pragma once

#include <pugixml.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace regsim {

// Escapes text for element content or a double-quoted attribute value.
std::string xml_escape(std::string_view text);
// The same, appended to `out`.
void append_escaped(std::string& out, std::string_view text);

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates).
bool is_valid_utf8(std::string_view text);

// The part of a qualified name after the colon (the whole name when none).
std::string_view local_name(std::string_view qname);
// The part before the colon (empty when none).
std::string_view name_prefix(std::string_view qname);

// The namespace URI of an element, from the xmlns declarations in scope.
// std::nullopt when the element's prefix is not declared.
std::optional<std::string> namespace_of(pugi::xml_node element);

// True when the attribute is a namespace declaration (xmlns or xmlns:p).
bool is_namespace_declaration(const pugi::xml_attribute& attribute);

// Checks that `fragment` is well-formed XML content (elements, text,
// references) that can stand inside an element. Returns the parser's
// message when it is not.
std::optional<std::string> fragment_error(std::string_view fragment);

// The XML text of a node (with its descendants), without indentation.
std::string node_xml(pugi::xml_node node);

}  // namespace regsim
