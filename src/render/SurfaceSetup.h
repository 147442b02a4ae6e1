#pragma once
// SurfaceSetup: the OpenGL set-up every window of the application relies on,
// made before the application object exists: the OpenGL scene graph, shared
// contexts, no shader disk cache and a 4.1 core default format (where desktop
// OpenGL is in use) with depth 16 and stencil 8. The application, the render
// benchmark and the render tests use the same definition.
#include <QSurfaceFormat>

namespace SurfaceSetup {

// The default surface format the application sets.
QSurfaceFormat applicationFormat();
// Applies everything above; call before the QApplication is made.
void applyBeforeApplication();

} // namespace SurfaceSetup
