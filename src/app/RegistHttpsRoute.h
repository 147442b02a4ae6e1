#pragma once
// RegistHttpsRoute: owner of the HTTPS server (the JSON API under "/api/v2"
// and the browser interface's files).
//
// Owner: CommonInterface::init, which moves it to the HTTPS thread, starts
// that thread and deletes both once the thread has ended. Thread: the HTTPS
// thread from its start on; initHttpServer runs when the thread starts and
// destroy when it finishes (and queued from the main window's destroyAll).
// Every route handler runs on that thread, one request at a time, and calls
// the controller directly; the handlers are stateless forwarders.
#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <functional>
#include <memory>

class HttpRequest;
class HttpResponder;
class HttpServer;
class QJsonObject;

class RegistHttpsRoute : public QObject {
    Q_OBJECT
public:
    // address: where the server listens; the application serves every local
    // address, tests only the loopback one.
    explicit RegistHttpsRoute(const QHostAddress& address = QHostAddress::Any);
    ~RegistHttpsRoute() override;

    // The request line as the request log shows it: the URL, with the query
    // values of "/users/" routes (user names, passwords) replaced by "***".
    static QString loggedUrl(const HttpRequest& request);
    // The request body as the log shows it: cut as ZTLogger::clipped cuts.
    static QByteArray loggedBody(const HttpRequest& request);

public slots:
    // Builds the server, registers every route and listens on g_httpPort;
    // false when it does not listen. Either way listenResult tells.
    bool initHttpServer();
    // Deletes the server if there is one; always emits httpDestroyed.
    void destroy();

signals:
    void httpDestroyed();
    // Whether the server listens on port; reason says why not.
    void listenResult(bool listening, int port, const QString& reason);

private:
    // Which of the two request lines a JSON route writes around its call.
    enum LogLines { NoLines = 0, StartLine = 1, DoneLine = 2, StartAndDone = 3 };
    using JsonCall = std::function<QJsonObject(const HttpRequest&)>;
    // A call that may answer later through the responder (HttpResponder::later).
    using LaterCall = std::function<QJsonObject(const HttpRequest&, HttpResponder&)>;

    // A route under "/api/v2" whose handler's object is the reply.
    void addJsonRoute(const QString& path, JsonCall call, LogLines lines = StartAndDone);
    // The same, for a call whose object is the reply unless it asked to
    // answer later.
    void addLaterRoute(const QString& path, LaterCall call, LogLines lines = StartAndDone);
    // A route under "/api/v2" answered by CommonInterface::handleRequest with code.
    void addResponderRoute(const QString& path, int code);

    void createBaseConfigRouters();
    void createProgramRouters();
    void createSourceRouters();
    void createTabPageRouters();
    void createLayoutRouters();
    void createPanesRouters();
    void createTallyRouters();
    void createLoginManagerRouters();
    void createUserManagerRouters();
    void createPanelDeckControl();
    void createOtherRouters();

    QHostAddress m_address;
    std::unique_ptr<HttpServer> m_server;
};
