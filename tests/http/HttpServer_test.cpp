#include "HttpTestClient.h"
#include "TestSupport.h"
#include "http/HttpConnection.h"
#include "http/HttpServer.h"
#include "http/TlsServerContext.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using httptest::Client;
using httptest::Reply;

namespace {

QJsonObject bodyJson(const Reply& r)
{
    return QJsonDocument::fromJson(r.body).object();
}

// Reports every part of the request it got, so tests see what the layer parsed.
QJsonObject describe(const HttpRequest& request)
{
    QJsonArray query;
    for (const auto& item : request.query())
        query.append(QJsonArray { item.first, item.second });
    return QJsonObject {
        { "method", QString::fromLatin1(request.method()) },
        { "path", request.path() },
        { "query", query },
        { "app", QString::fromUtf8(request.header("app")) },
        { "body", QString::fromUtf8(request.body()) },
        { "args", QJsonArray::fromStringList(request.arguments()) },
        { "remote", request.remoteAddress().toString() },
        { "url", request.url().toString() },
    };
}

class HttpServerTest : public ::testing::Test {
protected:
    void start(const HttpServerConfig& config = HttpServerConfig())
    {
        server = std::make_unique<HttpServer>(config);
        server->router().addJsonRoute("/echo", [this](const HttpRequest& r) {
            ++handled;
            return describe(r);
        });
        ASSERT_TRUE(httptest::listenOnFreePort(*server));
    }

    std::unique_ptr<Client> connected()
    {
        auto client = std::make_unique<Client>();
        EXPECT_TRUE(client->connectTo(server->serverPort()));
        return client;
    }

    std::unique_ptr<HttpServer> server;
    int handled = 0;
};

} // namespace

TEST_F(HttpServerTest, RoutesInRegistrationOrderWithArgsAndMethodFilters)
{
    server = std::make_unique<HttpServer>();
    HttpRouter& router = server->router();
    auto named = [](const char* name) {
        return [name](const HttpRequest& r) {
            return QJsonObject { { "route", name }, { "args", QJsonArray::fromStringList(r.arguments()) } };
        };
    };
    ASSERT_TRUE(router.addJsonRoute("/api/v2/config/nav/nav", named("nav")));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/tally/<arg>/get.json", named("tally")));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/program/list.json", named("list-post"), HttpRouter::Post));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/program/list.json", named("list-get"), HttpRouter::Get | HttpRouter::Put));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/pair/<arg>/<arg>", named("pair")));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/first", named("first")));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/first", named("shadowed")));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/dup/<arg>", named("dup-arg")));
    ASSERT_TRUE(router.addJsonRoute("/api/v2/dup/exact", named("dup-exact")));
    ASSERT_TRUE(router.addRoute(
        "/<arg>",
        [](const HttpRequest& r, HttpResponder& out) {
            out.write(QJsonObject { { "route", "rest" }, { "args", QJsonArray::fromStringList(r.arguments()) } });
        },
        HttpRouter::AnyMethod, HttpRouter::LastArgTakesRest));
    // Patterns that cannot work are refused rather than silently never matching.
    EXPECT_FALSE(router.addJsonRoute("no/slash", named("x")));
    EXPECT_FALSE(router.addRoute(
        "/a/<arg>/b", [](const HttpRequest&, HttpResponder&) {}, HttpRouter::AnyMethod, HttpRouter::LastArgTakesRest));
    EXPECT_FALSE(router.addRoute("/a", HttpRouter::Handler()));
    ASSERT_TRUE(httptest::listenOnFreePort(*server));

    struct Case {
        const char* method;
        const char* target;
        const char* route;
        QStringList args;
    };
    const Case cases[] = {
        { "GET", "/api/v2/config/nav/nav", "nav", {} },
        { "GET", "/api/v2/config/nav/nav.json", "rest", { "api/v2/config/nav/nav.json" } },
        { "GET", "/api/v2/tally/P1/get.json", "tally", { "P1" } },
        { "GET", "/api/v2/tally/P%201/get.json?x=1", "tally", { "P 1" } },
        { "GET", "/api/v2/tally//get.json", "rest", { "api/v2/tally//get.json" } },
        { "GET", "/api/v2/tally/a%2Fb/get.json", "rest", { "api/v2/tally/a/b/get.json" } },
        { "POST", "/api/v2/program/list.json", "list-post", {} },
        { "GET", "/api/v2/program/list.json?pro_id=3", "list-get", {} },
        { "DELETE", "/api/v2/program/list.json", "rest", { "api/v2/program/list.json" } },
        { "GET", "/api/v2/program/list.json/", "rest", { "api/v2/program/list.json/" } },
        { "GET", "/api/v2/pair/a/b", "pair", { "a", "b" } },
        { "GET", "/api/v2/pair/a", "rest", { "api/v2/pair/a" } },
        { "GET", "/api/v2/first", "first", {} },
        { "GET", "/api/v2/dup/exact", "dup-arg", { "exact" } },
        { "GET", "/", "rest", { "" } },
        { "PROPFIND", "/qml/", "rest", { "qml/" } },
    };
    Client client;
    ASSERT_TRUE(client.connectTo(server->serverPort()));
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        client.send(QByteArray(c.method) + ' ' + c.target + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
        ASSERT_TRUE(client.waitReplies(++n));
        const Reply& r = client.replies().last();
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.header("Content-Type"), "application/json");
        EXPECT_EQ(bodyJson(r).value("route").toString(), c.route);
        EXPECT_EQ(bodyJson(r).value("args").toVariant().toStringList(), c.args);
    }
    EXPECT_TRUE(client.isOpen());
}

