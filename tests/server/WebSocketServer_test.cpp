// The secure WebSocket channel as browsers use it: the server lives on a
// worker thread of its own, as it does on the controller's worker in the
// application, and clients on the test's thread talk TLS to it.
#include "AppProcess.h"
#include "RawTlsClient.h"
#include "ServerTestKit.h"

#include "LogCapture.h"
#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "base/ZTLogger.h"
#include "server/WebSocketServer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QWebSocket>

#include <memory>
#include <vector>

#include <csignal>

namespace {

using Client = servertest::WssClient;

// Connects and disconnects count times in all, a few sockets at a time:
// every socket closes as soon as its handshake is done, and a new one takes
// its place once it is closed. Destroyed early (a wait that ran out), it
// aborts the sockets still in flight, which then call nothing back.
class Cycles {
public:
    Cycles(quint16 port, int count)
        : m_url(QStringLiteral("wss://127.0.0.1:%1").arg(port))
        , m_left(count)
    {
        for (int i = 0; i < kInFlight; ++i)
            startOne();
    }
    ~Cycles()
    {
        for (QWebSocket* socket : std::as_const(m_sockets)) {
            QObject::disconnect(socket, nullptr, nullptr, nullptr);
            socket->abort();
            delete socket;
        }
    }
    Cycles(const Cycles&) = delete;
    Cycles& operator=(const Cycles&) = delete;

    bool finished() const { return m_left == 0 && m_open == 0; }
    int inFlight() const { return m_open; }

    int done = 0;
    int failed = 0;

private:
    static constexpr int kInFlight = 16;

    void startOne()
    {
        if (m_left == 0)
            return;
        --m_left;
        ++m_open;
        auto* socket = new QWebSocket;
        m_sockets.insert(socket);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->setSslConfiguration(tls);
        const auto end = [this, socket](bool ok) {
            if (socket->property("ended").toBool())
                return; // an error is followed by the disconnection
            socket->setProperty("ended", true);
            ok ? ++done : ++failed;
            --m_open;
            m_sockets.remove(socket);
            socket->deleteLater();
            startOne();
        };
        QObject::connect(socket, &QWebSocket::connected, socket, [socket] { socket->close(); });
        QObject::connect(socket, &QWebSocket::disconnected, socket, [end] { end(true); });
        QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), socket,
            [end, socket](QAbstractSocket::SocketError) {
                if (socket->state() != QAbstractSocket::ConnectedState)
                    end(false);
            });
        socket->open(m_url);
    }

    QUrl m_url;
    int m_left;
    int m_open = 0;
    QSet<QWebSocket*> m_sockets; // in flight
};

// A client that completes the TLS and WebSocket handshakes and then only
// sends: it never reads, and its small receive buffer keeps the kernel from
// taking much of what the server sends it.
class SilentClient {
public:
    bool open(quint16 port)
    {
        const QByteArray upgrade = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                   "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                   "Sec-WebSocket-Version: 13\r\n\r\n";
        QByteArray head;
        return m_tls.connect(port) && m_tls.write(upgrade) && m_tls.readUntil("\r\n\r\n", &head)
            && head.startsWith("HTTP/1.1 101");
    }
    // Sends count masked text frames; false once the server has closed.
    bool send(const QByteArray& text, int count)
    {
        Q_ASSERT(text.size() < 126);
        return m_tls.write(frameHead(text.size()).append(masked(text)).repeated(count));
    }
    // The head of a masked text frame declaring length payload bytes.
    static QByteArray frameHead(quint64 length)
    {
        QByteArray head(1, char(0x81));
        if (length < 126) {
            head.append(char(0x80 | length));
        } else if (length <= 0xffff) {
            head.append(char(0x80 | 126));
            for (int shift = 8; shift >= 0; shift -= 8)
                head.append(char((length >> shift) & 0xff));
        } else {
            head.append(char(0x80 | 127));
            for (int shift = 56; shift >= 0; shift -= 8)
                head.append(char((length >> shift) & 0xff));
        }
        return head.append(reinterpret_cast<const char*>(kKey), 4);
    }
    static QByteArray masked(const QByteArray& text)
    {
        QByteArray out = text;
        for (int i = 0; i < out.size(); ++i)
            out[i] = char(out[i] ^ kKey[i % 4]);
        return out;
    }

protected:
    static constexpr unsigned char kKey[4] = { 1, 2, 3, 4 };
    testsupport::RawTlsClient m_tls { TLS1_3_VERSION, 4096 };
};

