#include "ToolpathModel.h"

#include <algorithm>
#include <cmath>

namespace toolpath {

namespace {

// Finest grid: a path this many cells across its largest span; coarsest: this many.
constexpr double kFinestCells = 8192;
constexpr double kCoarsestCells = 16;
// A level that keeps more than this share of the level below it costs memory for nothing.
constexpr double kWorthwhileShare = 0.8;

// A level's grid may be this many pixels: where pieces are that dense the path reads as an
// area, and each doubling halves the pieces drawn.
constexpr double kPixelsPerCell = 2;

constexpr std::uint64_t kPinnedFlag = std::uint64_t{1} << 63;

std::uint64_t Mix(std::uint64_t k) {
    k ^= k >> 33;
    k *= 0xFF51AFD7ED558CCDull;
    k ^= k >> 33;
    k *= 0xC4CEB9FE1A85EC53ull;
    k ^= k >> 33;
    return k;
}

// An open-addressing table from a key of two words to an index: the levels are built from
// millions of pieces, where a node-based map spends most of its time allocating.
class IndexTable {
public:
    explicit IndexTable(std::size_t expected) {
        std::size_t n = 16;
        while (n < expected * 2) n *= 2;
        slots_.assign(n, Slot{});
        mask_ = n - 1;
    }
    // The index stored under the key, or `fresh` stored there now; `inserted` tells which.
    std::uint32_t FindOrAdd(std::uint64_t a, std::uint64_t b, std::uint32_t fresh, bool& inserted) {
        if (used_ * 2 >= slots_.size()) Grow();
        std::size_t i = Mix(a ^ Mix(b)) & mask_;
        while (slots_[i].value != kEmpty) {
            if (slots_[i].a == a && slots_[i].b == b) {
                inserted = false;
                return slots_[i].value;
            }
            i = (i + 1) & mask_;
        }
        slots_[i] = Slot{a, b, fresh};
        ++used_;
        inserted = true;
        return fresh;
    }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    struct Slot {
        std::uint64_t a = 0, b = 0;
        std::uint32_t value = kEmpty;
    };
    void Grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.size() * 2, Slot{});
        mask_ = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.value == kEmpty) continue;
            std::size_t i = Mix(s.a ^ Mix(s.b)) & mask_;
            while (slots_[i].value != kEmpty) i = (i + 1) & mask_;
            slots_[i] = s;
        }
    }
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
};

}  // namespace

void Extents::Add(const Point& p) {
    for (int i = 0; i < 3; ++i) {
        const double v = p[i];
        if (empty || v < min[i]) min[i] = v;
        if (empty || v > max[i]) max[i] = v;
    }
    empty = false;
}

double Extents::LargestSpan() const { return std::max({Span(0), Span(1), Span(2)}); }

Extents ExtentsOf(const std::vector<Edge>& edges) {
    Extents e;
    for (const Edge& edge : edges) {
        e.Add(edge.a);
        e.Add(edge.b);
    }
    return e;
}

std::vector<Chunk> ChunksOf(const std::vector<Edge>& edges, std::uint32_t size) {
    std::vector<Chunk> chunks;
    for (std::size_t begin = 0; begin < edges.size(); begin += size) {
        Chunk c;
        c.begin = static_cast<std::uint32_t>(begin);
        c.end = static_cast<std::uint32_t>(std::min(edges.size(), begin + size));
        c.lo = c.hi = edges[begin].a;
        for (std::uint32_t i = c.begin; i < c.end; ++i)
            for (const Point* p : {&edges[i].a, &edges[i].b})
                for (int ax = 0; ax < 3; ++ax) {
                    c.lo[ax] = std::min(c.lo[ax], (*p)[ax]);
                    c.hi[ax] = std::max(c.hi[ax], (*p)[ax]);
                }
        chunks.push_back(c);
    }
    return chunks;
}

