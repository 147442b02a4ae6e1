// The save queue: one waiting entry per file, however many changes mark it;
// a mark that comes while its file is being written writes it once more,
// after that write, while other files are written beside it; files go in the
// order they were first marked; drain() and the destructor leave nothing
// unwritten; a written file is in place before the disk is asked to keep it.
#include "base/SaveQueue.h"

#include "TestSupport.h"
#include "base/JsonFile.h"

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

// A writer that can be held inside its write until the test lets it go.
class Gate {
public:
    void hold()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_inside = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        m_inside = false;
    }
    bool waitInside()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_inside; });
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_inside = false;
    bool m_open = false;
};

class Journal {
public:
    void note(const QString& what)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines << what;
    }
    QStringList lines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    QStringList m_lines;
};

TEST(SaveQueue, MarksOfAWaitingFileJoinAndAMarkDuringItsWriteWritesItAgainAfterIt)
{
    Journal journal;
    Gate gate;
    std::atomic<int> state { 0 }; // the "model": the value a write stores
    SaveQueue queue("test saver", 2);

    // One saver is held inside the first write of "a".
    queue.mark("a", [&] {
        journal.note("a=" + QString::number(state));
        gate.hold();
    });
    ASSERT_TRUE(gate.waitInside());

    // Meanwhile many changes of "a": they wait as one entry, which the free
    // saver passes by while "a" is being written, to write "b".
    for (int i = 1; i <= 100; ++i) {
        state = i;
        queue.mark("a", [&] { journal.note("a=" + QString::number(state)); });
    }
    queue.mark("b", [&] { journal.note("b"); });
    ASSERT_TRUE(testsupport::waitFor([&] { return journal.lines().contains("b"); }));
    EXPECT_EQ(journal.lines(), QStringList({ "a=0", "b" }));
    gate.open();
    queue.drain();

    // The held write stored the state before the changes; the one write of
    // "a" after it stores the last.
    EXPECT_EQ(journal.lines(), QStringList({ "a=0", "b", "a=100" }));
}

TEST(SaveQueue, TheDestructorWritesWhatIsStillMarked)
{
    Journal journal;
    Gate gate;
    {
        SaveQueue queue("test saver");
        queue.mark("slow", [&] { gate.hold(); });
        ASSERT_TRUE(gate.waitInside());
        for (const char* file : { "x", "y", "z" })
            queue.mark(file, [&journal, file] { journal.note(file); });
        gate.open();
    }
    EXPECT_EQ(journal.lines(), QStringList({ "x", "y", "z" }));
}

TEST(SaveQueue, AWrittenFileIsInPlaceBeforeItsSyncAndItsNextWriteDoesNotWaitForThatSync)
{
    testsupport::TempHome home;
    const QString path = home.savePath() + "/state.json";
    const auto stored = [&] { return JsonFile::load(path).value("v").toInt(); };
    Gate gate;
    Journal synced;
    SaveQueue queue("test saver", 1, [&](const QString& file) {
        gate.hold();
        synced.note(file);
    });

    queue.mark(path, [&] { JsonFile::save(path, QJsonObject { { "v", 1 } }); });
    ASSERT_TRUE(gate.waitInside());
    // The disk has not been asked yet, but the file holds the new state
    // (a killed process loses nothing), and the next change of it is
    // written while that sync still waits.
    EXPECT_EQ(stored(), 1);
    queue.mark(path, [&] { JsonFile::save(path, QJsonObject { { "v", 2 } }); });
    ASSERT_TRUE(testsupport::waitFor([&] { return stored() == 2; }));
    EXPECT_TRUE(synced.lines().isEmpty());

    // drain() returns once the second write is synced as well.
    gate.open();
    queue.drain();
    EXPECT_EQ(synced.lines(), QStringList({ path, path }));
}

} // namespace
