#pragma once
// ShutdownSignal: turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI
// thread, so a stop request takes the same orderly path as closing the main
// window (a closed terminal sends SIGHUP, and the launcher passes it on).
//
// install() is called first thing in main: from then on the three signals only
// write a byte into a pipe (all a signal handler may safely do). The object,
// made on the GUI thread once the application exists, reads that pipe from
// the event loop; a request made during start-up is delivered once the loop
// runs.
#include <QObject>

class QSocketNotifier;

class ShutdownSignal : public QObject {
    Q_OBJECT
public:
    static bool install();

    explicit ShutdownSignal(QObject* parent = nullptr);

signals:
    void requested(int signalNumber);

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};
