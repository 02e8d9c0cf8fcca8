#include "display_check.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <stdexcept>

#include "common/errors.h"

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

void require_display(vtkRenderWindow* window, const char* operation) {
  if (display_available(window)) return;
  const char* display = std::getenv("DISPLAY");
  throw std::runtime_error(kelm::message(operation,
                                         ": no display to open the window on (DISPLAY is '",
                                         display ? display : "", "'); run under X or xvfb-run"));
}

}  // namespace sceneview_core
