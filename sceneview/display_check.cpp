#include "display_check.h"

#include <X11/Xlib.h>

namespace sceneview_core {

bool display_available(vtkRenderWindow* window) {
  if (!window || !window->IsA("vtkXOpenGLRenderWindow")) return true;
  // The probe's connection stays open for the life of the process: an X server without other
  // clients (Xvfb in particular) resets when its last client leaves, and a window opened during
  // that reset finds no server and aborts.
  static Display* probe = nullptr;
  if (!probe) probe = XOpenDisplay(nullptr);
  return probe != nullptr;
}

}  // namespace sceneview_core
