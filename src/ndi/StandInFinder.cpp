#include "StandInFinder.h"

#include <algorithm>
#include <chrono>

StandInFinder::StandInFinder(const QString& dir, const QString& groups, bool showLocal)
    : m_registry(dir)
    , m_watch(dir)
    , m_groups(StandInRegistry::normaliseGroups(groups))
    , m_showLocal(showLocal)
{
}

StandInFinder::Listing StandInFinder::list()
{
    Listing out;
    ++s_listings;
    // Every sender the stand-in can reach runs on this machine.
    if (!m_showLocal)
        return out;
    const std::vector<StandInRegistry::Entry> entries = m_registry.scan();
    QStringList files;
    for (const auto& entry : entries)
        files << entry.file.section('/', -1);
    m_watch.followOwners(files);
    for (const auto& entry : entries) {
        if (StandInRegistry::groupsMeet(m_groups, entry.groups.split(',')))
            out.emplace_back(entry.name.toStdString(), entry.url.toStdString());
    }
    return out;
}

bool StandInFinder::waitForSources(uint32_t timeoutMs)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        const milliseconds left = ceil<milliseconds>(deadline - steady_clock::now());
        if (m_watch.wait(std::max(left, milliseconds(0)))) {
            Listing now = list();
            if (now != m_reported) {
                m_reported = std::move(now);
                return true;
            }
        }
        if (steady_clock::now() >= deadline)
            return false;
    }
}

const NDIlib_source_t* StandInFinder::currentSources(uint32_t* count)
{
    m_held = list();
    m_reported = m_held;
    m_array.clear();
    for (const auto& [name, url] : m_held)
        m_array.push_back({ name.c_str(), url.c_str() });
    if (count)
        *count = uint32_t(m_array.size());
    return m_array.empty() ? nullptr : m_array.data();
}
