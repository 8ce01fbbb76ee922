// MSXML 6 documents: creation, loading and the few node operations the
// register client needs.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/win/unique.h"

#if defined(__MINGW32__) && !defined(_MSC_VER)
// mingw-w64's msxml2.h does not attach interface ids for __uuidof.
__CRT_UUID_DECL(IXMLDOMDocument2, 0x2933bf95, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60)
__CRT_UUID_DECL(IXMLDOMNode, 0x2933bf80, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60)
#endif

namespace tolmar::win {

// A new free-threaded-neutral DOM document (Msxml2.DOMDocument.6.0),
// synchronous, not validating, no external resolution. Throws Error when
// MSXML 6 is not available.
ComPtr<IXMLDOMDocument2> NewXmlDocument();

// Loads text into doc. On a parse error returns false and sets `reason` to
// the parser's message.
bool LoadXmlText(IXMLDOMDocument2* doc, std::wstring_view text, std::wstring& reason);

// The document or node written back out as XML text.
std::wstring XmlOf(IXMLDOMNode* node);
std::wstring TextOf(IXMLDOMNode* node);
std::wstring LocalNameOf(IXMLDOMNode* node);
std::wstring NamespaceOf(IXMLDOMNode* node);
std::vector<ComPtr<IXMLDOMNode>> ElementChildren(IXMLDOMNode* node);

}  // namespace tolmar::win
