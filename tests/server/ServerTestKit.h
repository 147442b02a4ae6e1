#pragma once
// Fixtures for the server tests: a browser-like secure WebSocket client, and
// the application's HTTPS routes started on a thread of their own on a
// loopback port, with a small JSON client for them.
#include "../http/HttpTestClient.h"

#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "app/RegistHttpsRoute.h"
#include "base/Globals.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslConfiguration>
#include <QStringList>
#include <QTcpSocket>
#include <QThread>
#include <QWebSocket>

#include <memory>

namespace servertest {

// A browser-like client that keeps every text message it receives.
class WssClient {
public:
    explicit WssClient(const QString& origin = QString())
        : m_socket(origin)
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_socket.setSslConfiguration(tls);
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& m) { messages.append(m); });
    }

    bool open(quint16 port)
    {
        m_socket.open(QUrl(QStringLiteral("wss://127.0.0.1:%1").arg(port)));
        testsupport::waitFor([this] {
            return m_socket.state() == QAbstractSocket::ConnectedState
                || m_socket.state() == QAbstractSocket::UnconnectedState;
        });
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }
    void close()
    {
        m_socket.close();
        testsupport::waitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void send(const QString& text) { m_socket.sendTextMessage(text); }

    // The next message, parsed; empty when none comes within timeoutMs.
    QJsonObject next(int timeoutMs = 5000)
    {
        if (!testsupport::waitFor([this] { return m_read < messages.size(); }, timeoutMs))
            return QJsonObject();
        return QJsonDocument::fromJson(messages.at(m_read++).toUtf8()).object();
    }
    QJsonObject ask(const QJsonObject& request)
    {
        send(QString::fromUtf8(QJsonDocument(request).toJson()));
        return next();
    }

    QStringList messages;

private:
    QWebSocket m_socket;
    int m_read = 0;
};

// RegistHttpsRoute on its own thread, as the application starts it, but
// listening on 127.0.0.1 at a free port (g_httpPort).
class HttpsRoutesThread {
public:
    HttpsRoutesThread()
    {
        g_httpPort = testsupport::freePort();
        m_route = new RegistHttpsRoute(QHostAddress::LocalHost);
        m_route->moveToThread(&m_thread);
        QObject::connect(
            &m_thread, &QThread::started, m_route, &RegistHttpsRoute::initHttpServer, Qt::DirectConnection);
        QObject::connect(&m_thread, &QThread::finished, m_route, &RegistHttpsRoute::destroy, Qt::DirectConnection);
        m_thread.start();
        m_listening = testsupport::waitFor([] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(g_httpPort));
            return probe.waitForConnected(100);
        });
    }
    ~HttpsRoutesThread()
    {
        m_thread.quit();
        m_thread.wait();
        delete m_route;
    }
    bool listening() const { return m_listening; }

private:
    QThread m_thread;
    RegistHttpsRoute* m_route = nullptr;
    bool m_listening = false;
};

// The application's controller (its worker carrying the WebSocket server)
// and HTTPS routes, running as in the application in a temporary home, on
// free loopback ports. One per test program: the controller is the singleton.
class RunningController {
public:
    RunningController()
    {
        g_httpPort = testsupport::freePort();
        g_websocketPort = testsupport::freePort();
        BaseConfig* controller = BaseConfig::getInstance();
        controller->initConfigs(); // the WebSocket server, the users, the (empty) program list
        controller->openWindows(); // starts the worker that carries the WebSocket server
        m_routes = std::make_unique<HttpsRoutesThread>();
    }
    ~RunningController()
    {
        m_routes.reset();
        BaseConfig::getInstance()->destroy();
        BaseConfig::getInstance()->stopWorker();
    }
    bool listening() const { return m_routes->listening(); }

private:
    testsupport::TempHome m_home;
    std::unique_ptr<HttpsRoutesThread> m_routes;
};

// A window layout of `count` side-by-side positions, in the form the browser sends.
inline QJsonArray sidePositions(int count)
{
    QJsonArray list;
    for (int i = 0; i < count; ++i) {
        list.append(QJsonObject { { "id", i + 1 }, { "number", i + 1 }, { "type", "" }, { "z_index", i },
            { "x", i * 100 / count }, { "y", 0 }, { "width", 100 / count }, { "height", 100 } });
    }
    return list;
}

// The reply's JSON object; when no reply came, an object saying so (so a
// failed comparison shows it, rather than an empty object).
inline QJsonObject jsonOf(const httptest::Reply& reply)
{
    if (!reply.failure.isEmpty())
        return QJsonObject { { "test client", QString::fromUtf8(reply.failure) } };
    return QJsonDocument::fromJson(reply.body).object();
}

inline QByteArray appHeader(const QString& username, const QString& token)
{
    return "app: "
        + QJsonDocument(QJsonObject { { "username", username }, { "token", token } }).toJson(QJsonDocument::Compact)
        + "\r\n";
}

inline httptest::Reply call(httptest::Client& c, const QByteArray& method, const QByteArray& target,
    const QByteArray& body = QByteArray(), const QByteArray& headers = QByteArray(), int ms = 5000)
{
    c.reopenIfClosed();
    const int before = c.completeCount();
    c.send(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    return c.replyAt(before, ms);
}

inline QJsonObject post(httptest::Client& c, const QByteArray& path, const QJsonObject& body,
    const QByteArray& headers = QByteArray(), int ms = 5000)
{
    return jsonOf(call(c, "POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), headers, ms));
}

// Logs in as the default administrator: success with the token in *token,
// or a failure that shows the reply (ASSERT_TRUE(loggedIn(c, &token))).
inline ::testing::AssertionResult loggedIn(httptest::Client& c, QString* token)
{
    const QJsonObject reply
        = post(c, "/api/v2/users/login.json", QJsonObject { { "username", "admin" }, { "password", "vexmo" } });
    *token = reply.value("data").toObject().value("token").toString();
    if (token->isEmpty())
        return ::testing::AssertionFailure() << "login as admin replied " << ::testing::PrintToString(reply);
    return ::testing::AssertionSuccess();
}

// Logs in as the default administrator; the token, empty on failure.
inline QString login(httptest::Client& c)
{
    QString token;
    loggedIn(c, &token);
    return token;
}

} // namespace servertest
