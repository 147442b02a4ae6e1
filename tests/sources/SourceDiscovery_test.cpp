// Discovery as the application runs it: the source manager's thread finds
// the sources of each group (the test-source program's or in-process
// senders), hands out one connection per source, remakes finders only when
// a group's search changed, ages out sources after a refresh, and lets go of
// its connections without holding up their threads.
#include "../ndi/NdiTestKit.h"

#include "sources/NDIConnection.h"
#include "sources/SourceManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>

#include <atomic>
#include <csignal>
#include <future>
#include <mutex>
#include <thread>

using namespace ndikit;

namespace {

QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

// The source names each group lists, by disc_id.
QMap<QString, QStringList> listing(SourceManager& manager)
{
    QMap<QString, QStringList> out;
    for (const QJsonValue& group : manager.sourcesToJson().value("data").toArray()) {
        QStringList names;
        for (const QJsonValue& source : group.toObject().value("sources").toArray())
            names << source.toObject().value("name").toString();
        out.insert(group.toObject().value("disc_id").toString(), names);
    }
    return out;
}

// sourceUpdated as the window scenes get it: queued to this thread.
class UpdateLog : public QObject {
public:
    explicit UpdateLog(SourceManager& manager)
    {
        connect(&manager, &SourceManager::sourceUpdated, this,
            [this](const QString& type, const QString& name, const QString& address, const QString& web,
                const QString& talk, bool ptz, bool kvm, bool pvw, bool pgm) {
                const bool anyFlag = ptz || kvm || pvw || pgm;
                updates << QStringList { type, name, address + web + talk, anyFlag ? "flags" : "" };
            });
    }
    QStringList namesOfType(const QString& type) const
    {
        QStringList names;
        for (const QStringList& update : updates) {
            if (update[0] == type)
                names << update[1];
        }
        names.sort();
        return names;
    }
    QList<QStringList> updates;
};

class Discovery : public ::testing::Test {
protected:
    testsupport::TempHome home;
    ScopedRegistry registry;
};

} // namespace

TEST_F(Discovery, FindsTheTestSourcesAtOnceAndAgesThemOutAfterARefresh)
{
    SourceManager manager;
    manager.load();
    UpdateLog log(manager);
    manager.startDiscover();

    TestSourceProcess program(4, "Live");
    for (int i = 1; i <= 4; ++i)
        ASSERT_TRUE(program.waitForLine(QStringLiteral("ready Live %1").arg(i)));
    const QStringList all { "Live 1", "Live 2", "Live 3", "Live 4" };
    QElapsedTimer sinceReady;
    sinceReady.start();
    ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("1") == all; }, 1000))
        << "after " << sinceReady.elapsed() << " ms";
    for (const QJsonValue& source :
        manager.sourcesToJson().value("data").toArray().first().toObject().value("sources").toArray()) {
        const QJsonObject s = source.toObject();
        EXPECT_EQ(s.value("id"), s.value("name"));
        EXPECT_TRUE(s.value("ip").toString().startsWith("127.0.0.1:")) << s.value("ip").toString().toStdString();
        EXPECT_EQ(s.value("url"), QJsonValue(""));
    }
    std::shared_ptr<MediaConnection> held = manager.getConnection("Live 1");
    ASSERT_TRUE(held);
    EXPECT_EQ(held, manager.getConnection("Live 1"));
    EXPECT_FALSE(manager.getConnection("Live 9"));
    EXPECT_TRUE(log.updates.isEmpty()); // being found is no capability change

    program.process().terminate();
    ASSERT_TRUE(program.process().waitForFinished(testsupport::budgetMs(10000)));
    // The group no longer lists them, but they keep their connections until
    // a finder is made again.
    ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("1").isEmpty(); }, 5000));
    EXPECT_TRUE(manager.getConnection("Live 2"));

    manager.forceRefresh();
    ASSERT_TRUE(testsupport::waitFor([&] { return log.namesOfType("none") == all; }, 15000));
    for (const QStringList& update : log.updates)
        EXPECT_EQ(update, (QStringList { "none", update[1], "", "" }));
    EXPECT_FALSE(manager.getConnection("Live 2"));
    // A consumer's share outlives the table's.
    EXPECT_EQ(held.use_count(), 1);
    manager.stopDiscover();
}

