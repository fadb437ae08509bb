#include "merge/TextMerge.h"

#include "merge/LineDiff.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// Line numbers by content. The keys point into the inputs, so a line is hashed and compared
// where it is, never copied.
using Numbering = std::unordered_map<std::string_view, int>;

// One version's lines: line i is the bytes [starts[i], starts[i + 1]) of text, its line ending
// included; equal ids mean equal bytes, across every version numbered alike.
struct Lines
{
    const QByteArray& text;
    std::vector<qsizetype> starts;
    std::vector<int> ids;
    qsizetype crlfEndings = 0;
    qsizetype lfEndings = 0;
    [[nodiscard]] int count() const { return int(ids.size()); }
};

// Beyond what Qt 5 can hold in one array, with room to spare.
constexpr qsizetype largestResult = qsizetype(1) << 30;

Lines split(const QByteArray& text, Numbering& numbering)
{
    Lines lines{text, {}, {}};
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype newline = text.indexOf('\n', start);
        const qsizetype end = newline < 0 ? text.size() : newline + 1;
        if (newline > start && text.at(newline - 1) == '\r')
            ++lines.crlfEndings;
        else if (newline >= 0)
            ++lines.lfEndings;
        const std::string_view line(text.constData() + start, size_t(end - start));
        lines.starts.push_back(start);
        lines.ids.push_back(numbering.try_emplace(line, int(numbering.size())).first->second);
        start = end;
    }
    lines.starts.push_back(text.size());
    return lines;
}

bool sameLines(const std::vector<int>& x, int xFrom, int xTo, const std::vector<int>& y, int yFrom,
               int yTo)
{
    return xTo - xFrom == yTo - yFrom &&
           std::equal(x.begin() + xFrom, x.begin() + xTo, y.begin() + yFrom);
}

// diff3's walk, writing the merge into result, or without one only counting its bytes. Between
// runs of base lines both sides kept lie chunks where a side differs from the base: a chunk one
// side left as it was takes the other side, one both changed alike takes either, anything else
// clashes. Edits on adjacent lines share a chunk, so they clash. inOurs and inTheirs give each
// base line's index in that side, or -1.
qsizetype write(const std::vector<int>& base, const std::vector<int>& inOurs,
                const std::vector<int>& inTheirs, const Lines& ours, const Lines& theirs,
                const TextMerge::Labels& labels, std::string_view eol, TextMerge::Result* result)
{
    qsizetype size = 0;
    const auto put = [&](const char* data, qsizetype length) {
        if (result)
            result->text.append(data, length);
        size += length;
    };
    // A clash side's last line needs an ending before the next marker.
    const auto putLines = [&](const Lines& side, int from, int to, bool ended) {
        put(side.text.constData() + side.starts[from], side.starts[to] - side.starts[from]);
        if (ended && to > from && side.text.at(side.starts[to] - 1) != '\n')
            put(eol.data(), qsizetype(eol.size()));
    };
    const auto putMarker = [&](const char* marker, const QByteArray& label) {
        put(marker, 7);
        if (!label.isEmpty()) {
            put(" ", 1);
            put(label.constData(), label.size());
        }
        put(eol.data(), qsizetype(eol.size()));
    };
    const int baseCount = int(base.size());
    for (int i = 0, o = 0, t = 0;;) {
        const int keptFrom = o;
        for (; i < baseCount && inOurs[i] == o && inTheirs[i] == t; ++i, ++o, ++t) {
        }
        putLines(ours, keptFrom, o, false);
        if (o == ours.count() && t == theirs.count())
            return size; // base lines left over were deleted on both sides
        int next = i;
        while (next < baseCount && (inOurs[next] < 0 || inTheirs[next] < 0))
            ++next;
        const int oursTo = next < baseCount ? inOurs[next] : ours.count();
        const int theirsTo = next < baseCount ? inTheirs[next] : theirs.count();
        if (sameLines(base, i, next, ours.ids, o, oursTo)) {
            putLines(theirs, t, theirsTo, false);
        } else if (sameLines(base, i, next, theirs.ids, t, theirsTo) ||
                   sameLines(ours.ids, o, oursTo, theirs.ids, t, theirsTo)) {
            putLines(ours, o, oursTo, false);
        } else {
            if (result)
                ++result->clashes;
            putMarker("<<<<<<<", labels.ours);
            putLines(ours, o, oursTo, true);
            putMarker("=======", {});
            putLines(theirs, t, theirsTo, true);
            putMarker(">>>>>>>", labels.theirs);
        }
        i = next;
        o = oursTo;
        t = theirsTo;
    }
}

TextMerge::Result merged(const std::vector<int>& base, const std::vector<int>& inOurs,
                         const std::vector<int>& inTheirs, const Lines& ours, const Lines& theirs,
                         const TextMerge::Labels& labels, bool allEmpty)
{
    // Marker lines are lines of the document: they end the way most of its lines end.
    const bool crlf = ours.crlfEndings + theirs.crlfEndings > ours.lfEndings + theirs.lfEndings;
    const std::string_view eol = crlf ? "\r\n" : "\n";
    // Sized first, so the text is never reallocated (leaving no partial copies behind). An
    // empty merge of texts that were not all empty would erase the document: a side emptied
    // by a fault (a truncated file) must not win silently.
    TextMerge::Result result;
    const qsizetype size = write(base, inOurs, inTheirs, ours, theirs, labels, eol, nullptr);
    if ((size == 0 && !allEmpty) || size > largestResult)
        return result;
    result.text.reserve(size);
    write(base, inOurs, inTheirs, ours, theirs, labels, eol, &result);
    result.ok = true;
    return result;
}

} // namespace

TextMerge::Result TextMerge::threeWay(const QByteArray& base, const QByteArray& ours,
                                      const QByteArray& theirs, const Labels& labels)
{
    if (base.contains('\0') || ours.contains('\0') || theirs.contains('\0'))
        return {};
    Numbering numbering;
    const Lines baseLines = split(base, numbering);
    const Lines oursLines = split(ours, numbering);
    const Lines theirsLines = split(theirs, numbering);
    const int distinct = int(numbering.size());
    return merged(baseLines.ids, LineDiff::match(baseLines.ids, oursLines.ids, distinct),
                  LineDiff::match(baseLines.ids, theirsLines.ids, distinct), oursLines, theirsLines,
                  labels, base.isEmpty() && ours.isEmpty() && theirs.isEmpty());
}

TextMerge::Result TextMerge::twoWay(const QByteArray& ours, const QByteArray& theirs,
                                    const Labels& labels)
{
    if (ours.contains('\0') || theirs.contains('\0'))
        return {};
    Numbering numbering;
    const Lines oursLines = split(ours, numbering);
    const Lines theirsLines = split(theirs, numbering);
    const std::vector<int> pairs =
        LineDiff::match(oursLines.ids, theirsLines.ids, int(numbering.size()));
    // The base: the lines the two share, each kept by both sides.
    std::vector<int> base;
    std::vector<int> inOurs;
    std::vector<int> inTheirs;
    for (int i = 0; i < oursLines.count(); ++i) {
        if (pairs[i] >= 0) {
            base.push_back(oursLines.ids[i]);
            inOurs.push_back(i);
            inTheirs.push_back(pairs[i]);
        }
    }
    return merged(base, inOurs, inTheirs, oursLines, theirsLines, labels,
                  ours.isEmpty() && theirs.isEmpty());
}
