#include "ServedSources.h"

#include "MediaConnection.h"

#include <mutex>

namespace {

std::mutex lookupMutex;
ServedSources::Lookup& installed()
{
    static ServedSources::Lookup lookup;
    return lookup;
}

} // namespace

void ServedSources::install(Lookup lookup)
{
    std::lock_guard<std::mutex> lock(lookupMutex);
    installed() = std::move(lookup);
}

std::shared_ptr<MediaConnection> ServedSources::connectionOf(const QString& source)
{
    Lookup lookup;
    {
        std::lock_guard<std::mutex> lock(lookupMutex);
        lookup = installed();
    }
    return lookup ? lookup(source) : nullptr;
}