// A client that sends one frame whose head declares more than the server
// takes, followed by some of its payload, and reads what comes back.
class OversizedFrameClient : public SilentClient {
public:
    bool sendOversized(quint64 declared, int payloadBytes)
    {
        // The payload goes out in slices, as a client streaming it would;
        // the server may stop taking it at any point.
        if (!m_tls.write(frameHead(declared)))
            return false;
        const QByteArray slice(64 * 1024, 'x');
        for (int sent = 0; sent < payloadBytes; sent += slice.size()) {
            if (!m_tls.write(slice.left(payloadBytes - sent)))
                return false;
        }
        return true;
    }
    bool sendRaw(const QByteArray& bytes) { return m_tls.write(bytes); }
    // What the server sent before it ended the stream.
    QByteArray readToEnd()
    {
        QByteArray got;
        m_tls.readUntil("\xff never comes", &got);
        return got;
    }
};

class WebSocketChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        BaseConfig::getInstance(); // made here, on the GUI thread, as in the application
        g_websocketPort = testsupport::freePort();
        m_server = std::make_unique<WebSocketServer>(QHostAddress::LocalHost, m_limits);
        ASSERT_TRUE(m_server->isListening());
        m_port = m_server->serverPort();
        m_server->moveToThread(&m_worker);
        m_worker.start();
    }
    void TearDown() override
    {
        // Waited for: quit() ends the loop without running what is still queued.
        QMetaObject::invokeMethod(m_server.get(), "onDestroyAll", Qt::BlockingQueuedConnection);
        m_worker.quit();
        m_worker.wait();
        m_server.reset();
        // The client sockets this thread scheduled for deletion after its
        // last wait: no event loop of this thread runs them later.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    int clientCount()
    {
        int count = -1;
        QMetaObject::invokeMethod(
            m_server.get(), [&] { count = m_server->clientCount(); }, Qt::BlockingQueuedConnection);
        return count;
    }

    WebSocketServer::Limits m_limits;
    testsupport::TempHome m_home;
    QThread m_worker;
    std::unique_ptr<WebSocketServer> m_server;
    quint16 m_port = 0;
};

TEST_F(WebSocketChannel, EachRequestGetsOneReplyAndTheSocketStaysOpen)
{
    Client client;
    ASSERT_TRUE(client.open(m_port));
    struct Case {
        const char* name;
        QString request; // sent as it is
        QJsonObject reply;
    };
    const std::vector<Case> cases {
        { "program", R"({"socket_type":"program"})",
            { { "result", "ok" }, { "data", QJsonArray() }, { "socket_type", "program" } } },
        { "window", R"({"socket_type":"window","data":{"pro_id":"9"}})",
            { { "result", "error" }, { "socket_type", "window" }, { "pro_id", "9" } } },
        { "live", R"({"socket_type":"live","data":{"pro_id":"9","win_id":"1"}})",
            { { "result", "error" }, { "socket_type", "live" } } },
        { "grid", R"({"socket_type":"grid","data":{"pro_id":"9","win_id":"1"}})",
            { { "result", "error" }, { "socket_type", "grid" } } },
        { "preset", R"({"socket_type":"preset","data":{"pro_id":"9"}})",
            { { "result", "error" }, { "socket_type", "preset" } } },
        { "tool_control", R"({"socket_type":"tool_control","data":{"pro_id":"9","win_id":"1"}})",
            { { "result", "error" }, { "socket_type", "tool_control" } } },
        { "source", R"({"socket_type":"source"})",
            { { "result", "ok" }, { "data", QJsonArray() }, { "socket_type", "source" } } },
        { "tally", R"({"socket_type":"tally","pro_id":"9"})", { { "result", "error" }, { "socket_type", "tally" } } },
        { "ptz_set", R"({"socket_type":"ptz_set","pro_id":"9"})", { { "result", "error" } } },
        { "take_set", R"({"socket_type":"take_set","pro_id":"9"})", { { "result", "error" } } },
        { "window_set_source", R"({"socket_type":"window_set_source"})", { { "result", "error" } } },
        // Requests that cannot be answered get the error reply with their type.
        { "not JSON", "hello", { { "result", "error" }, { "socket_type", "" } } },
        { "empty", "", { { "result", "error" }, { "socket_type", "" } } },
        { "an array", R"([{"socket_type":"program"}])", { { "result", "error" }, { "socket_type", "" } } },
        { "no type", R"({"data":{}})", { { "result", "error" }, { "socket_type", "" } } },
        { "unknown type", R"({"socket_type":"Program"})", { { "result", "error" }, { "socket_type", "Program" } } },
        { "grid without win_id", R"({"socket_type":"grid","data":{"pro_id":"9"}})",
            { { "result", "error" }, { "socket_type", "grid" } } },
        { "window without data", R"({"socket_type":"window","pro_id":"9"})",
            { { "result", "error" }, { "socket_type", "window" } } },
        { "tally with its id under data", R"({"socket_type":"tally","data":{"pro_id":"9"}})",
            { { "result", "error" }, { "socket_type", "tally" } } },
        { "take_set without pro_id", R"({"socket_type":"take_set"})",
            { { "result", "error" }, { "socket_type", "take_set" } } },
    };
    for (const Case& c : cases) {
        client.send(c.request);
        EXPECT_EQ(client.next(), c.reply) << c.name;
        EXPECT_TRUE(client.isOpen()) << c.name;
    }
    // Exactly one reply each.
    EXPECT_FALSE(testsupport::waitFor([&] { return client.messages.size() > int(cases.size()); }, 200));
}

