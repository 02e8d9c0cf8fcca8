#include "screenshot.h"

#include <vtkImageWriter.h>
#include <vtkJPEGWriter.h>
#include <vtkPNGWriter.h>
#include <vtkSmartPointer.h>
#include <vtkWindowToImageFilter.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/errors.h"

namespace sceneview_core {

std::string absolute_path(const std::string& path) {
  // Normalised as the shell would read it ("a/../b.png" is "b.png"), without resolving links.
  std::error_code failed;
  std::filesystem::path absolute = std::filesystem::absolute(path, failed);
  if (failed) kelm::raise_os_error("cannot resolve '", path, "': ", failed.message());
  return absolute.lexically_normal().string();
}

std::string screenshot_path(const std::string& directory, long long index, int scale) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + "screenshot" + std::to_string(index) + (scale == 1 ? ".png" : ".jpg");
}

void write_window_image(vtkRenderWindow* window, const std::string& path, int scale,
                        ImageFormat format) {
  // VTK's writers report a file they cannot open only through VTK's error output; opening it here
  // first turns that into an error the caller sees.
  {
    std::ofstream probe(path, std::ios::binary | std::ios::trunc);
    if (!probe) {
      kelm::raise_os_error("cannot write '", path, "': ", std::strerror(errno));
    }
  }
  auto grab = vtkSmartPointer<vtkWindowToImageFilter>::New();
  grab->SetInput(window);
  grab->SetScale(scale);
  if (format == ImageFormat::kPng) {
    grab->SetInputBufferTypeToRGBA();
  } else {
    grab->SetInputBufferTypeToRGB();  // JPEG holds no alpha
  }
  grab->ReadFrontBufferOff();
  grab->Update();

  vtkSmartPointer<vtkImageWriter> writer;
  if (format == ImageFormat::kPng) {
    writer = vtkSmartPointer<vtkPNGWriter>::New();
  } else {
    writer = vtkSmartPointer<vtkJPEGWriter>::New();
  }
  writer->SetFileName(path.c_str());
  writer->SetInputConnection(grab->GetOutputPort());
  writer->Write();
  if (writer->GetErrorCode() != 0) {
    kelm::raise_os_error("cannot write '", path, "': VTK error code ", writer->GetErrorCode());
  }
}

std::string write_screenshot(vtkRenderWindow* window, const std::string& directory, long long index,
                             int scale) {
  const std::string path = screenshot_path(directory, index, scale);
  write_window_image(window, path, scale, scale == 1 ? ImageFormat::kPng : ImageFormat::kJpeg);
  return path;
}

}  // namespace sceneview_core
