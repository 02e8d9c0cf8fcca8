// Pictures of a render window: the screenshot files of the key handler and the off-screen picture.
#pragma once

#include <vtkRenderWindow.h>

#include <string>

namespace sceneview_core {

enum class ImageFormat { kPng, kJpeg };

inline constexpr int kMaxScreenshotScale = 8;

// `path` made absolute against the working directory and normalised ("." and ".." folded).
std::string absolute_path(const std::string& path);

// "screenshot<index>.png" at scale 1, "screenshot<index>.jpg" otherwise, in `directory`.
std::string screenshot_path(const std::string& directory, long long index, int scale);

// Reads the window's back buffer at `scale` times its size and writes it to `path` (PNG with
// alpha, or JPEG, which has none). Raises kelm::os_error naming the file when it cannot be
// written (the directory is missing or not writable, the disk is full).
void write_window_image(vtkRenderWindow* window, const std::string& path, int scale,
                        ImageFormat format);

// The key handler's screenshot number `index` of `window` in `directory`: the window's size as PNG
// at scale 1, else magnified `scale` times as JPEG (a PNG that large would be slow and huge).
// Returns the path written; raises kelm::os_error when it cannot be written.
std::string write_screenshot(vtkRenderWindow* window, const std::string& directory, long long index,
                             int scale);

}  // namespace sceneview_core
