#include "StandInFinder.h"

#include <chrono>
#include <thread>

namespace {
// How often a waiting finder looks at the directory again.
constexpr auto kPollStep = std::chrono::milliseconds(20);
} // namespace

StandInFinder::StandInFinder(QString dir, const QString& groups, bool showLocal)
    : m_registry(std::move(dir))
    , m_groups(StandInRegistry::normaliseGroups(groups))
    , m_showLocal(showLocal)
{
}

StandInFinder::Listing StandInFinder::list()
{
    Listing out;
    // Every sender the stand-in can reach runs on this machine.
    if (!m_showLocal)
        return out;
    for (const auto& entry : m_registry.scan()) {
        if (StandInRegistry::groupsMeet(m_groups, entry.groups.split(',')))
            out.emplace_back(entry.name.toStdString(), entry.url.toStdString());
    }
    return out;
}

bool StandInFinder::waitForSources(uint32_t timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Listing now = list();
        if (now != m_reported) {
            m_reported = std::move(now);
            return true;
        }
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kPollStep));
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
