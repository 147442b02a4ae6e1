import QtQuick 2.15
import SceneGraphRendering 1.0

// The benchmark's window with live video: 2 x 2 tiles, each showing one of the
// test sources the benchmark started ("benchSources"), full bandwidth.
Item {
    id: root
    function destroyAllObjects() {
        for (var i = 0; i < tiles.count; ++i)
            tiles.itemAt(i).destroyConnection();
    }
    Repeater {
        id: tiles
        model: benchSources.length
        Renderer {
            x: (index % 2) * root.width / 2; y: Math.floor(index / 2) * root.height / 2
            width: root.width / 2; height: root.height / 2
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
