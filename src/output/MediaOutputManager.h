#pragma once
// MediaOutputManager: the process-wide owner of the windows' network outputs,
// one per (program, window).
//
// For now it keeps each window's web-control address; the output streams
// themselves follow.
//
// Owner: function-local static, destroyed at process exit. Thread: lives on
// the GUI thread; called from the GUI and HTTPS threads, so its map is guarded.
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>

class MediaOutputManager : public QObject {
    Q_OBJECT
public:
    static MediaOutputManager& instance();

    // Makes the window's output entry when missing and sets its web-control address.
    void setWebControl(const QString& pro_id, const QString& win_id, const QString& url);
    QString getWebControl(const QString& pro_id, const QString& win_id) const;

private:
    MediaOutputManager() = default;

    QMap<QPair<QString, QString>, QString> web_controls;
    mutable QMutex outputs_mutex;
};
