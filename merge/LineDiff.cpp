#include "merge/LineDiff.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// The x of a diagonal a search has not reached: below, and above, any x it can reach.
constexpr int forwardNone = -1;
constexpr int backwardNone = std::numeric_limits<int>::max();

// After this many steps from each end a search takes the furthest point it reached as its
// split, much as GNU diff's heuristic does. That bounds two long, unrelated orders of the same
// lines to about lines x cap comparisons, while up to about twice this many edits in one stretch
// still get the exact result.
constexpr int costCap = 1024;

struct Diagonals
{
    int low;
    int high;
    [[nodiscard]] bool holds(int d) const { return d >= low && d <= high; }
};

// The diagonals step c of a search from diagonal mid lands on: every other one within c of mid,
// as far as the box goes.
Diagonals reach(int mid, int c, int lowest, int highest)
{
    int low = mid - c;
    int high = mid + c;
    if (low < lowest)
        low = lowest + ((lowest - low) & 1);
    if (high > highest)
        high = highest - ((high - highest) & 1);
    return {low, high};
}

// The lines of one side that both sides have, and where they stand in the side.
std::vector<int> shared(const std::vector<int>& side, const std::vector<char>& sides,
                        std::vector<int>& positions)
{
    std::vector<int> lines;
    for (int i = 0; i < int(side.size()); ++i) {
        if (sides[side[i]] == 3) {
            lines.push_back(side[i]);
            positions.push_back(i);
        }
    }
    return lines;
}

} // namespace

std::vector<int> LineDiff::match(const std::vector<int>& a, const std::vector<int>& b, int distinct)
{
    // A line the other side lacks can never be paired, so the search never sees it: two
    // unrelated documents then cost next to nothing.
    std::vector<char> sides(distinct, 0);
    for (const int line : a)
        sides[line] |= 1;
    for (const int line : b)
        sides[line] |= 2;
    std::vector<int> aPositions;
    std::vector<int> bPositions;
    LineDiff diff(shared(a, sides, aPositions), shared(b, sides, bPositions));
    diff.compare(0, int(diff.first.size()), 0, int(diff.second.size()));
    std::vector<int> matched(a.size(), -1);
    for (size_t i = 0; i < aPositions.size(); ++i) {
        if (diff.pairs[i] >= 0)
            matched[aPositions[i]] = bPositions[diff.pairs[i]];
    }
    return matched;
}

LineDiff::LineDiff(std::vector<int> a, std::vector<int> b)
    : first(std::move(a)), second(std::move(b)), pairs(first.size(), -1),
      forwardReach(first.size() + second.size() + 3), backwardReach(forwardReach.size()),
      diagonalOffset(int(second.size()) + 1)
{}

void LineDiff::compare(int aLow, int aHigh, int bLow, int bHigh)
{
    for (;;) {
        while (aLow < aHigh && bLow < bHigh && first[aLow] == second[bLow])
            pairs[aLow++] = bLow++;
        while (aLow < aHigh && bLow < bHigh && first[aHigh - 1] == second[bHigh - 1])
            pairs[--aHigh] = --bHigh;
        if (aLow == aHigh || bLow == bHigh)
            return;
        const Split split = bisect(aLow, aHigh, bLow, bHigh);
        if ((split.x == aLow && split.y == bLow) || (split.x == aHigh && split.y == bHigh))
            return; // no split that makes progress: the rest stays unpaired
        compare(aLow, split.x, bLow, split.y);
        aLow = split.x;
        bLow = split.y;
    }
}

// Myers' middle snake: a forward search from the top left and a backward one from the bottom
// right, one step each in turn, until they meet on a diagonal (x - y); the meeting point lies on
// a shortest edit path. Moves that would leave the box are never taken.
LineDiff::Split LineDiff::bisect(int aLow, int aHigh, int bLow, int bHigh)
{
    int* forward = forwardReach.data() + diagonalOffset;
    int* backward = backwardReach.data() + diagonalOffset;
    const int lowest = aLow - bHigh;
    const int highest = aHigh - bLow;
    const int forwardMid = aLow - bLow;
    const int backwardMid = aHigh - bHigh;
    const bool odd = ((forwardMid - backwardMid) & 1) != 0;
    forward[forwardMid] = aLow;
    backward[backwardMid] = aHigh;
    Diagonals fore{forwardMid, forwardMid};
    Diagonals back{backwardMid, backwardMid};
    for (int c = 1;; ++c) {
        const Diagonals foreBefore = fore;
        fore = reach(forwardMid, c, lowest, highest);
        for (int d = fore.low; d <= fore.high; d += 2) {
            // A deletion from the diagonal below or an insertion from the one above.
            const int below = foreBefore.holds(d - 1) ? forward[d - 1] : forwardNone;
            const int above = foreBefore.holds(d + 1) ? forward[d + 1] : forwardNone;
            int x = below != forwardNone && below < aHigh ? below + 1 : forwardNone;
            if (above != forwardNone && above - d <= bHigh)
                x = std::max(x, above);
            while (x != forwardNone && x < aHigh && x - d < bHigh && first[x] == second[x - d])
                ++x;
            forward[d] = x;
            if (odd && back.holds(d) && backward[d] <= x)
                return {x, x - d};
        }
        const Diagonals backBefore = back;
        back = reach(backwardMid, c, lowest, highest);
        for (int d = back.low; d <= back.high; d += 2) {
            const int above = backBefore.holds(d + 1) ? backward[d + 1] : backwardNone;
            const int below = backBefore.holds(d - 1) ? backward[d - 1] : backwardNone;
            int x = above != backwardNone && above > aLow ? above - 1 : backwardNone;
            if (below != backwardNone && below - d >= bLow)
                x = std::min(x, below);
            while (x != backwardNone && x > aLow && x - d > bLow &&
                   first[x - 1] == second[x - d - 1])
                --x;
            backward[d] = x;
            if (!odd && fore.holds(d) && forward[d] >= x)
                return {x, x - d};
        }
        if (c < costCap)
            continue;
        // Settle for the point the forward search got furthest with.
        Split best{aLow, bLow};
        for (int d = fore.low; d <= fore.high; d += 2) {
            if (forward[d] != forwardNone && 2 * forward[d] - d > best.x + best.y)
                best = {forward[d], forward[d] - d};
        }
        return best;
    }
}
