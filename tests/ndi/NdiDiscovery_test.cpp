// Finding senders: in this process and in another, by group, and losing
// them again when they are destroyed or their process is killed.
#include "NdiTestKit.h"
#include "ndi/StandInFinder.h"
#include "ndi/StandInRegistry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>
#include <unistd.h>

using namespace ndikit;

namespace {

// Sets or clears environment variables for the lifetime of the object.
class ScopedEnv {
public:
    void set(const char* name, const QByteArray& value)
    {
        remember(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second.isNull())
                qunsetenv(it->first.constData());
            else
                qputenv(it->first.constData(), it->second);
        }
    }

private:
    void remember(const char* name)
    {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
    }
    std::vector<std::pair<QByteArray, QByteArray>> m_saved;
};

} // namespace

TEST(NdiDiscovery, SenderInThisProcessIsFoundAndGoesWhenDestroyed)
{
    ScopedRegistry registry;
    Finder finder = makeFinder();
    ASSERT_TRUE(finder);
    EXPECT_FALSE(NDIlib_find_wait_for_sources(finder.get(), 50)) << "nothing to report yet";

    Sender sender = makeSender("Studio Cam");
    ASSERT_TRUE(sender);
    ASSERT_TRUE(testsupport::waitFor([&] { return NDIlib_find_wait_for_sources(finder.get(), 100); }, 2000));
    const Listing found = sources(finder);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].first, "Studio Cam");
    EXPECT_EQ(QString::fromStdString(found[0].second).section(':', 0, 0), "127.0.0.1");
    EXPECT_FALSE(NDIlib_find_wait_for_sources(finder.get(), 50)) << "an unchanged list is no change";

    sender.reset();
    ASSERT_TRUE(testsupport::waitFor([&] { return NDIlib_find_wait_for_sources(finder.get(), 100); }, 2000));
    EXPECT_TRUE(sources(finder).empty());
    EXPECT_TRUE(QDir(registry.path()).isEmpty()) << "a destroyed sender leaves no files behind";
}

TEST(NdiDiscovery, GroupsDecideWhichFinderSeesASender)
{
    struct Case {
        const char* senderGroups;
        const char* finderGroups;
        bool showLocal;
        bool visible;
    };
    const Case cases[] = {
        { nullptr, nullptr, true, true }, // both default to "public"
        { "studio", nullptr, true, false }, // not announced in "public"
        { "studio", "Studio", true, true }, // names compare without case
        { "a, b", "c,b", true, true }, // lists meet in one name, blanks trimmed
        { "", "public,x", true, true }, // empty means "public"
        { nullptr, nullptr, false, false }, // every sender here is local
    };
    ScopedRegistry registry;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.senderGroups ? c.senderGroups : "(null)") << " / "
                                        << (c.finderGroups ? c.finderGroups : "(null)") << " local " << c.showLocal);
        Sender sender = makeSender("Grouped", c.senderGroups);
        ASSERT_TRUE(sender);
        // A default finder proves the sender is announced before judging the other.
        Finder witness = makeFinder("public,a,b,studio");
        ASSERT_TRUE(testsupport::waitFor([&] { return lists(witness, "Grouped"); }, 2000));
        Finder finder = makeFinder(c.finderGroups, c.showLocal);
        EXPECT_EQ(lists(finder, "Grouped"), c.visible);
    }
}

TEST(NdiDiscovery, SourcesOfAnotherProcessAppearAndVanishWhenItIsKilled)
{
    ScopedRegistry registry;
    Finder finder = makeFinder();
    TestSourceProcess source(2, "Remote");
    ASSERT_TRUE(source.waitForLine("ready Remote 2"));
    ASSERT_TRUE(testsupport::waitFor([&] { return lists(finder, "Remote 1") && lists(finder, "Remote 2"); }, 5000));

    // No chance to clean up: the files stay behind and must be seen through.
    source.process().kill();
    ASSERT_TRUE(source.process().waitForFinished(testsupport::budgetMs(5000)));
    ASSERT_TRUE(testsupport::waitFor([&] { return sources(finder).empty(); }, 5000));
    EXPECT_TRUE(QDir(registry.path()).isEmpty()) << "the dead process's announcements are cleared away";
}

TEST(NdiDiscovery, AnIdleFinderSleepsYetSeesSendersComeAndGoAtOnce)
{
    // Waits on another thread, as the discovery thread does, and keeps what
    // it said (false only when its 10 s passed without a change).
    struct Waiter {
        explicit Waiter(const Finder& finder)
            : thread([this, &finder] { changed = NDIlib_find_wait_for_sources(finder.get(), 10000); })
        {
        }
        bool changed = false;
        std::thread thread;
    };

    ScopedRegistry registry;
    TestSourceProcess source(4, "Idle");
    ASSERT_TRUE(source.waitForLine("ready Idle 4"));
    Finder finder = makeFinder();
    ASSERT_TRUE(testsupport::waitFor([&] { return sources(finder).size() == 4; }, 5000));

    // Four senders of another process and nothing changing: a waiting
    // finder sleeps instead of listing the directory every few milliseconds.
    // What the senders' start left pending is looked at first.
    EXPECT_FALSE(NDIlib_find_wait_for_sources(finder.get(), 0));
    const long listedBefore = StandInFinder::listings();
    EXPECT_FALSE(NDIlib_find_wait_for_sources(finder.get(), 1000));
    EXPECT_EQ(StandInFinder::listings() - listedBefore, 0) << "listings in one idle second";

    // A sender that comes wakes the sleeping finder (its wait would last
    // 10 s), which lists the folder for it rather than polling...
    {
        const long listed = StandInFinder::listings();
        Waiter waiter(finder);
        Sender sender = makeSender("Idle 5");
        ASSERT_TRUE(sender);
        waiter.thread.join();
        EXPECT_TRUE(waiter.changed);
        EXPECT_LE(StandInFinder::listings() - listed, 3) << "listings until it saw the new sender";
        EXPECT_TRUE(lists(finder, "Idle 5"));
        EXPECT_FALSE(NDIlib_find_wait_for_sources(finder.get(), 50));
    }
    ASSERT_TRUE(NDIlib_find_wait_for_sources(finder.get(), 2000)) << "and one that goes";
    ASSERT_EQ(sources(finder).size(), 4u);

    // ...and so does a process that dies without withdrawing its senders.
    Waiter waiter(finder);
    source.process().kill();
    ASSERT_TRUE(source.process().waitForFinished(testsupport::budgetMs(5000)));
    waiter.thread.join();
    EXPECT_TRUE(waiter.changed);
    EXPECT_TRUE(sources(finder).empty());
}

