#pragma once
// The ids of a program's two bus windows, preview and program: window ids,
// position types, mixer names and tally keys all use them.
#include <QString>

namespace BusId {

inline QString pvw()
{
    return QStringLiteral("pvw");
}

inline QString pgm()
{
    return QStringLiteral("pgm");
}

inline bool isBus(const QString& id)
{
    return id == pvw() || id == pgm();
}

// The name a bus shows on screen ("PVW", "PGM"); empty for any other id.
inline QString label(const QString& id)
{
    return isBus(id) ? id.toUpper() : QString();
}

} // namespace BusId
