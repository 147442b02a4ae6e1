#pragma once
// The route object on a thread of its own, started the way the application
// starts it and listening on the loopback address at g_httpPort; stopped and
// deleted with the object.
#include "Globals.h"
#include "RegistHttpsRoute.h"
#include "TestSupport.h"

#include <QTcpSocket>
#include <QThread>

class HttpsRouteThread {
public:
    HttpsRouteThread()
        : route(new RegistHttpsRoute(QHostAddress::LocalHost))
    {
        route->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, route, &RegistHttpsRoute::initHttpServer, Qt::DirectConnection);
        QObject::connect(&thread, &QThread::finished, route, &RegistHttpsRoute::destroy, Qt::DirectConnection);
        thread.start();
    }
    ~HttpsRouteThread()
    {
        thread.quit();
        thread.wait();
        delete route;
    }
    // Whether the server accepts connections before the deadline.
    static bool listening()
    {
        return testsupport::waitFor([] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(g_httpPort));
            return probe.waitForConnected(100);
        });
    }

private:
    QThread thread;
    RegistHttpsRoute* route;
};
