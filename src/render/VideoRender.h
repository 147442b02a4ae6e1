#pragma once
// VideoRender: the QML item ("Renderer" in "SceneGraphRendering" 1.0) that
// shows one tile of a window.
//
// Owner: the QML scene of its window. Thread: made on the GUI thread, drawn
// on its window's render thread.
#include <QQuickItem>

class VideoRender : public QQuickItem {
    Q_OBJECT
public:
    explicit VideoRender(QQuickItem* parent = nullptr);
};
