#pragma once
// Reading and writing the application's JSON state files.
//
// Every state file is written atomically (AtomicFile::write): the new text
// goes to a temporary file beside the target, which is renamed over it only
// once it is complete. A crash or kill during a save leaves the previous
// file whole.
// Reading is lenient: a missing file or text that does not parse reads as an
// empty object, and the caller can ask whether parsing succeeded.
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace JsonFile {

// Writes doc indented to path, atomically. Creates missing parent folders.
// Returns false (and fills *error when given) when the file could not be written.
bool save(const QString& path, const QJsonDocument& doc, QString* error = nullptr);
bool save(const QString& path, const QJsonObject& obj, QString* error = nullptr);

// Reads path as a JSON object. *ok (when given) is true only when the file
// could be read and its text parsed as a JSON object.
QJsonObject load(const QString& path, bool* ok = nullptr);

} // namespace JsonFile
