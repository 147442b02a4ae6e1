import QtQuick 2.15
import SceneGraphRendering 1.0

// The benchmark's window with live video: a square grid (2 x 2 for four
// sources, 3 x 3 for nine, 4 x 4 for sixteen), each tile showing one of the
// test sources the benchmark started ("benchSources"), full bandwidth.
Item {
    id: root
    readonly property int columns: Math.max(1, Math.ceil(Math.sqrt(benchSources.length)))
    function destroyAllObjects() {
        for (var i = 0; i < tiles.count; ++i)
            tiles.itemAt(i).destroyConnection();
    }
    Repeater {
        id: tiles
        model: benchSources.length
        Renderer {
            x: (index % root.columns) * width; y: Math.floor(index / root.columns) * height
            width: root.width / root.columns; height: root.height / root.columns
            item_x: x; item_y: y; winW: root.width; winH: root.height
            pro_id: "1"
            output: ""
            Component.onCompleted: {
                startLiving();
                changeSource(benchSources[index], "high", false);
            }
        }
    }
}
