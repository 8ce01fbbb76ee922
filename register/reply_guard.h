// What the program lets through from the register, whatever the register
// sends: the bounds of a lookup, and the checks every reply passes before
// its text reaches the XML parser, the person record, the database, the
// host program or the screen. Portable; the transport and the lookup call
// these.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tools/text.h"

namespace tolmar {

// One lookup, from the start of the call to the last byte of the reply, may
// take at most this long; connect, send and each wait for data are bounded
// by the time that is left of it.
inline constexpr unsigned long kLookupDeadlineMs = 60000;

// A reply (or a WSDL document) larger than this is refused unread beyond it.
// No real person answer comes near 1 MB.
inline constexpr std::size_t kMaxReplyBytes = 4u * 1024u * 1024u;

// A text of the register's taken into an error text, an errors-file line or
// a message box is cut at this many characters and marked as cut.
inline constexpr std::size_t kMaxRegisterTextLength = 1000;
inline constexpr std::wstring_view kCutMark = L" [...texten avkortad]";

// The lookup's deadline in milliseconds: kLookupDeadlineMs, or a shorter
// one given as decimal text (the test override). Anything that is not a
// whole number from 1 to kLookupDeadlineMs leaves the shipped bound.
unsigned long LookupDeadlineMs(std::optional<std::string_view> override);

// Strict UTF-8 decoding (DecodeUtf8Strict) is in tools/text.h.

// Whether an XML text holds a document type declaration ("<!DOCTYPE",
// letters in any case). SOAP forbids one, and the register's own answer
// document has none: such a text is refused before any parser sees it.
bool HasDoctype(std::wstring_view xml);

// A value taken from the register with every "¤" (the host record's field
// separator) and every control character (below U+0020, NUL included)
// replaced by a blank, so that no value can add a field to the host record,
// end it early or break a line.
std::wstring CleanRegisterValue(std::wstring_view value);
void CleanRegisterValueInPlace(std::wstring& value);

// Whether a personal number given in a start parameter is fit to be sent
// on: it must not hold "¤" or a control character.
bool IsCleanNumber(std::wstring_view number);

// A register text for an error text: as it is when it has at most
// kMaxRegisterTextLength characters, else its first kMaxRegisterTextLength
// (never half a surrogate pair) followed by kCutMark.
std::wstring CutRegisterText(std::wstring_view text);

// Whether a reply may be read by its Content-Length header's value: nullopt
// when it may (no value, or a number within kMaxReplyBytes), else the
// refusal: a length over the limit, or one that is no number at all.
std::optional<std::wstring> ContentLengthRefusal(std::wstring_view value);

// A reply's response headers (as WinINet gives them back raw: the status
// line, then one header to a line, CR LF between lines) at most this long
// are read; longer ones are refused.
inline constexpr std::size_t kMaxReplyHeaderChars = 64u * 1024u;

// Whether a reply's body may be read by its framing, from its raw response
// headers: nullopt when it may; else the refusal. A reply is refused when it
// gives Content-Length more than once (repeated or conflicting, also as a
// list in one header), when it gives both Content-Length and a
// Transfer-Encoding (a body framed two ways is read one way by this program
// and another way by whatever reads the connection next), when its headers
// are longer than kMaxReplyHeaderChars, and when its one Content-Length is
// refused by ContentLengthRefusal. Header names are matched in any letter
// case, with blanks around them ignored.
std::optional<std::wstring> ReplyFramingRefusal(std::wstring_view rawHeaders);

// The failure texts of the guards (Swedish, in the program's voice).
std::wstring ReplyTooLargeText();
std::wstring ReplyHeadersTooLongText();
std::wstring ReplyLengthRepeatedText();
std::wstring ReplyFramedTwoWaysText();
std::wstring ReplyNotUtf8Text(std::size_t badOffset);
std::wstring ReplyHasDoctypeText();
std::wstring DeadlinePassedText(unsigned long deadlineMs);

}  // namespace tolmar
