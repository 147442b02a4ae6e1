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
#include <QRect>
#include <QString>

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
    // The display's geometry, or (0, 0, 1280 x 720) for an index naming none.
    QRect getScreenGeometry(int index);
    // The display itself (for QWindow::setScreen), or null.
    QScreen* getScreen(int index);
    // The index as text when it names a display, else empty.
    QString getScreenName(int index);
    // The index a text names when it is a display's number, else 0.
    int getScreenIndex(const QString& name);
    // Where the second display starts; 0 with fewer than two.
    int getInitX();
    int getInitY();

public slots:
    void addScreen(QScreen* screen);
    void removeScreen(QScreen* screen);

private:
    ScreensControl();
    void fill(const QList<QScreen*>& list);

    QMap<int, QScreen*> screens;
    QMutex screens_mutex;
};