TEST_F(HttpServerTest, ParsesRequestAndAnswers404WithoutRoute)
{
    start();
    auto client = connected();
    client->send("POST /echo?name=x%26y&eq=a%3Db&plus=a+b&ids[]=1&ids%5B%5D=2&flag&=5&a=1=2 HTTP/1.1\r\n"
                 "Host: 127.0.0.1:1234\r\nAPP: {\"token\":\"t\"}\r\nContent-Length: 5\r\n\r\nhello");
    ASSERT_TRUE(client->waitReplies(1));
    const QJsonObject got = bodyJson(client->replies().at(0));
    EXPECT_EQ(got.value("method").toString(), "POST");
    EXPECT_EQ(got.value("path").toString(), "/echo");
    EXPECT_EQ(got.value("body").toString(), "hello");
    EXPECT_EQ(got.value("app").toString(), "{\"token\":\"t\"}"); // header names match case-insensitively
    EXPECT_EQ(got.value("remote").toString(), "127.0.0.1");
    EXPECT_EQ(got.value("url").toString(),
        "https://127.0.0.1:1234/echo?name=x%26y&eq=a%3Db&plus=a+b&ids[]=1&ids%5B%5D=2&flag&=5&a=1=2");
    // Split first, then decoded: encoded separators stay inside their value.
    const QJsonArray expected { QJsonArray { "name", "x&y" }, QJsonArray { "eq", "a=b" }, QJsonArray { "plus", "a+b" },
        QJsonArray { "ids[]", "1" }, QJsonArray { "ids[]", "2" }, QJsonArray { "a", "1" } };
    EXPECT_EQ(got.value("query").toArray(), expected);

    const Reply missing = client->get("/nowhere");
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(missing.body.isEmpty());
    EXPECT_TRUE(client->isOpen());
}

TEST_F(HttpServerTest, KeepAliveFollowsVersionAndConnectionHeader)
{
    start();
    struct Case {
        const char* version;
        const char* connectionHeader;
        bool staysOpen;
    };
    const Case cases[] = {
        { "HTTP/1.1", "", true },
        { "HTTP/1.1", "Connection: close\r\n", false },
        { "HTTP/1.0", "", false },
        { "HTTP/1.0", "Connection: keep-alive\r\n", true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " " + c.connectionHeader);
        auto client = connected();
        for (int i = 1; i <= 3; ++i) {
            client->send(QByteArray("GET /echo ") + c.version + "\r\nHost: x\r\n" + c.connectionHeader + "\r\n");
            ASSERT_TRUE(client->waitReplies(1)); // the first always comes
            if (!c.staysOpen)
                break;
            ASSERT_TRUE(client->waitReplies(i));
        }
        const Reply& r = client->replies().at(0);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.header("Connection"), c.staysOpen ? "keep-alive" : "close");
        if (c.staysOpen) {
            EXPECT_EQ(client->completeCount(), 3);
            EXPECT_TRUE(client->isOpen());
        } else {
            EXPECT_TRUE(client->waitClosed());
            EXPECT_EQ(client->completeCount(), 1);
        }
    }
}

