#pragma once
// The answer channel of one request, handed to a responder-style handler.
//
// Lives on the stack of HttpConnection for the duration of one handler call
// on the HTTPS server thread. The handler writes its reply before it returns;
// the connection then sends it. A handler that writes nothing gets a 500 on
// the wire, so a client is never left waiting, unless it asked to answer
// later: then the connection waits for the reply it was given.
#include "HttpLaterReply.h"
#include "HttpResponse.h"

#include <QJsonObject>

#include <functional>

class HttpResponder {
public:
    HttpResponder() = default;
    // later makes the reply handed out by later() (given by the connection).
    explicit HttpResponder(std::function<HttpLaterReply()> later)
        : m_makeLater(std::move(later))
    {
    }

    // The reply will be sent later, through the object returned; nothing is
    // sent when the handler returns. Without a connection (a responder made
    // without one) the object sends nothing.
    HttpLaterReply later();
    bool isLater() const { return m_later; }

    // The first write is the reply; later writes are ignored with a log line.
    void write(const HttpResponse& response);
    // A JSON document with the given status.
    void write(const QJsonObject& object, int status = 200);

    bool isWritten() const { return m_written; }
    const HttpResponse& response() const { return m_response; }

private:
    HttpResponse m_response;
    bool m_written = false;
    bool m_later = false;
    std::function<HttpLaterReply()> m_makeLater;
};
