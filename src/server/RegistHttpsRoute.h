#pragma once
// RegistHttpsRoute: owner of the HTTPS server (the JSON API and the browser
// interface's files).
//
// Owner: CommonInterface::init, which moves it to the HTTPS thread, starts
// that thread and deletes both once the thread has ended. Thread: the HTTPS
// thread from its start on; initHttpServer runs when the thread starts and
// destroy when it finishes (and queued from the main window's destroyAll).
#include <QObject>

class RegistHttpsRoute : public QObject {
    Q_OBJECT
public:
    RegistHttpsRoute();
    ~RegistHttpsRoute() override;

public slots:
    // Builds the server and listens on g_httpPort; false when it does not listen.
    bool initHttpServer();
    // Deletes the server if there is one; always emits httpDestroyed.
    void destroy();

signals:
    void httpDestroyed();
};