TEST_F(HttpServerTest, PipelinedRequestsAreAnsweredInOrderUntilClose)
{
    start();
    auto client = connected();
    // Four requests in one write; the third asks to close, so the fourth is never answered.
    client->send("GET /echo?n=1 HTTP/1.1\r\nHost: x\r\n\r\n"
                 "POST /echo?n=2 HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                 "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"
                 "POST /echo?n=3 HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nConnection: close\r\n\r\nxy"
                 "GET /echo?n=4 HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(client->waitReplies(3));
    EXPECT_TRUE(client->waitClosed());
    ASSERT_EQ(client->completeCount(), 3);
    const char* bodies[] = { "", "abcde", "xy" };
    for (int i = 0; i < 3; ++i) {
        const QJsonObject got = bodyJson(client->replies().at(i));
        EXPECT_EQ(got.value("query").toArray().at(0).toArray().at(1).toString(), QString::number(i + 1));
        EXPECT_EQ(got.value("body").toString(), bodies[i]);
    }
    EXPECT_EQ(handled, 3);
}

TEST_F(HttpServerTest, LaterRepliesFromAnotherThreadKeepTheOrderOfTheirConnection)
{
    start();
    std::vector<HttpLaterReply> held; // handed out by the handler, sent when the test says
    server->router().addRoute(
        "/later", [&](const HttpRequest&, HttpResponder& responder) { held.push_back(responder.later()); });
    QThread worker;
    QObject onWorker;
    onWorker.moveToThread(&worker);
    worker.start();
    const auto stopWorker = qScopeGuard([&] {
        worker.quit();
        worker.wait();
    });
    int made = 0;
    const auto sendFromWorker = [&](const HttpLaterReply& reply, int n) {
        QMetaObject::invokeMethod(&onWorker, [&made, reply, n] {
            reply.send([&made, n] {
                ++made; // on the server's thread, as the test's
                return HttpResponse::json(QJsonObject { { "later", n } });
            });
        });
    };

    auto client = connected();
    client->send("GET /later HTTP/1.1\r\nHost: x\r\n\r\nGET /echo?n=2 HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(testsupport::waitFor([&] { return held.size() == 1; }));
    // Other connections are served while the reply is awaited.
    auto other = connected();
    EXPECT_EQ(other->get("/echo").status, 200);
    EXPECT_EQ(client->completeCount(), 0);
    EXPECT_EQ(handled, 1) << "the request behind the later one waits";

    sendFromWorker(held[0], 1);
    ASSERT_TRUE(client->waitReplies(2));
    EXPECT_EQ(bodyJson(client->replies().at(0)), (QJsonObject { { "later", 1 } }));
    EXPECT_EQ(bodyJson(client->replies().at(1)).value("path").toString(), "/echo");
    // A second reply to the same request is dropped.
    sendFromWorker(held[0], 9);
    ASSERT_TRUE(testsupport::waitFor([&] { return made == 2; }));
    EXPECT_EQ(client->get("/echo").status, 200);
    EXPECT_EQ(client->completeCount(), 3);

    // A reply for a connection that has gone is made (what it records is
    // kept) and not sent.
    auto gone = connected();
    gone->send("GET /later HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(testsupport::waitFor([&] { return held.size() == 2; }));
    gone.reset();
    ASSERT_TRUE(testsupport::waitFor([&] { return server->connectionCount() == 2; }));
    sendFromWorker(held[1], 2);
    EXPECT_TRUE(testsupport::waitFor([&] { return made == 3; }));
    EXPECT_EQ(client->get("/echo").status, 200);
}

TEST_F(HttpServerTest, MalformedRequestsGet400AndClose)
{
    start();
    const QByteArray cases[] = {
        "GARBAGE\r\n\r\n",
        "GET /echo HTTP/1.1\r\nHost: x\r\nContent-Length: abc\r\n\r\n",
        "GET /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
        "GET /ec ho HTTP/1.1\r\n\r\n",
        "GET /echo HTTP/1.1\r\nBad Header\r\n\r\n",
        "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        QByteArray("GET /echo HTTP/1.1\r\nHost: \x01\x02\0\xff\r\n\r\n", 32),
        QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11),
    };
    for (const QByteArray& raw : cases) {
        SCOPED_TRACE(raw.toStdString());
        auto client = connected();
        client->send(raw);
        ASSERT_TRUE(client->waitReplies(1));
        EXPECT_EQ(client->replies().at(0).status, 400);
        EXPECT_EQ(client->replies().at(0).header("Connection"), "close");
        EXPECT_TRUE(client->waitClosed());
    }
    EXPECT_EQ(handled, 0);
    // The server is unharmed.
    auto client = connected();
    EXPECT_EQ(client->get("/echo").status, 200);
}

TEST_F(HttpServerTest, OversizedHeadIs431AndOversizedBodyIs413WithoutReadingIt)
{
    start();
    const QByteArray bigHeader = "X-Fill: " + QByteArray(HttpConnection::kMaxHeadBytes, 'a') + "\r\n";
    const QByteArray nearlyFull = "X-Fill: " + QByteArray(HttpConnection::kMaxHeadBytes - 200, 'a') + "\r\n";
    {
        auto client = connected();
        client->send("GET /echo HTTP/1.1\r\nHost: x\r\n" + nearlyFull + "\r\n");
        ASSERT_TRUE(client->waitReplies(1));
        EXPECT_EQ(client->replies().at(0).status, 200);
    }
    {
        auto client = connected();
        client->send("GET /echo HTTP/1.1\r\nHost: x\r\n" + bigHeader + "\r\n");
        ASSERT_TRUE(client->waitReplies(1));
        EXPECT_EQ(client->replies().at(0).status, 431);
        EXPECT_TRUE(client->waitClosed());
    }
    {
        // Only the head is sent: the reply must come without the server
        // waiting for (or keeping) the body it was promised.
        auto client = connected();
        client->send("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 107374182400\r\n\r\n");
        ASSERT_TRUE(client->waitReplies(1));
        EXPECT_EQ(client->replies().at(0).status, 413);
        EXPECT_TRUE(client->waitClosed());
    }
    {
        // A chunked body that grows past the limit, sent in one go.
        auto client = connected();
        const qint64 chunk = 1024 * 1024;
        QByteArray raw = "POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
        const QByteArray piece = QByteArray::number(chunk, 16) + "\r\n" + QByteArray(int(chunk), 'b') + "\r\n";
        for (qint64 sent = 0; sent <= HttpConnection::kMaxBodyBytes; sent += chunk)
            raw += piece;
        raw += "0\r\n\r\n";
        client->send(raw);
        ASSERT_TRUE(client->waitReplies(1, 30000));
        EXPECT_EQ(client->replies().at(0).status, 413);
        EXPECT_TRUE(client->waitClosed(30000));
    }
    EXPECT_EQ(handled, 1);
}

TEST_F(HttpServerTest, IdleAndTricklingConnectionsAreClosed)
{
    HttpServerConfig config;
    // Within the suite's time budget, so that one request on a busy machine
    // is not mistaken for idleness.
    config.idleTimeoutMs = testsupport::budgetMs(300);
    start(config);

    auto idle = connected();
    EXPECT_TRUE(idle->waitClosed(3000));

    // Whole requests keep a connection alive: each reply restarts the clock.
    auto busy = connected();
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; clock.elapsed() < 2 * config.idleTimeoutMs + 100; ++i)
        ASSERT_EQ(busy->get("/echo").status, 200);
    EXPECT_TRUE(busy->isOpen());

    // A request sent a byte at a time never completes, and is cut off.
    auto slow = connected();
    const QByteArray request = "GET /echo HTTP/1.1\r\nHost: x\r\nX-Long: " + QByteArray(1000, 'z') + "\r\n\r\n";
    int sent = 0;
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        if (sent < request.size())
            slow->send(request.mid(sent++, 1));
    });
    drip.start(20);
    EXPECT_TRUE(slow->waitClosed(3000));
    EXPECT_LT(sent, request.size());
    EXPECT_EQ(slow->completeCount(), 0);
}

