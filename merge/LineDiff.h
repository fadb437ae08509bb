#pragma once

#include <vector>

// A longest common subsequence of two sequences of line numbers (equal numbers stand for equal
// lines), found with Myers' O(ND) search in linear space. A search that grows too costly settles
// for a good split instead of the best one: the result is then still a common subsequence, only
// perhaps not the longest, which for a merge means coarser changes, never wrong ones.
class LineDiff
{
public:
    // For each element of a, the index of the element of b it is paired with, or -1. Numbers are
    // in [0, distinct).
    [[nodiscard]] static std::vector<int> match(const std::vector<int>& a,
                                                const std::vector<int>& b, int distinct);

private:
    struct Split
    {
        int x;
        int y;
    };
    LineDiff(std::vector<int> a, std::vector<int> b);
    void compare(int aLow, int aHigh, int bLow, int bHigh);
    Split bisect(int aLow, int aHigh, int bLow, int bHigh);

    // The two sequences: x counts elements of the first (a), y of the second (b).
    const std::vector<int> first;
    const std::vector<int> second;
    std::vector<int> pairs;         // per element of first, as in match()
    std::vector<int> forwardReach;  // per diagonal x - y: the furthest x a forward path reached
    std::vector<int> backwardReach; // per diagonal: the smallest x a backward path reached
    const int diagonalOffset;
};
