#include "JsonFile.h"

#include "base/AtomicFile.h"

#include <QFile>

namespace JsonFile {

bool save(const QString& path, const QJsonDocument& doc, QString* error)
{
    return AtomicFile::write(path, doc.toJson(QJsonDocument::Indented), error);
}

bool save(const QString& path, const QJsonObject& obj, QString* error)
{
    return save(path, QJsonDocument(obj), error);
}

QJsonObject load(const QString& path, bool* ok)
{
    if (ok)
        *ok = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QJsonParseError err {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    if (ok)
        *ok = true;
    return doc.object();
}

} // namespace JsonFile
