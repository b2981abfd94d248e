#pragma once
// The loaded file's path as straight pieces, its extent, and a level-of-detail pyramid that
// keeps a frame's work bounded by what the screen can show, however long the file. Plain C++:
// built on a worker thread, tested without a window.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace toolpath {

using Point = std::array<float, 3>;

// One straight piece of the path. `rowFirst`..`rowLast` are the grid rows (the file's line k
// is row k) it stands for: one row for a piece of the file, a range for a merged piece.
struct Edge {
    Point a{};
    Point b{};
    std::uint32_t rowFirst = 0;
    std::uint32_t rowLast = 0;
    bool rapid = false;
};

struct Extents {
    std::array<double, 3> min{};
    std::array<double, 3> max{};
    bool empty = true;

    void Add(const Point& p);
    double Span(int axis) const { return empty ? 0.0 : max[axis] - min[axis]; }
    double LargestSpan() const;
    bool operator==(const Extents&) const = default;
};

Extents ExtentsOf(const std::vector<Edge>& edges);

// A run of consecutive edges and the box around them, so a view skips what it cannot see.
struct Chunk {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    Point lo{};
    Point hi{};
};

// One level: the edges and their chunks. `cell` is the grid size (mm) the level's points were
// snapped to, 0 for the file's own pieces.
struct Level {
    double cell = 0;
    std::vector<Edge> edges;
    std::vector<Chunk> chunks;
};

class Model {
public:
    Model() = default;
    // Takes the file's pieces (in file order) and builds every level from them. Once `cancel`
    // is set, no further level is built (the model is then of no use to anyone).
    explicit Model(std::vector<Edge> edges, const std::atomic<bool>* cancel = nullptr);

    const Extents& Bounds() const { return extents_; }
    std::size_t Pieces() const { return levels_.empty() ? 0 : levels_[0].edges.size(); }
    const std::vector<Level>& Levels() const { return levels_; }
    // The coarsest level whose grid is no larger than two pixels (`pixelMm`: the length of
    // one pixel in mm); level 0, the file itself, when even the finest grid is too coarse.
    const Level& LevelFor(double pixelMm) const;

    static constexpr std::uint32_t kChunkSize = 64;

private:
    Extents extents_;
    std::vector<Level> levels_;
};

// Chunks over a level's edges, in order.
std::vector<Chunk> ChunksOf(const std::vector<Edge>& edges, std::uint32_t size);

// The edges of `source` with every point snapped to a grid of `cell` mm: points that share a
// grid cell become one (a real point of the path; the extreme points of `bounds` are kept as
// their cells' points, so the level spans the same box), pieces within one cell vanish, and a
// piece between two cells that already has one is merged into it (its rows widened).
std::vector<Edge> Coarsen(const std::vector<Edge>& source, double cell, const Extents& bounds);

}  // namespace toolpath