TEST(NdiDiscovery, AFinderFollowsARegistryFolderThatWasRemovedAndMadeAgain)
{
    // Its watch ends with the folder; it looks again and again rather than
    // going blind, and watches the folder once it is back.
    ScopedRegistry registry;
    Finder finder = makeFinder();
    EXPECT_FALSE(NDIlib_find_wait_for_sources(finder.get(), 50));
    ASSERT_TRUE(QDir(registry.path()).removeRecursively());
    EXPECT_FALSE(NDIlib_find_wait_for_sources(finder.get(), 50));
    Sender sender = makeSender("Returned"); // makes the folder again
    ASSERT_TRUE(sender);
    EXPECT_TRUE(testsupport::waitFor([&] { return NDIlib_find_wait_for_sources(finder.get(), 100); }, 2000));
    EXPECT_TRUE(lists(finder, "Returned"));
    sender.reset();
    EXPECT_TRUE(testsupport::waitFor([&] { return NDIlib_find_wait_for_sources(finder.get(), 100); }, 2000));
    EXPECT_TRUE(sources(finder).empty());
}

TEST(NdiDiscovery, TestSourceStopsCleanlyOnTerminateAndInterrupt)
{
    for (int signal : { SIGTERM, SIGINT }) {
        SCOPED_TRACE(signal);
        ScopedRegistry registry;
        TestSourceProcess source(1, "Polite");
        ASSERT_TRUE(source.waitForLine("ready Polite 1"));
        ::kill(pid_t(source.process().processId()), signal);
        ASSERT_TRUE(source.process().waitForFinished(testsupport::budgetMs(5000)));
        EXPECT_EQ(source.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(source.process().exitCode(), 0);
        EXPECT_TRUE(source.waitForLine("stopped", 1000));
        EXPECT_TRUE(QDir(registry.path()).isEmpty()) << "it withdrew its announcement";
    }
}

TEST(NdiDiscovery, AnnouncementOfAReusedProcessIdIsStale)
{
    // A file named after this very pid but another start time belongs to an
    // earlier process that had the same pid.
    ScopedRegistry registry;
    const QString stale = registry.path() + QStringLiteral("/%1-1-1.json").arg(::getpid());
    QFile file(stale);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"name":"Ghost","url":"127.0.0.1:1","groups":"public","socket":"x.sock"})");
    file.close();
    Finder finder = makeFinder();
    EXPECT_FALSE(lists(finder, "Ghost"));
    EXPECT_FALSE(QFile::exists(stale));
}

TEST(NdiDiscovery, RegistryDirectoryFollowsTheEnvironment)
{
    QTemporaryDir base;
    const QString runtime = base.path() + "/run";
    QDir().mkpath(runtime);
    const QString explicitDir = base.path() + "/explicit";
    const QString fallback = QStringLiteral("/tmp/panoptra-ndi-%1").arg(::geteuid());
    const bool fallbackExisted = QFileInfo::exists(fallback);
    struct Case {
        QByteArray override, runtime;
        QString expected;
    };
    const Case cases[] = {
        { explicitDir.toLocal8Bit(), runtime.toLocal8Bit(), explicitDir },
        { QByteArray(), runtime.toLocal8Bit(), runtime + "/panoptra-ndi" },
        { QByteArray(), QByteArray(), fallback },
        { QByteArray(), (base.path() + "/missing").toLocal8Bit(), fallback },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        ScopedEnv env;
        env.set("PANOPTRA_NDI_DIR", c.override);
        env.set("XDG_RUNTIME_DIR", c.runtime);
        EXPECT_EQ(StandInRegistry::directory(), c.expected);
        EXPECT_TRUE(QFileInfo(c.expected).isDir());
        EXPECT_EQ(QFile::permissions(c.expected) & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup),
            QFile::Permissions())
            << "private to the user";
    }
    if (!fallbackExisted)
        QDir().rmdir(fallback);
}

TEST(NdiDiscovery, UnusableRegistryDirectoryFailsCleanly)
{
    QTemporaryDir base;
    const QString notADir = base.path() + "/file";
    QFile file(notADir);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ScopedEnv env;
    env.set("PANOPTRA_NDI_DIR", notADir.toLocal8Bit());
    EXPECT_FALSE(NDIlib_initialize());
    EXPECT_EQ(NDIlib_find_create_v3(nullptr, nullptr), nullptr);
    EXPECT_FALSE(makeSender("Nowhere"));
    EXPECT_EQ(NDIlib_recv_create_v4(nullptr, nullptr), nullptr);
}
