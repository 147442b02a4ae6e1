import QtQuick 2.15

// The benchmark's window: 2 x 2 tiles. Until the video item is in the build,
// each tile is a flat rectangle whose colour changes every frame, so every
// pass really redraws the whole canvas.
Item {
    id: root
    property int frame: 0
    function destroyAllObjects() { }
    Timer { interval: 33; running: true; repeat: true; onTriggered: root.frame += 1 }
    Repeater {
        model: 4
        Rectangle {
            x: (index % 2) * root.width / 2; y: Math.floor(index / 2) * root.height / 2
            width: root.width / 2; height: root.height / 2
            color: Qt.hsla(((root.frame + index * 20) % 80) / 80, 0.8, 0.5, 1)
        }
    }
}
