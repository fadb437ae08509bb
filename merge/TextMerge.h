#pragma once

#include <QByteArray>

// Merges two versions of a plain-text document line by line, as diff3 does: changes to
// different lines combine; where both sides changed the same or adjacent lines, both are kept
// between marker lines. Lines are compared as bytes, line endings included, and every byte of
// the inputs that reaches the result reaches it unchanged. No text is copied beyond the result.
class TextMerge
{
public:
    // Single-line texts for the marker lines, naming each side.
    struct Labels
    {
        QByteArray ours;
        QByteArray theirs;
    };
    struct Result
    {
        // false (and text empty): an input holds a zero byte, or the merge would be empty
        // while the inputs are not all empty, or larger than 1 GiB.
        bool ok = false;
        QByteArray text;
        int clashes = 0;
    };

    // base: the version both sides started from.
    [[nodiscard]] static Result threeWay(const QByteArray& base, const QByteArray& ours,
                                         const QByteArray& theirs, const Labels& labels);
    // Without a common version the base is the lines both share, so a line one side deleted
    // comes back.
    [[nodiscard]] static Result twoWay(const QByteArray& ours, const QByteArray& theirs,
                                       const Labels& labels);
};
