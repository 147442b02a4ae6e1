#pragma once
// ScreensControl: the process-wide list of the machine's displays, numbered
// from 1 in the order the windowing system lists them (0 means no screen
// output). It follows displays being added or removed.
//
// Owner: function-local static, made on first use (after the application
// object), destroyed at process exit. Thread: lives on the GUI thread; the
// list is read from the HTTPS thread too, so it is guarded.
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>

class QScreen;

class ScreensControl : public QObject {
    Q_OBJECT
public:
    static ScreensControl* instance();

    void refreshScreenList();
    // True for an index below 1 (no screen output) and for one that names a display.
    bool checkScreenIndex(int screenIndex);
    // The displays as the browser offers them: {"id": index, "label":
    // "screen <index>"} in index order. The list follows displays coming and
    // going on the GUI thread, so it is read as it stands.
    QJsonArray getScreenToWeb();

public slots:
    void addScreen(QScreen* screen);
    void removeScreen(QScreen* screen);

private:
    ScreensControl();
    void fill(const QList<QScreen*>& list);

    QMap<int, QScreen*> screens;
    QMutex screens_mutex;
};
