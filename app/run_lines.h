// The lines of an update run, as its errors file gets them: what an
// unattended start said before the run (its boxes), then the run's own
// lines. The progress window's list only shows them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tolmar {

class RunLines {
public:
    void Add(std::wstring_view line) { lines_.emplace_back(line); }
    // A box's text, its lines joined with CR, as one line.
    static std::wstring BoxLine(std::wstring_view text);
    // From here on the lines are the run's: ClearRun empties those, and
    // the lines before stay.
    void StartRun() { runStart_ = lines_.size(); }
    void ClearRun() { lines_.resize(runStart_); }
    const std::vector<std::wstring>& Lines() const { return lines_; }

private:
    std::vector<std::wstring> lines_;
    size_t runStart_ = 0;
};

}  // namespace tolmar
