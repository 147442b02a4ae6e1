#pragma once
// The reply to a request that its handler gives after it has returned
// (HttpResponder::later), for work done on another thread.
//
// Copyable, and usable from any thread: the reply is made and sent on the
// HTTP server's thread, by a queued call to the server. The connection
// takes no further request until the reply is sent, so replies on one
// keep-alive connection keep the order of their requests. The reply carries
// the connection and the number of the request it answers: a reply for a
// connection that has gone is made but not sent; a second one is dropped.
#include "HttpResponse.h"

#include <QMutex>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class HttpConnection;

class HttpLaterReply {
public:
    // Where later replies are posted: the server, for as long as it lives.
    // Owned (shared) by the server and every later reply it handed out.
    struct Mailbox {
        QMutex mutex;
        QObject* server = nullptr; // cleared by the server's destructor
    };

    HttpLaterReply() = default; // sends nothing
    HttpLaterReply(std::shared_ptr<Mailbox> mailbox, HttpConnection* connection, quint64 request);

    // Runs make on the server's thread and sends its result. make also runs
    // when the client has gone, so what it records is not lost; nothing runs
    // once the server is gone.
    void send(std::function<HttpResponse()> make) const;
    void send(const HttpResponse& response) const
    {
        send([response] { return response; });
    }

private:
    std::shared_ptr<Mailbox> m_mailbox;
    QPointer<HttpConnection> m_connection; // read on the server's thread only
    quint64 m_request = 0;
};