TEST_F(WebSocketChannel, LoggedRequestsAreCutAtFourKibibytes)
{
    // No login is needed to send these; whole, large ones could push the
    // kept log history out of the rotation.
    Client client;
    ASSERT_TRUE(client.open(m_port));
    const QString pad(64 * 1024, 'a');
    for (const char* type : { "ptz_set", "take_set", "window_set_source" }) {
        SCOPED_TRACE(type);
        testsupport::LogCapture log;
        const QJsonObject request { { "socket_type", type }, { "pro_id", "9" }, { "pad", pad } };
        client.send(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
        EXPECT_EQ(client.next().value("result"), "error");
        const QStringList lines = log.lines().filter(QStringLiteral("websocket %1 ").arg(type));
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].contains(" bytes not logged)")) << lines[0].left(200).toStdString();
        EXPECT_LT(lines[0].size(), ZTLogger::kLoggedTextBytes + 300);
    }
    // Messages up to the 1 MiB cap are read whole and answered.
    const QJsonObject big { { "socket_type", "ptz_set" }, { "pro_id", "9" }, { "pad", QString(900 * 1024, 'b') } };
    client.send(QString::fromUtf8(QJsonDocument(big).toJson(QJsonDocument::Compact)));
    EXPECT_EQ(client.next().value("result"), "error");

    // A small request is logged whole.
    testsupport::LogCapture log;
    client.send(R"({"socket_type":"ptz_set","pro_id":"9"})");
    EXPECT_EQ(client.next().value("result"), "error");
    EXPECT_TRUE(log.contains(R"(websocket ptz_set {"pro_id":"9","socket_type":"ptz_set"})"))
        << log.lines().join('\n').toStdString();
}

TEST_F(WebSocketChannel, APushReachesEveryConnectedClientExactlyOnce)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<Client>());
        ASSERT_TRUE(clients.back()->open(m_port));
    }
    Client gone;
    ASSERT_TRUE(gone.open(m_port));
    ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 4; }));
    gone.close();
    ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 3; }));

    QMetaObject::invokeMethod(m_server.get(), "sendProgramRequest", Qt::QueuedConnection);
    QMetaObject::invokeMethod(m_server.get(), "sendTallyRequest", Qt::QueuedConnection, Q_ARG(QString, "7"));
    for (const auto& client : clients) {
        EXPECT_EQ(client->next().value("socket_type").toString(), "program");
        EXPECT_EQ(client->next().value("socket_type").toString(), "tally");
    }
    EXPECT_FALSE(testsupport::waitFor(
        [&] {
            return std::any_of(clients.begin(), clients.end(), [](const auto& c) { return c->messages.size() > 2; });
        },
        200));
    EXPECT_EQ(clients[0]->messages, clients[1]->messages); // one text for everybody
    EXPECT_TRUE(gone.messages.isEmpty());
}

