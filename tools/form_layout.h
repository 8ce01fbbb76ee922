// The arithmetic of the program's window layouts, apart from the platform:
// a form is laid out in pixels for 96 DPI, scaled to the window's DPI, and
// then given room wherever a text, in the font actually chosen, is wider
// than its control. The Win32 side measures the texts and applies the result.
#pragma once

#include <vector>

namespace tolmar::layout {

// The DPI the forms' pixel layouts are given for (100 %).
inline constexpr int kBaseDpi = 96;

// `value` pixels at 96 DPI as pixels at `dpi`, rounded to the nearest pixel
// (halves away from zero, as MulDiv rounds).
int Scale(int value, int dpi);

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    bool operator==(const Rect&) const = default;
};

struct Size {
    int w = 0, h = 0;
    bool operator==(const Size&) const = default;
};

// A rectangle at 96 DPI at `dpi`. Its edges are scaled, not its size, so that
// controls that touch at 96 DPI still touch (0..73 and 73..183 stay adjacent).
Rect Scale(const Rect& rect, int dpi);
Size Scale(const Size& size, int dpi);

// One control of a form: its id, its place, and the width its text needs in
// the font of the form (0: a control without a text to fit, or one that
// wraps its text). A control of fixed width (a push button) never widens
// because a column of other controls did; it moves or stays.
// A text that wraps instead (`wrapsInto`: the id of the control under it)
// has the height it needs at its width in `textHeight`; what it lacks, the
// control under it gives up. A wrapping text that has no control to take
// from (`growsDown`) has the form grow down instead.
struct Item {
    int id = 0;
    Rect rect;
    int textWidth = 0;
    bool fixedWidth = false;
    int wrapsInto = 0;
    int textHeight = 0;
    bool growsDown = false;
};

struct Form {
    Size client;
    std::vector<Item> items;
};

// Every place and the client size at `dpi`; text widths are kept (they are
// measured at the DPI already).
Form Scale(const Form& form, int dpi);

// Gives every text the width it needs. For each column of controls whose
// text is wider than the control (a column: the controls that end at the
// same right edge), leftmost edge first, by the width d its widest text
// lacks:
//   - the column's controls widen by d;
//   - every control that stands right of it (its left edge at or beyond the
//     control's right edge) moves right by d;
//   - every control that reaches across that edge (a group box, a frame, a
//     label of a neighbouring column) widens by d, unless its width is fixed;
//   - the client area widens by d.
// A control left of the edge stays where it is. Then each wrapping text that
// needs more lines than its control shows grows down by the missing height,
// and the control under it moves down and shrinks by as much (never below
// nothing). Last, each text that grows down and needs more height than its
// control has grows by the missing height h at its bottom edge: every
// control below that edge (its top at or beyond it) moves down by h, every
// control that reaches across it (a panel holding the text) grows by h, and
// so does the client area. When every text fits, the form comes back
// unchanged.
Form MakeRoom(Form form);

// The item of `id`; nullptr when the form has none.
const Item* Find(const Form& form, int id);

}  // namespace tolmar::layout
