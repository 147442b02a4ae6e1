#pragma once
// CommonInterface: the application shell. init brings every subsystem up on
// the GUI thread in a fixed order, runs the event loop and takes everything
// down again, in the reverse order, before it returns.
//
// Owner: function-local static reached through getInstance(), first used by
// main. Thread: GUI only.
#include <QObject>
#include <QString>

class HttpRequest;
class HttpResponder;
class QApplication;

class CommonInterface : public QObject {
    Q_OBJECT
public:
    static CommonInterface& getInstance();

    // Runs start-up, the event loop and the shutdown. False only when start-up
    // could not begin because a resource it needs is missing; which one is
    // written to stderr and the log.
    bool init(const QString& baseDirectory, QApplication& application);
    // The process's exit status once init has returned true: 0, or
    // ProcessSetup::kRestartStatus when "Restart Now" was chosen and a
    // launcher waits to start the application again, or 1 when the
    // replacement of a directly started process could not be started.
    int exitStatus() const { return m_exitStatus; }
    // Whether a launcher started this process and starts it again when it
    // ends with the restart status; otherwise a restart starts the
    // replacement process itself. Set before init.
    void setRestartByLauncher(bool byLauncher) { m_restartByLauncher = byLauncher; }

    // Answers the API routes that reply through their responder: code 2 the
    // selected position of a window, 3 a program's parameters, 8 the screen
    // list, 9 a WebRTC offer, 22 a window's numbering range; any other code
    // an empty object. Always status 200. Called on the HTTPS thread.
    void handleRequest(const HttpRequest& request, HttpResponder& responder, int code);

    // Whether an argument after the program name is exactly "--developing".
    static bool hasDevelopingSwitch(int argc, const char* const* argv);

private:
    CommonInterface() = default;

    bool m_restartByLauncher = false;
    int m_exitStatus = 0;
};

// Registers the font file with the application and makes its first family
// the application font. False when the file was not accepted.
bool loadExtFont(const QString& fontFile);
