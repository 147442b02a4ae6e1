#include "JsonFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace JsonFile {

bool save(const QString& path, const QJsonDocument& doc, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray bytes = doc.toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        const QString why = file.errorString();
        qWarning() << "[json] save failed:" << path << why;
        if (error)
            *error = why;
        return false;
    }
    return true;
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
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    if (ok)
        *ok = true;
    return doc.object();
}

} // namespace JsonFile