TEST_F(WebSocketChannel, HandshakesFromAnotherSiteAreRefused)
{
    struct Case {
        QString origin;
        bool served;
    };
    const std::vector<Case> cases {
        { "", true }, // panels and scripts send none
        { QStringLiteral("https://127.0.0.1:%1").arg(g_httpPort), true },
        { "https://localhost", true },
        { "https://evil.example", false },
        { "https://127.0.0.1.evil.example", false },
        { "null", false },
    };
    for (const Case& c : cases) {
        Client client(c.origin);
        EXPECT_EQ(client.open(m_port), c.served) << c.origin.toStdString();
        if (c.served) {
            EXPECT_EQ(client.ask({ { "socket_type", "source" } }).value("result").toString(), "ok");
        }
    }
    for (const char* origin : { "https://LOCALHOST:81", "http://[::1]:81" })
        EXPECT_TRUE(WebSocketServer::isOriginAllowed(origin)) << origin;
    for (const char* origin : { "file:///index.html", "https://10.255.255.1", "https://" })
        EXPECT_FALSE(WebSocketServer::isOriginAllowed(origin)) << origin;
}

TEST_F(WebSocketChannel, ALaterConnectionResumesTheTlsSessionOfAnEarlierOne)
{
    const QByteArray upgrade = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    for (const int version : { TLS1_2_VERSION, TLS1_3_VERSION }) {
        testsupport::RawTlsClient client(version);
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(client.connect(m_port));
            EXPECT_EQ(client.resumed(), i == 1) << std::hex << version;
            ASSERT_TRUE(client.write(upgrade));
            ASSERT_TRUE(client.readUntil("\r\n\r\n"));
            client.close();
        }
    }
}

TEST_F(WebSocketChannel, ManyShortConnectionsLeaveNothingBehind)
{
    // Each cycle is a whole TLS and WebSocket handshake on both sides, which
    // the sanitizer build makes several times slower; its count keeps the
    // test well under a minute there, also on a busy machine.
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kCycles = 3000;
#else
    constexpr int kCycles = 10000;
#endif
    Client steady;
    ASSERT_TRUE(steady.open(m_port));
    const auto cycle = [this](int count) {
        Cycles cycles(m_port, count);
        return testsupport::waitFor([&] { return cycles.finished(); }, 120000) && cycles.failed == 0
            && cycles.done == count;
    };
    ASSERT_TRUE(cycle(100)); // warms up the allocator and the TLS caches
    ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 1; }));
    const size_t heapBefore = testsupport::liveHeapBytes();

    EXPECT_TRUE(cycle(kCycles));
    EXPECT_TRUE(testsupport::waitFor([&] { return clientCount() == 1; })) << clientCount();
    EXPECT_EQ(steady.ask({ { "socket_type", "program" } }).value("socket_type").toString(), "program");
    const size_t bound = heapBefore + 4 * 1024 * 1024;
    EXPECT_TRUE(testsupport::waitFor([&] { return testsupport::liveHeapBytes() < bound; }))
        << heapBefore << " -> " << testsupport::liveHeapBytes();
}

TEST_F(WebSocketChannel, ACycleDriverGoneMidwayLeavesNoSocketBehind)
{
    {
        Cycles cycles(m_port, 1000);
        ASSERT_TRUE(testsupport::waitFor([&] { return cycles.done >= 20; }));
        EXPECT_GT(cycles.inFlight(), 0);
    } // as when a wait runs out: sockets in mid-handshake are cut off
    // The server sees them go, and a whole new connection is served; the
    // events of the cut-off sockets, handled meanwhile, reach nothing gone.
    EXPECT_TRUE(testsupport::waitFor([&] { return clientCount() == 0; })) << clientCount();
    Client later;
    ASSERT_TRUE(later.open(m_port));
    EXPECT_EQ(later.ask({ { "socket_type", "program" } }).value("socket_type").toString(), "program");
}

} // namespace

