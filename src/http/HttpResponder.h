#pragma once
// The answer channel of one request, handed to a responder-style handler.
//
// Lives on the stack of HttpConnection for the duration of one handler call
// on the HTTPS server thread. The handler writes its reply before it returns;
// the connection then sends it. A handler that writes nothing gets a 500 on
// the wire, so a client is never left waiting.
#include "HttpResponse.h"

#include <QJsonObject>

class HttpResponder {
public:
    // The first write is the reply; later writes are ignored with a log line.
    void write(const HttpResponse& response);
    // A JSON document with the given status.
    void write(const QJsonObject& object, int status = 200);

    bool isWritten() const { return m_written; }
    const HttpResponse& response() const { return m_response; }

private:
    HttpResponse m_response;
    bool m_written = false;
};
