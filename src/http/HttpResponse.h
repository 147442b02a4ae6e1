#pragma once
// One HTTP response: status, header fields and the whole body.
//
// A plain value made by a handler (or the connection itself for protocol
// errors) and written out by HttpConnection on the HTTPS server thread.
// Content-Length and Connection are added when it is sent.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

class HttpResponse {
public:
    using Header = QPair<QByteArray, QByteArray>;

    explicit HttpResponse(
        int status = 200, QByteArray body = QByteArray(), const QByteArray& contentType = QByteArray());

    // A compact JSON document with content type "application/json".
    static HttpResponse json(const QJsonObject& object, int status = 200);
    // A status with an empty body.
    static HttpResponse status(int status);
    // The whole file with a MIME type from its name and content, or 404 with
    // an empty body when it is missing, a directory, or cannot be read.
    static HttpResponse fromFile(const QString& fileName);

    int statusCode() const { return m_status; }
    QByteArray body() const { return m_body; }
    QList<Header> headers() const { return m_headers; }
    QByteArray header(const QByteArray& name) const;
    // Adds a field, replacing one of the same name.
    void setHeader(const QByteArray& name, const QByteArray& value);

    // Standard reason phrase of a status code ("Not Found"), "Unknown" for others.
    static QByteArray reasonPhrase(int status);

private:
    int m_status;
    QByteArray m_body;
    QList<Header> m_headers;
};
