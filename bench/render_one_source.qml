import QtQuick 2.15
import SceneGraphRendering 1.0

// The benchmark's window with one live source shown on every tile of a 2 x 2
// grid (run it with --sources 1): the frame is uploaded once and its texture
// drawn by all four tiles.
Item {
    id: root
    function destroyAllObjects() {
        for (var i = 0; i < tiles.count; ++i)
            tiles.itemAt(i).destroyConnection();
    }
    Repeater {
        id: tiles
        model: 4
        Renderer {
            x: (index % 2) * width; y: Math.floor(index / 2) * height
            width: root.width / 2; height: root.height / 2
            item_x: x; item_y: y; winW: root.width; winH: root.height
            pro_id: "1"
            output: ""
            Component.onCompleted: {
                startLiving();
                changeSource(benchSources[0], "high", false);
            }
        }
    }
}
