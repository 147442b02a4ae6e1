import QtQuick 2.15

// A window scene of flat tiles at known places for the pipeline tests. The
// bottom-right quarter is yellow on top (z 2) of a green square (z 1) drawn
// earlier in the file: the yellow must win.
Item {
    id: root
    property int destroyCalls: 0
    function destroyAllObjects() { destroyCalls += 1 }

    Rectangle { x: 0; y: 0; width: root.width / 2; height: root.height; color: "#ff0000" }
    Rectangle { x: root.width / 2; y: 0; width: root.width / 2; height: root.height / 2; color: "#0000ff" }
    Rectangle {
        x: root.width / 2; y: root.height / 2; width: root.width / 2; height: root.height / 2
        color: "#ffff00"; z: 2
    }
    Rectangle {
        x: root.width / 2; y: root.height / 2; width: root.width / 4; height: root.height / 4
        color: "#00ff00"; z: 1
    }
}
