#include "HttpResponse.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMimeDatabase>

#include <http_parser.h>

HttpResponse::HttpResponse(int status, QByteArray body, const QByteArray& contentType)
    : m_status(status)
    , m_body(std::move(body))
{
    if (!contentType.isEmpty())
        setHeader("Content-Type", contentType);
}

HttpResponse HttpResponse::json(const QJsonObject& object, int status)
{
    return HttpResponse(status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json");
}

HttpResponse HttpResponse::status(int status)
{
    return HttpResponse(status);
}

HttpResponse HttpResponse::fromFile(const QString& fileName)
{
    const QFileInfo info(fileName);
    if (!info.isFile())
        return status(404);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return status(404);
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return status(404);
    const QMimeDatabase mimeDb;
    const QByteArray type = mimeDb.mimeTypeForFileNameAndData(fileName, content).name().toLatin1();
    return HttpResponse(200, content, type);
}

QByteArray HttpResponse::header(const QByteArray& name) const
{
    for (const Header& h : m_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

void HttpResponse::setHeader(const QByteArray& name, const QByteArray& value)
{
    for (Header& h : m_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    m_headers.append({ name, value });
}

QByteArray HttpResponse::reasonPhrase(int status)
{
    const char* text = http_status_str(static_cast<enum http_status>(status));
    const QByteArray phrase(text ? text : "");
    return phrase.isEmpty() || phrase == "<unknown>" ? QByteArrayLiteral("Unknown") : phrase;
}
