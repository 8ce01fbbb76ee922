#include "tools/form_layout.h"

#include <algorithm>
#include <cstdint>

namespace tolmar::layout {

int Scale(int value, int dpi) {
    const std::int64_t product = static_cast<std::int64_t>(value) * dpi;
    const std::int64_t half = kBaseDpi / 2;
    const std::int64_t rounded = product >= 0 ? (product + half) / kBaseDpi : -((-product + half) / kBaseDpi);
    return static_cast<int>(rounded);
}

Rect Scale(const Rect& rect, int dpi) {
    const int x = Scale(rect.x, dpi), y = Scale(rect.y, dpi);
    return {x, y, Scale(rect.right(), dpi) - x, Scale(rect.bottom(), dpi) - y};
}

Size Scale(const Size& size, int dpi) { return {Scale(size.w, dpi), Scale(size.h, dpi)}; }

Form Scale(const Form& form, int dpi) {
    Form scaled{Scale(form.client, dpi), form.items};
    for (Item& item : scaled.items) item.rect = Scale(item.rect, dpi);
    return scaled;
}

namespace {

int Missing(const Item& item) { return item.textWidth > item.rect.w ? item.textWidth - item.rect.w : 0; }

}  // namespace

Form MakeRoom(Form form) {
    // Each round makes room at one edge, the leftmost where a text lacks
    // room; the edges right of it move right, so a round never takes room
    // from a text that had it, and there are at most as many rounds as
    // controls.
    for (size_t round = 0; round < form.items.size(); ++round) {
        const Item* leftmost = nullptr;
        for (const Item& item : form.items)
            if (Missing(item) > 0 && (!leftmost || item.rect.right() < leftmost->rect.right())) leftmost = &item;
        if (!leftmost) break;
        // The column: every control that ends at this edge. It widens by
        // what its widest text lacks.
        const int edge = leftmost->rect.right();
        int missing = 0;
        for (const Item& item : form.items)
            if (item.rect.right() == edge) missing = std::max(missing, Missing(item));
        for (Item& item : form.items) {
            if (item.rect.x >= edge)
                item.rect.x += missing;
            else if (item.rect.right() >= edge && (!item.fixedWidth || Missing(item) > 0))
                item.rect.w += missing;
        }
        form.client.w = std::max(form.client.w, edge) + missing;
    }
    for (Item& text : form.items) {
        if (!text.wrapsInto || text.textHeight <= text.rect.h) continue;
        for (Item& under : form.items) {
            if (under.id != text.wrapsInto) continue;
            const int missing = std::min(text.textHeight - text.rect.h, under.rect.h);
            text.rect.h += missing;
            under.rect.y += missing;
            under.rect.h -= missing;
        }
    }
    for (size_t i = 0; i < form.items.size(); ++i) {
        const Item& text = form.items[i];
        if (!text.growsDown || text.textHeight <= text.rect.h) continue;
        const int edge = text.rect.bottom();
        const int missing = text.textHeight - text.rect.h;
        for (Item& item : form.items) {
            if (item.rect.y >= edge)
                item.rect.y += missing;
            else if (item.rect.bottom() >= edge)
                item.rect.h += missing;  // the text itself among them
        }
        form.client.h = std::max(form.client.h, edge) + missing;
    }
    return form;
}

const Item* Find(const Form& form, int id) {
    for (const Item& item : form.items)
        if (item.id == id) return &item;
    return nullptr;
}

}  // namespace tolmar::layout
