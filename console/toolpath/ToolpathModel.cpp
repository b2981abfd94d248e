#include "ToolpathModel.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace toolpath {

namespace {

// Finest grid: a path this many cells across its largest span; coarsest: this many.
constexpr double kFinestCells = 8192;
constexpr double kCoarsestCells = 16;
// A level that keeps more than this share of the level below it costs memory for nothing.
constexpr double kWorthwhileShare = 0.8;

constexpr std::uint64_t kPinnedFlag = std::uint64_t{1} << 63;

struct EdgeKey {
    std::uint64_t a, b;
    bool rapid;
    bool operator==(const EdgeKey&) const = default;
};

struct EdgeKeyHash {
    std::size_t operator()(const EdgeKey& k) const {
        std::uint64_t h = k.a * 0x9E3779B97F4A7C15ull;
        h ^= (k.b + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2)) * 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(h ^ (h >> 31) ^ (k.rapid ? 0x94D049BB133111EBull : 0));
    }
};

struct CellHash {
    std::size_t operator()(std::uint64_t k) const {
        k ^= k >> 33;
        k *= 0xFF51AFD7ED558CCDull;
        k ^= k >> 33;
        return static_cast<std::size_t>(k);
    }
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

    std::unordered_map<std::uint64_t, Point, CellHash> cellPoint;
    std::unordered_map<EdgeKey, std::uint32_t, EdgeKeyHash> merged;
    cellPoint.reserve(source.size() / 2 + 16);
    merged.reserve(source.size() / 2 + 16);
    auto pointOf = [&](std::uint64_t key, const Point& p) -> const Point& {
        return cellPoint.try_emplace(key, p).first->second;
    };

    for (const Edge& e : source) {
        const std::uint64_t ka = keyOf(e.a);
        const std::uint64_t kb = keyOf(e.b);
        if (ka == kb) continue;
        const Point& pa = pointOf(ka, e.a);
        const Point& pb = pointOf(kb, e.b);
        const EdgeKey key{std::min(ka, kb), std::max(ka, kb), e.rapid};
        const auto [it, fresh] = merged.try_emplace(key, static_cast<std::uint32_t>(out.size()));
        if (fresh) {
            out.push_back(Edge{pa, pb, e.rowFirst, e.rowLast, e.rapid});
        } else {
            Edge& m = out[it->second];
            m.rowFirst = std::min(m.rowFirst, e.rowFirst);
            m.rowLast = std::max(m.rowLast, e.rowLast);
        }
    }
    return out;
}

Model::Model(std::vector<Edge> edges) {
    extents_ = ExtentsOf(edges);
    Level base;
    base.chunks = ChunksOf(edges, kChunkSize);
    base.edges = std::move(edges);
    levels_.push_back(std::move(base));

    const double span = extents_.LargestSpan();
    if (!(span > 0)) return;
    std::vector<Edge> source = levels_[0].edges;
    std::size_t kept = source.size();
    for (double cell = span / kFinestCells; cell <= span / kCoarsestCells; cell *= 2) {
        std::vector<Edge> coarse = Coarsen(source, cell, extents_);
        if (coarse.empty()) break;
        if (coarse.size() < kept * kWorthwhileShare) {
            Level level;
            level.cell = cell;
            level.edges = coarse;
            level.chunks = ChunksOf(level.edges, kChunkSize);
            kept = coarse.size();
            levels_.push_back(std::move(level));
        }
        source = std::move(coarse);
    }
}

const Level& Model::LevelFor(double pixelMm) const {
    static const Level kNone;
    if (levels_.empty()) return kNone;
    for (auto it = levels_.rbegin(); it != levels_.rend(); ++it)
        if (it->cell <= pixelMm) return *it;
    return levels_.front();
}

}  // namespace toolpath
