import QtQuick 2.15

// The benchmark's window that never changes: four flat tiles and a caption,
// as a wall of still or stopped sources, or an idle programme, looks. After
// the first pass nothing needs drawing; the outputs keep their rate.
Item {
    id: root
    function destroyAllObjects() { }
    Repeater {
        model: 4
        Rectangle {
            x: (index % 2) * root.width / 2; y: Math.floor(index / 2) * root.height / 2
            width: root.width / 2; height: root.height / 2
            color: Qt.hsla(index / 4, 0.8, 0.5, 1)
            Text { anchors.centerIn: parent; text: "Tile " + (index + 1); font.pixelSize: 48; color: "white" }
        }
    }
}
