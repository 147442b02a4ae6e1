#pragma once
// Readable failure messages: JSON values print as compact JSON, texts and
// byte strings (replies, request bodies) as quoted text, so an empty reply and
// an error reply never look alike.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <ostream>

inline void PrintTo(const QJsonObject& object, std::ostream* os)
{
    *os << QJsonDocument(object).toJson(QJsonDocument::Compact).constData();
}

inline void PrintTo(const QJsonArray& array, std::ostream* os)
{
    *os << QJsonDocument(array).toJson(QJsonDocument::Compact).constData();
}

inline void PrintTo(const QJsonDocument& document, std::ostream* os)
{
    if (document.isNull())
        *os << "(no JSON)";
    else
        *os << document.toJson(QJsonDocument::Compact).constData();
}

inline void PrintTo(const QJsonValue& value, std::ostream* os)
{
    if (value.isObject())
        PrintTo(value.toObject(), os);
    else if (value.isArray())
        PrintTo(value.toArray(), os);
    else if (value.isUndefined())
        *os << "(undefined)";
    else // a scalar: wrapped in an array to print it as JSON, then unwrapped
        *os << QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact).mid(1).chopped(1).constData();
}

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"' << bytes.toStdString() << '"';
}
