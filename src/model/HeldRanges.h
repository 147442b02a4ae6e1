#pragma once
// HeldRanges: the numbering ranges that accepted window adds and changes
// hold until their queued operations run, so that no other add or change
// acknowledged meanwhile takes the same numbers. Each window may hold several,
// in the order its operations run; (0, 0) stands for one that uses no numbers.
//
// A plain value: its owner (a program) guards it with its own lock.
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

class HeldRanges {
public:
    // Holds [min, max] for win_id after what it holds already; a change
    // without numbers (numbered false) holds (0, 0), which meets nothing.
    void hold(const QString& win_id, bool numbered, int min, int max);
    // Gives up the oldest range held for win_id, if any.
    void release(const QString& win_id);
    bool holds(const QString& win_id) const;
    // True when [min, max] shares a number with a range held for another window.
    bool meetsOther(const QString& win_id, int min, int max) const;

    // Whether [min, max] shares a number with [otherMin, otherMax], also
    // when one encloses the other; an empty range (min above max) meets nothing.
    static bool meet(int min, int max, int otherMin, int otherMax);

private:
    QHash<QString, QList<QPair<int, int>>> m_ranges;
};