namespace {

class WebSocketLimits : public WebSocketChannel {
protected:
    WebSocketLimits()
    {
        m_limits.maxClients = 3;
        m_limits.maxUnsentBytes = 256 * 1024;
        std::signal(SIGPIPE, SIG_IGN); // the silent client writes on after it was dropped
    }
};

TEST_F(WebSocketLimits, AClientThatDoesNotReadIsDroppedOnceItsBacklogPassesTheLimit)
{
    Client reader;
    ASSERT_TRUE(reader.open(m_port));
    const QByteArray request = R"({"socket_type":"program"})";

    // Requests whose replies are never read: well past the limit in all, a
    // batch at a time, until the server lets the client go.
    SilentClient asker;
    ASSERT_TRUE(asker.open(m_port));
    ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 2; }));
    const size_t heapBefore = testsupport::liveHeapBytes();
    bool dropped = false;
    for (int batch = 0; batch < 400 && !dropped; ++batch)
        dropped = !asker.send(request, 100) || clientCount() == 1;
    EXPECT_TRUE(testsupport::waitFor([&] { return clientCount() == 1; })) << "the silent client stayed";
    EXPECT_LT(testsupport::liveHeapBytes(), heapBefore + 4 * 1024 * 1024);

    // Pushes to a client that does not read: the same. Big ones, so that a
    // few go past what the kernel buffers; the reader takes each in turn.
    SilentClient listener;
    ASSERT_TRUE(listener.open(m_port));
    ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 2; }));
    const QJsonObject big { { "text", QString(64 * 1024, QLatin1Char('x')) } };
    const int readBefore = reader.messages.size();
    int pushes = 0;
    while (pushes < 400 && clientCount() == 2) {
        QMetaObject::invokeMethod(
            m_server.get(), "sendMessages", Qt::QueuedConnection, Q_ARG(QString, "test"), Q_ARG(QJsonObject, big));
        ++pushes;
        ASSERT_TRUE(testsupport::waitFor([&] { return reader.messages.size() == readBefore + pushes; }));
    }
    EXPECT_EQ(clientCount(), 1) << "the silent listener stayed after " << pushes << " pushes";

    // The client that reads was served all along and still is.
    EXPECT_TRUE(reader.isOpen());
    reader.send(R"({"socket_type":"source"})");
    EXPECT_TRUE(testsupport::waitFor([&] { return reader.messages.last().contains(R"("socket_type": "source")"); }));
}

TEST_F(WebSocketLimits, AtTheClientCapTheClientSilentLongestMakesRoom)
{
    const QJsonObject request { { "socket_type", "program" } };
    std::vector<std::unique_ptr<Client>> clients;
    const auto connectOne = [&] {
        clients.push_back(std::make_unique<Client>());
        return clients.back()->open(m_port);
    };
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(connectOne());
    ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 3; }));
    // Client 1 stays silent after connecting; 0 and 2 talk after it connected.
    ASSERT_FALSE(clients[0]->ask(request).isEmpty());
    ASSERT_FALSE(clients[2]->ask(request).isEmpty());

    ASSERT_TRUE(connectOne());
    EXPECT_TRUE(testsupport::waitFor([&] { return !clients[1]->isOpen(); }));
    // Now 0 has been silent longest (3 connected after it last spoke).
    ASSERT_FALSE(clients[2]->ask(request).isEmpty());
    ASSERT_FALSE(clients[3]->ask(request).isEmpty());
    ASSERT_TRUE(connectOne());
    EXPECT_TRUE(testsupport::waitFor([&] { return !clients[0]->isOpen(); }));

    EXPECT_EQ(clientCount(), 3);
    for (int i : { 2, 3, 4 }) {
        EXPECT_TRUE(clients[i]->isOpen()) << i;
        EXPECT_EQ(clients[i]->ask(request).value("socket_type").toString(), "program") << i;
    }
}

QStringList g_criticalLines;

void collectCritical(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg)
        g_criticalLines << text;
}

