#include "tools/messages.h"

namespace tolmar {

BoxContent ComposeErrorBox(std::wstring_view text) {
    for (std::wstring_view sentence : {kRowNotLocatedText, kRowNotLocatedTextSv}) {
        const size_t p = text.find(sentence);
        if (p == std::wstring_view::npos) continue;
        std::wstring shown(text.substr(0, p));
        shown += kConcurrencyAdvice;
        shown += text.substr(p + sentence.size());
        return {BoxKind::Warning, std::move(shown)};
    }
    return {BoxKind::Information, std::wstring(text)};
}

std::wstring_view BoxCaption(BoxKind kind) {
    switch (kind) {
        case BoxKind::Warning: return L"Warning";
        case BoxKind::Confirmation: return L"Confirm";
        case BoxKind::Information: break;
    }
    return L"Information";
}

}  // namespace tolmar