TEST_F(Discovery, EachGroupListsWhatItsSearchFindsAndAccepts)
{
    Sender cam = makeSender("Cam");
    Sender studioCam = makeSender("Studio Cam", "studio");
    SourceManager manager;
    QString error;
    // "127.0.0.12" mentions the senders' address 127.0.0.1 as text.
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"near","disc_type":"Manual","group":[],
        "ip":["127.0.0.12"]})"),
        error));
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"far","disc_type":"Manual","group":[],
        "ip":["10.0.0.2"]})"),
        error));
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"studio","disc_type":"Auto","group":["studio"],
        "discovery_enable":true,"discovery_ip":""})"),
        error));
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"last","disc_type":"Auto","group":[],
        "discovery_enable":false,"discovery_ip":""})"),
        error));
    manager.startDiscover();

    // Groups are served in order within a pass: once the last one lists its
    // source, every other group has been polled.
    ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("5") == QStringList { "Cam" }; }, 5000));
    ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("4") == QStringList { "Studio Cam" }; }));
    const QMap<QString, QStringList> expected {
        { "1", { "Cam" } },
        { "2", { "Cam" } },
        { "3", {} },
        { "4", { "Studio Cam" } },
        { "5", { "Cam" } },
    };
    EXPECT_EQ(listing(manager), expected);
    manager.stopDiscover();
}

namespace {

// Lines announcing a new finder, collected from every thread.
std::mutex g_finderLinesMutex;
QStringList g_finderLines;

void collectFinderLines(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.contains("create new find instance")) {
        std::lock_guard<std::mutex> lock(g_finderLinesMutex);
        g_finderLines << message;
    }
}

int findersMadeFor(const QString& group)
{
    std::lock_guard<std::mutex> lock(g_finderLinesMutex);
    return int(std::count_if(g_finderLines.cbegin(), g_finderLines.cend(),
        [&](const QString& line) { return line.endsWith('"' + group + '"'); }));
}

} // namespace

TEST_F(Discovery, FinderIsRemadeOnlyWhenTheGroupsSearchChanged)
{
    g_finderLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectFinderLines);
    SourceManager manager;
    manager.startDiscover();
    ASSERT_TRUE(testsupport::waitFor([&] { return findersMadeFor("auto-discovery") == 1; }));

    int markers = 0;
    QString error;
    // Two marker groups made one after the other: the second one's finder
    // comes a whole pass after the change, past group "1".
    const auto passGoesBy = [&] {
        for (int i = 0; i < 2; ++i) {
            const QString name = QStringLiteral("marker %1").arg(++markers);
            if (!manager.addSourceList(QJsonObject { { "disc_name", name }, { "disc_type", "Custom" } }, error)
                || !testsupport::waitFor([&] { return findersMadeFor(name) == 1; }))
                return false;
        }
        return true;
    };

    ASSERT_TRUE(manager.modifySourceList(parse(R"({"disc_id":"1","disc_name":"auto-discovery","disc_type":"Auto",
        "group":["public"],"discovery_enable":false,"discovery_ip":""})"),
        error));
    ASSERT_TRUE(passGoesBy());
    EXPECT_EQ(findersMadeFor("auto-discovery"), 1); // the same values again

    ASSERT_TRUE(manager.modifySourceList(parse(R"({"disc_id":"1","disc_name":"renamed","disc_type":"Auto",
        "group":["public"],"discovery_enable":false,"discovery_ip":""})"),
        error));
    ASSERT_TRUE(passGoesBy());
    EXPECT_EQ(findersMadeFor("renamed"), 0); // a new name alone

    ASSERT_TRUE(manager.modifySourceList(parse(R"({"disc_id":"1","disc_name":"renamed","disc_type":"Auto",
        "group":["public"],"discovery_enable":true,"discovery_ip":"127.0.0.1"})"),
        error));
    EXPECT_TRUE(testsupport::waitFor([&] { return findersMadeFor("renamed") == 1; }));

    manager.stopDiscover();
    qInstallMessageHandler(previous);
}

namespace {

// What a connection's period thread does every 15 s, asked for while the
// connection is being stopped: report capabilities, which takes the table
// lock. Whoever stops the connection must not hold that lock, or the report
// (and the thread making it) waits for ever.
struct StopProbe {
    std::mutex mutex;
    std::vector<bool> reportsDone;
    std::vector<std::future<void>> reports;

    void waitAll()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& report : reports)
            report.wait();
    }
};

class ProbeConnection : public NDIConnection {
public:
    ProbeConnection(SourceManager& manager, StopProbe& probe)
        : m_manager(manager)
        , m_probe(probe)
    {
    }
    ~ProbeConnection() override { destroy(); }