TEST_F(HttpServerTest, AtTheCapTheLongestIdleConnectionMakesRoom)
{
    HttpServerConfig config;
    config.maxConnections = 8;
    start(config);
    std::vector<std::unique_ptr<Client>> clients;
    clients.reserve(8);
    for (int i = 0; i < 8; ++i)
        clients.push_back(connected());
    // Everyone but the first is active after it.
    for (int i = 1; i < 8; ++i)
        ASSERT_EQ(clients[i]->get("/echo").status, 200);
    ASSERT_EQ(server->connectionCount(), 8);

    auto late = connected();
    EXPECT_EQ(late->get("/echo").status, 200);
    EXPECT_TRUE(clients[0]->waitClosed());
    for (int i = 1; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(clients[i]->get("/echo").status, 200);
    }
    EXPECT_EQ(server->connectionCount(), 8);
}

TEST_F(HttpServerTest, ResponderHandlersAndFailingHandlers)
{
    server = std::make_unique<HttpServer>();
    HttpRouter& router = server->router();
    router.addRoute("/created", [](const HttpRequest&, HttpResponder& out) {
        HttpResponse r(201, "made", "text/plain");
        r.setHeader("X-Extra", "1");
        r.setHeader("Content-Length", "999"); // framing stays the server's
        out.write(r);
        out.write(HttpResponse::status(500)); // ignored: the first write is the reply
    });
    router.addRoute("/silent", [](const HttpRequest&, HttpResponder&) {});
    router.addRoute("/throws", [](const HttpRequest&, HttpResponder&) { throw std::runtime_error("boom"); });
    ASSERT_TRUE(httptest::listenOnFreePort(*server));
    Client client;
    ASSERT_TRUE(client.connectTo(server->serverPort()));

    const Reply created = client.get("/created");
    EXPECT_EQ(created.status, 201);
    EXPECT_EQ(created.body, "made");
    EXPECT_EQ(created.header("Content-Type"), "text/plain");
    EXPECT_EQ(created.header("X-Extra"), "1");
    EXPECT_EQ(created.header("Content-Length"), "4");
    EXPECT_EQ(client.get("/silent").status, 500);
    EXPECT_EQ(client.get("/throws").status, 500);
    EXPECT_EQ(client.get("/created").status, 201);
}

