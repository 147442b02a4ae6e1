#pragma once
// A stand-in finder: lists the senders of the registry whose groups meet its
// own. Created and used by one caller thread (the discovery thread of the
// application); the caller owns it through its handle. It lists the
// directory again only when its watch says the directory may have changed,
// and otherwise sleeps through the caller's timeout.
#include "NdiWrapper.h"
#include "StandInDirWatch.h"
#include "StandInRegistry.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

class StandInFinder {
public:
    StandInFinder(const QString& dir, const QString& groups, bool showLocal);

    bool waitForSources(uint32_t timeoutMs);
    const NDIlib_source_t* currentSources(uint32_t* count);
    // How often the finders of this process have listed the directory.
    static long listings() { return s_listings; }

private:
    using Listing = std::vector<std::pair<std::string, std::string>>; // name, URL
    Listing list();

    StandInRegistry m_registry;
    StandInDirWatch m_watch;
    const QStringList m_groups;
    const bool m_showLocal;
    Listing m_reported;
    // Storage of the array handed out by currentSources.
    Listing m_held;
    std::vector<NDIlib_source_t> m_array;
    static inline std::atomic<long> s_listings { 0 };
};
