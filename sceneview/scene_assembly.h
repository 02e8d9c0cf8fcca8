// Putting the scene together: the background picture and its camera, the orientation triad, the
// two renderers in the window, and the off-screen picture that shares this assembly.
#pragma once

#include <string>

#include "picture_camera.h"
#include "scene_objects.h"

namespace sceneview_core {

inline constexpr char kBackgroundFile[] = "kelm_dark_background.jpg";  // in res/ beside the module
inline constexpr double kBackgroundHeightScale = 0.49;  // the picture slightly overfills the height
inline constexpr double kTriadOutlineColor[3] = {0.93, 0.57, 0.13};
inline constexpr double kTriadViewport[4] = {0.0, 0.0, 0.15, 0.15};

// Reads the background JPEG into background_image_data and hands it to imageActor. A missing or
// unreadable picture leaves the viewer without one (returns false) rather than failing.
bool build_background_pipeline(SceneObjects& scene, const std::string& picture_path);

// Parallel camera of the background renderer framing the picture: centred on it, with a parallel
// scale of 0.49 x its height. Does nothing without a picture.
void fit_background_camera(SceneObjects& scene);

// The triad in the lower-left corner, movable by the user. Needs the interactor's window; raises
// std::runtime_error without it.
void setup_triad(SceneObjects& scene);

// Steps shared by the window and the off-screen picture: the scene renderer on layer 1 with the
// pipelines' actors and the scalar bar, and the background renderer on layer 0 with the picture.
// Adding is idempotent, so assembling again (or after a picture) adds nothing twice.
void assemble_scene(SceneObjects& scene, const std::string& picture_path);

// The window with its two layers and renderers, rendered, the background fitted, rendered again.
void show_in_window(SceneObjects& scene);

// The interactor gets the window, the area picker and `key_command` as its key observer (once).
void connect_interactor(SceneObjects& scene, vtkCommand* key_command);

// Renders the assembled scene (background, scene and a triad like the window's) in an off-screen
// window of width x height pixels and writes it as PNG to `path`. The scene is seen along `view`
// through a camera fitted to it and lent for this picture only (the window's camera is left as it
// was). The renderers are lent to that window and given back to render_window afterwards. Raises
// kelm::os_error when the file cannot be written.
void render_offscreen_png(SceneObjects& scene, const std::string& path, int width, int height,
                          PictureView view);

}  // namespace sceneview_core
