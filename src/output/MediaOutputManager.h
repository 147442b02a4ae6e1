#pragma once
// MediaOutputManager: the process-wide owner of the windows' network outputs.
//
// Owner: function-local static, destroyed at process exit. Thread: GUI.
#include <QObject>

class MediaOutputManager : public QObject {
    Q_OBJECT
public:
    static MediaOutputManager& instance();

private:
    MediaOutputManager() = default;
};
