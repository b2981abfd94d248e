#pragma once
// A G-code file read for the toolpath view: its lines split as the grid splits them (so row k
// of the grid is line k here), run through the interpreter, drawn as a model and timed by the
// planner. Plain C++, for a worker thread; it can be cancelled between lines.

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ControllerText.h"
#include "TimeEstimate.h"
#include "Interpreter.h"
#include "ToolpathModel.h"

namespace toolpath {

struct LoadedPath {
    std::shared_ptr<const Model> model;
    TimeEstimate estimate;
    std::size_t rows = 0;
    std::vector<gcode::FileError> errors;  // rows counted from 1, as in the grid
    bool cancelled = false;
};

// The pieces the view draws: every move but dwells, arcs as their segments. Rows count from
// 1, as in the grid.
std::vector<Edge> EdgesOf(const std::vector<gcode::Segment>& segments);

// Splits `text` into the grid's lines (at CR LF, a lone CR or a lone LF; a NUL ends the text)
// and calls `line(text, rowFromZero)` for each.
template <typename F>
void ForEachLine(std::string_view text, F&& line) {
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::size_t row = 0, begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string_view::npos) end = text.size();
        line(text.substr(begin, end - begin), row++);
        if (end == text.size()) break;
        begin = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
}

LoadedPath LoadPath(std::string_view text, gcode::Dialect dialect,
                    const MotionSettings& settings, const std::atomic<bool>* cancel = nullptr);

// Reads a whole file; false (and `error` says why) when it cannot be read.
bool ReadWholeFile(const std::string& fileName, std::string& text, std::string& error);

}  // namespace toolpath