namespace {
QStringList g_messages;
void collect(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    g_messages << QStringLiteral("%1 %2").arg(type).arg(text);
}
} // namespace

TEST_F(HttpServerTest, ListenRefusesBadPortsAndMissingIdentity)
{
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    HttpServer server;
    for (int port : { 0, -1, 65536, 70000 })
        EXPECT_FALSE(server.listen(QHostAddress::LocalHost, port)) << port;
    EXPECT_FALSE(server.isListening());

    QTemporaryDir dir;
    QFile junk(dir.filePath("junk.pem"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
    junk.close();
    const QStringList badCertificates { dir.filePath("missing.crt"), junk.fileName() };
    for (const QString& cert : badCertificates) {
        HttpServerConfig config;
        config.certificatePath = cert;
        HttpServer broken(config);
        EXPECT_FALSE(broken.listen(QHostAddress::LocalHost, 40000)) << cert.toStdString();
        EXPECT_FALSE(broken.isListening());
    }
    HttpServerConfig badKey;
    badKey.privateKeyPath = junk.fileName();
    HttpServer noKey(badKey);
    EXPECT_FALSE(noKey.listen(QHostAddress::LocalHost, 40000));
    qInstallMessageHandler(previous);

    // QtCriticalMsg is 2: each identity failure leaves one critical line.
    EXPECT_EQ(g_messages.filter(QRegularExpression("^2 \\[http\\] TLS identity")).size(), 3)
        << g_messages.join("\n").toStdString();

    // A port that stays taken fails too (at once here: the wait for it to
    // come free is the next test's).
    HttpServer first;
    ASSERT_TRUE(httptest::listenOnFreePort(first));
    HttpServerConfig noWait;
    noWait.addressInUseRetryMs = 0;
    HttpServer second(noWait);
    EXPECT_FALSE(second.listen(QHostAddress::LocalHost, first.serverPort()));
    EXPECT_TRUE(second.listenError().contains("in use")) << second.listenError().toStdString();
}

std::atomic<bool> g_sawRetry { false };

void watchForRetry(QtMsgType, const QMessageLogContext&, const QString& text)
{
    if (text.contains("is in use; trying again"))
        g_sawRetry = true;
}

// A port still held when the server starts (by a process that is ending) is
// taken as soon as it is let go.
TEST_F(HttpServerTest, PortInUseAtStartIsTakenOnceReleased)
{
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const quint16 port = ntohs(address.sin_port);

    g_sawRetry = false;
    const QtMessageHandler previous = qInstallMessageHandler(watchForRetry);
    // Let go once the server has found the port taken and waits for it.
    std::thread releaser([holder] {
        while (!g_sawRetry)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::close(holder);
    });
    HttpServer server;
    const bool listening = server.listen(QHostAddress::LocalHost, port);
    const bool sawRetry = g_sawRetry.exchange(true); // lets the releaser go on every path
    releaser.join();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(sawRetry);
    ASSERT_TRUE(listening) << server.listenError().toStdString();
    EXPECT_EQ(server.serverPort(), port);
}

TEST_F(HttpServerTest, PlainHttpIsNotServed)
{
    start();
    QTcpSocket plain;
    plain.connectToHost(QHostAddress::LocalHost, server->serverPort());
    ASSERT_TRUE(plain.waitForConnected(5000));
    plain.write("GET /echo HTTP/1.1\r\nHost: x\r\n\r\n");
    QByteArray got;
    QObject::connect(&plain, &QTcpSocket::readyRead, [&] { got += plain.readAll(); });
    EXPECT_TRUE(testsupport::waitFor([&] { return plain.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_FALSE(got.contains("HTTP/1.1"));
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(testsupport::waitFor([&] { return server->connectionCount() == 0; }));
}

TEST(HttpServerThread, ServesOnTheThreadItLivesOn)
{
    QThread worker;
    auto* server = new HttpServer;
    QThread* handlerThread = nullptr;
    server->router().addJsonRoute("/where", [&](const HttpRequest&) {
        handlerThread = QThread::currentThread();
        return QJsonObject { { "ok", true } };
    });
    server->moveToThread(&worker);
    worker.start();
    bool listening = false;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        server,
        [&] {
            listening = httptest::listenOnFreePort(*server);
            port = server->serverPort();
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(listening);

    Client client;
    ASSERT_TRUE(client.connectTo(port));
    EXPECT_EQ(client.get("/where").status, 200);
    EXPECT_EQ(handlerThread, &worker);

    QMetaObject::invokeMethod(
        server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    EXPECT_TRUE(client.waitClosed());
    worker.quit();
    worker.wait();
}

TEST(TlsIdentityTest, CompiledInIdentityMakesAServerContext)
{
    const TlsIdentity id = TlsIdentity::fromResources();
    ASSERT_TRUE(id.isValid()) << id.error().toStdString();
    EXPECT_FALSE(id.certificate().isNull());
    EXPECT_EQ(id.privateKey().algorithm(), QSsl::Rsa);
    TlsServerContext context;
    EXPECT_TRUE(context.build(id)) << context.error().toStdString();

    const TlsIdentity missing = TlsIdentity::load(":/tls/none.crt", TlsIdentity::kKeyResource);
    EXPECT_FALSE(missing.isValid());
    EXPECT_TRUE(missing.error().contains(":/tls/none.crt"));
}