// A port another program keeps: after the wait for it, the application runs
// on without the channel, and the log says so as an error.
TEST(WebSocketListen, APortThatStaysTakenIsAnErrorInTheLog)
{
    testsupport::TempHome home;
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    g_websocketPort = other.serverPort();
    g_criticalLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectCritical);
    WebSocketServer server(QHostAddress::LocalHost);
    qInstallMessageHandler(previous);
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(g_criticalLines.filter(QString("[websocket] listen on 127.0.0.1 port %1 failed").arg(other.serverPort()))
                  .size(),
        1)
        << g_criticalLines.join('\n').toStdString();
}

} // namespace

namespace {

struct OversizedFrame {
    const char* name;
    quint64 declared;
    int sent; // payload bytes that follow the head
};
constexpr int kCap = 1024 * 1024;
const std::vector<OversizedFrame> kOversizedFrames {
    { "one byte over, all of it sent", kCap + 1, kCap + 1 },
    { "100 MB declared, 64 KiB sent", 100000000, 64 * 1024 },
    { "2 MB declared, nothing sent", 2000000, 0 },
};

// Sends the frame and reads the server's answer: a close frame with status
// 1009 (message too big), then the end of the stream.
::testing::AssertionResult refusedWith1009(quint16 port, const OversizedFrame& frame)
{
    std::signal(SIGPIPE, SIG_IGN); // the client may still be writing when it is dropped
    OversizedFrameClient client;
    if (!client.open(port))
        return ::testing::AssertionFailure() << "no WebSocket handshake";
    client.sendOversized(frame.declared, frame.sent); // fails once the server has stopped reading: fine
    const QByteArray got = client.readToEnd();
    if (got.size() < 4 || got.left(1) != QByteArray::fromHex("88") || got.mid(2, 2) != QByteArray::fromHex("03f1"))
        return ::testing::AssertionFailure() << "got " << got.left(32).toHex().toStdString();
    return ::testing::AssertionSuccess();
}

TEST_F(WebSocketChannel, AFrameOverTheCapIsRefusedFromItsHeadAndTheChannelServesOn)
{
    // No login guards the channel: one frame must not be able to stop it.
    for (const OversizedFrame& c : kOversizedFrames) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(refusedWith1009(m_port, c));
        EXPECT_TRUE(testsupport::waitFor([&] { return clientCount() == 0; })) << clientCount();

        Client next;
        ASSERT_TRUE(next.open(m_port));
        EXPECT_EQ(next.ask({ { "socket_type", "program" } }).value("socket_type").toString(), "program");
        next.close();
        ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 0; }));
    }
}

TEST_F(WebSocketChannel, AFrameTheWebSocketLayerRefusesEndsOnlyItsConnection)
{
    // Under the cap, but invalid: a control frame longer than 125 bytes.
    std::signal(SIGPIPE, SIG_IGN);
    OversizedFrameClient client;
    ASSERT_TRUE(client.open(m_port));
    ASSERT_TRUE(testsupport::waitFor([&] { return clientCount() == 1; }));
    QByteArray ping = OversizedFrameClient::frameHead(126);
    ping[0] = char(0x89);
    ASSERT_TRUE(client.sendRaw(ping + OversizedFrameClient::masked(QByteArray(126, 'p'))));
    client.readToEnd();
    EXPECT_TRUE(testsupport::waitFor([&] { return clientCount() == 0; })) << clientCount();
    Client next;
    ASSERT_TRUE(next.open(m_port));
    EXPECT_EQ(next.ask({ { "socket_type", "program" } }).value("socket_type").toString(), "program");
}

} // namespace

namespace {

TEST(WebSocketApplication, OversizedFramesLeaveTheChannelServingAndTheProcessStoppable)
{
    QTemporaryDir home;
    const quint16 websocketPort = testsupport::freePort();
    apptest::writeDeviceConfig(home.path(), testsupport::freePort(), websocketPort);
    apptest::App app(home.path());
    ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();

    for (const OversizedFrame& c : kOversizedFrames)
        EXPECT_TRUE(refusedWith1009(websocketPort, c)) << c.name;
    Client next;
    ASSERT_TRUE(next.open(websocketPort));
    EXPECT_EQ(next.ask({ { "socket_type", "program" } }).value("socket_type").toString(), "program");
    next.close();
    EXPECT_FALSE(apptest::contains(app.runLogLines(), "QIODevice::read (TlsStream): device not open"));
    EXPECT_TRUE(app.stopsCleanly(SIGTERM));
}

} // namespace