std::vector<Edge> Coarsen(const std::vector<Edge>& source, double cell, const Extents& bounds) {
    std::vector<Edge> out;
    if (source.empty() || bounds.empty || !(cell > 0)) return out;

    // One real point per extreme of the box. They keep their own place, so whatever else
    // moves by up to a cell, the level spans exactly the file's box.
    std::array<Point, 6> pinned{};
    std::array<bool, 6> found{};
    for (const Edge& e : source)
        for (const Point* p : {&e.a, &e.b})
            for (int ax = 0; ax < 3; ++ax) {
                if (!found[ax * 2] && (*p)[ax] == static_cast<float>(bounds.min[ax])) {
                    pinned[ax * 2] = *p;
                    found[ax * 2] = true;
                }
                if (!found[ax * 2 + 1] && (*p)[ax] == static_cast<float>(bounds.max[ax])) {
                    pinned[ax * 2 + 1] = *p;
                    found[ax * 2 + 1] = true;
                }
            }

    const double inv = 1.0 / cell;
    auto keyOf = [&](const Point& p) -> std::uint64_t {
        for (std::uint64_t j = 0; j < 6; ++j)
            if (found[j] && p == pinned[j]) return kPinnedFlag | j;
        std::uint64_t key = 0;
        for (int ax = 0; ax < 3; ++ax) {
            const double c = std::floor((p[ax] - bounds.min[ax]) * inv);
            const auto i = static_cast<std::uint64_t>(std::clamp(c, 0.0, 2097151.0));
            key = key << 21 | i;
        }
        return key;
    };

    // Each cell's point, the first of the path's points that fell into it.
    std::vector<Point> points;
    IndexTable cells(source.size() / 2 + 16);
    IndexTable merged(source.size() / 2 + 16);
    auto pointOf = [&](std::uint64_t key, const Point& p) -> std::uint32_t {
        bool inserted = false;
        const auto fresh = static_cast<std::uint32_t>(points.size());
        const std::uint32_t at = cells.FindOrAdd(key, 0, fresh, inserted);
        if (inserted) points.push_back(p);
        return at;
    };

    // Most pieces start where the one before ended: its cell is known already.
    Point lastEnd{};
    std::uint64_t lastKey = 0;
    std::uint32_t lastPoint = 0;
    bool haveLast = false;
    for (const Edge& e : source) {
        const bool joined = haveLast && e.a == lastEnd;
        const std::uint64_t ka = joined ? lastKey : keyOf(e.a);
        const std::uint64_t kb = keyOf(e.b);
        if (ka == kb) {
            // Within one cell: nothing to draw. The chain goes on from the same cell, unless
            // the cell's point is not made yet.
            if (joined) lastEnd = e.b;
            else haveLast = false;
            continue;
        }
        const std::uint32_t pa = joined ? lastPoint : pointOf(ka, e.a);
        const std::uint32_t pb = pointOf(kb, e.b);
        lastEnd = e.b;
        lastKey = kb;
        lastPoint = pb;
        haveLast = true;
        bool fresh = false;
        const std::uint32_t at =
            merged.FindOrAdd(std::min(ka, kb), std::max(ka, kb) << 1 | (e.rapid ? 1 : 0),
                             static_cast<std::uint32_t>(out.size()), fresh);
        if (fresh) {
            out.push_back(Edge{points[pa], points[pb], e.rowFirst, e.rowLast, e.rapid});
        } else {
            Edge& m = out[at];
            m.rowFirst = std::min(m.rowFirst, e.rowFirst);
            m.rowLast = std::max(m.rowLast, e.rowLast);
        }
    }
    return out;
}

Model::Model(std::vector<Edge> edges, const std::atomic<bool>* cancel) {
    extents_ = ExtentsOf(edges);
    Level base;
    base.chunks = ChunksOf(edges, kChunkSize);
    base.edges = std::move(edges);
    levels_.reserve(16);  // the references below stay valid while levels are added
    levels_.push_back(std::move(base));

    const double span = extents_.LargestSpan();
    if (!(span > 0)) return;
    // Grids finer than a typical piece merge next to nothing: start at one that is not.
    const std::vector<Edge>& all = levels_[0].edges;
    std::vector<float> lengths;
    const std::size_t stride = std::max<std::size_t>(1, all.size() / 4096);
    for (std::size_t i = 0; i < all.size(); i += stride) {
        float sum = 0;
        for (int ax = 0; ax < 3; ++ax) sum += (all[i].b[ax] - all[i].a[ax]) * (all[i].b[ax] - all[i].a[ax]);
        lengths.push_back(std::sqrt(sum));
    }
    std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
    double first = span / kFinestCells;
    while (first < lengths[lengths.size() / 2]) first *= 2;

    const std::vector<Edge>* source = &all;
    std::vector<Edge> previous;
    std::size_t kept = all.size();
    for (double cell = first; cell <= span / kCoarsestCells; cell *= 2) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return;
        std::vector<Edge> coarse = Coarsen(*source, cell, extents_);
        if (coarse.empty()) break;
        if (coarse.size() < kept * kWorthwhileShare) {
            Level level;
            level.cell = cell;
            level.edges = coarse;
            level.chunks = ChunksOf(level.edges, kChunkSize);
            kept = coarse.size();
            levels_.push_back(std::move(level));
        }
        previous = std::move(coarse);
        source = &previous;
    }
}

const Level& Model::LevelFor(double pixelMm) const {
    static const Level kNone;
    if (levels_.empty()) return kNone;
    for (auto it = levels_.rbegin(); it != levels_.rend(); ++it)
        if (it->cell <= kPixelsPerCell * pixelMm) return *it;
    return levels_.front();
}

}  // namespace toolpath
