#include "WebSocketServer.h"

#include <QDebug>

// The channel does not listen yet: with no clients there is nobody to push to.

WebSocketServer* WebSocketServer::instance()
{
    static WebSocketServer server;
    return &server;
}

void WebSocketServer::sendSourceRequest() { }

void WebSocketServer::sendProgramRequest()
{
    qDebug() << "sendProgramRequest ";
}

void WebSocketServer::sendWindowRequest(QString) { }
void WebSocketServer::sendPresetRequest(QString) { }
void WebSocketServer::sendGridRequest(QString, QString) { }
void WebSocketServer::sendControlRequest(QString, QString) { }
void WebSocketServer::sendLiveRequest(QString, QString) { }
void WebSocketServer::sendScreenRequest(QString, QString) { }
void WebSocketServer::sendTallyRequest(QString) { }

void WebSocketServer::onDestroyAll()
{
    qDebug() << "WebSocketServer::onDestroyAll";
}
