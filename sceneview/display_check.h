// Whether the windowing system can be reached. VTK's X window aborts the whole process when it
// cannot open the display; the viewer asks first and raises instead.
#pragma once

#include <vtkRenderWindow.h>

namespace sceneview_core {

// True when `window` does not need X, or the X display (DISPLAY) can be opened.
bool display_available(vtkRenderWindow* window);

// Raises std::runtime_error (RuntimeError) naming `operation` and DISPLAY when the display of
// `window` cannot be reached.
void require_display(vtkRenderWindow* window, const char* operation);

}  // namespace sceneview_core
