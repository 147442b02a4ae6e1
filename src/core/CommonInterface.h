#pragma once
// CommonInterface: the application shell. init brings every subsystem up on
// the GUI thread in a fixed order, runs the event loop and takes everything
// down again, in the reverse order, before it returns.
//
// Owner: function-local static reached through getInstance(), first used by
// main. Thread: GUI only.
#include <QObject>
#include <QString>

class QApplication;

class CommonInterface : public QObject {
    Q_OBJECT
public:
    static CommonInterface& getInstance();

    // Runs start-up, the event loop and the shutdown. False only when start-up
    // could not begin because a resource it needs is missing; which one is
    // written to stderr and the log.
    bool init(const QString& baseDirectory, QApplication& application);

    // Whether an argument after the program name is exactly "--developing".
    static bool hasDevelopingSwitch(int argc, const char* const* argv);

private:
    CommonInterface() = default;
};

// Registers the font file with the application and makes its first family
// the application font. False when the file was not accepted.
bool loadExtFont(const QString& fontFile);