    bool stopPlay() override
    {
        SourceManager* manager = &m_manager;
        const QString name = getSourceName();
        auto report = std::async(std::launch::async, [manager, name] { manager->updateCapabilities(name, 1); });
        const bool done
            = report.wait_for(std::chrono::milliseconds(testsupport::budgetMs(2000))) == std::future_status::ready;
        {
            std::lock_guard<std::mutex> lock(m_probe.mutex);
            m_probe.reportsDone.push_back(done);
            m_probe.reports.push_back(std::move(report));
        }
        return NDIConnection::stopPlay();
    }

private:
    SourceManager& m_manager;
    StopProbe& m_probe;
};

class ProbingManager : public SourceManager {
public:
    explicit ProbingManager(StopProbe& probe)
        : m_probe(probe)
    {
    }
    ~ProbingManager() override { destroyThread(); }

protected:
    std::shared_ptr<MediaConnection> makeConnection() override
    {
        return std::make_shared<ProbeConnection>(*this, m_probe);
    }

private:
    StopProbe& m_probe;
};

} // namespace

TEST_F(Discovery, AgedSourcesAreLetGoWithoutHoldingTheTable)
{
    StopProbe probe;
    {
        ProbingManager manager(probe);
        UpdateLog log(manager);
        Sender cam = makeSender("Cam");
        manager.startDiscover();
        ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("1") == QStringList { "Cam" }; }));
        cam.reset();
        ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("1").isEmpty(); }));
        manager.forceRefresh();
        ASSERT_TRUE(testsupport::waitFor([&] { return log.namesOfType("none") == QStringList { "Cam" }; }, 15000));
        probe.waitAll();
        manager.stopDiscover();
    }
    ASSERT_FALSE(probe.reportsDone.empty());
    for (bool done : probe.reportsDone)
        EXPECT_TRUE(done);
}

TEST_F(Discovery, ShutdownLetsGoOfConnectionsWithoutHoldingTheTable)
{
    StopProbe probe;
    {
        ProbingManager manager(probe);
        Sender cam = makeSender("Cam");
        manager.startDiscover();
        ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("1") == QStringList { "Cam" }; }));
        manager.stopDiscover();
        EXPECT_FALSE(manager.getConnection("Cam"));
        probe.waitAll();
        // Stopping again finds nothing left to do.
        manager.stopDiscover();
    }
    ASSERT_FALSE(probe.reportsDone.empty());
    for (bool done : probe.reportsDone)
        EXPECT_TRUE(done);
}

TEST_F(Discovery, AStoppedSendersSourcesLeaveTheListEveryTime)
{
    SourceManager manager;
    manager.load();
    UpdateLog log(manager);
    manager.startDiscover();
    // An operator asking for refreshes while senders stop: finders are made
    // again and again, also after a sender's last announcement has gone.
    std::atomic<bool> refreshing { true };
    std::thread refresher([&] {
        while (refreshing) {
            manager.forceRefresh();
            // Paces the requests; what the test waits for are conditions.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    QStringList stopped;
    for (int round = 1; round <= 20; ++round) {
        const bool kill = round % 2 == 0;
        SCOPED_TRACE(QStringLiteral("round %1, %2").arg(round).arg(kill ? "SIGKILL" : "SIGTERM").toStdString());
        const QString prefix = QStringLiteral("Round %1").arg(round);
        TestSourceProcess program(4, prefix);
        QStringList names;
        for (int i = 1; i <= 4; ++i)
            names << QStringLiteral("%1 %2").arg(prefix).arg(i);
        ASSERT_TRUE(program.waitForLine("ready " + names.last()));
        ASSERT_TRUE(testsupport::waitFor([&] { return listing(manager).value("1") == names; }));

        ::kill(pid_t(program.process().processId()), kill ? SIGKILL : SIGTERM);
        ASSERT_TRUE(program.process().waitForFinished(10000));
        EXPECT_TRUE(testsupport::waitFor([&] { return listing(manager).value("1").isEmpty(); }))
            << listing(manager).value("1").join(", ").toStdString();
        // Whether it withdrew them or was killed, none of its announcements stay.
        EXPECT_TRUE(testsupport::waitFor([&] { return QDir(registry.path()).isEmpty(); }))
            << QDir(registry.path()).entryList(QDir::Files).join(", ").toStdString();
        stopped << names;
    }
    refreshing = false;
    refresher.join();
    manager.forceRefresh();
    // And they leave the table too, with their connections.
    stopped.sort();
    EXPECT_TRUE(testsupport::waitFor([&] { return log.namesOfType("none") == stopped; }, 15000));
    manager.stopDiscover();
}
