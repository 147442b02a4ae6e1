#pragma once
// Live sources for the tile tests: the process's source table discovering
// in a private registry folder, and in-process senders that keep sending a
// flat colour while the test renders.
#include "../ndi/NdiTestKit.h"
#include "SceneHarness.h"
#include "sources/SourceManager.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace live {

// One registry folder and one running discovery for the whole test program.
class SourceTableEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_registry = std::make_unique<ndikit::ScopedRegistry>();
        SourceManager::instance()->startDiscover();
    }
    void TearDown() override
    {
        SourceManager::instance()->destroyThread();
        m_registry.reset();
    }

private:
    std::unique_ptr<ndikit::ScopedRegistry> m_registry;
};

// Senders by name, each with the colour it sends on every pump().
class Senders {
public:
    void add(const std::string& name, const QColor& colour, int width = 64, int height = 36)
    {
        Entry& entry = m_entries[name];
        entry.sender = ndikit::makeSender(name.c_str());
        entry.colour = colour;
        entry.width = width;
        entry.height = height;
    }
    void remove(const std::string& name) { m_entries.erase(name); }
    void setColour(const std::string& name, const QColor& colour) { m_entries[name].colour = colour; }
    void pump()
    {
        for (auto& [name, entry] : m_entries) {
            if (entry.sending)
                send(entry);
        }
    }
    void stop(const std::string& name) { m_entries[name].sending = false; }

private:
    struct Entry {
        ndikit::Sender sender;
        QColor colour;
        int width = 64, height = 36;
        bool sending = true;
    };
    static void send(Entry& entry)
    {
        ndikit::Picture picture(entry.width, entry.height);
        scene::fillFlat(picture.bytes, entry.colour);
        auto frame = picture.frame();
        NDIlib_send_send_video_async_v2(entry.sender.get(), &frame);
        NDIlib_send_send_video_async_v2(entry.sender.get(), nullptr);
    }
    std::map<std::string, Entry> m_entries;
};

// The table lists the source (its connection can be had).
inline bool listed(const QString& name, int timeoutMs = 10000)
{
    return testsupport::waitFor([&] { return SourceManager::instance()->getConnection(name) != nullptr; }, timeoutMs);
}

} // namespace live
