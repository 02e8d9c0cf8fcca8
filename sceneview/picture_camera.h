// The camera of off-screen pictures. VTK's default camera looks down the z axis, which shows a 3D
// body as a flat outline and a shell around the z axis as its wall seen edge-on; a picture that
// nobody can turn needs a view that shows the model's three dimensions. The interactive window
// keeps VTK's default camera, which the user turns by hand.
#pragma once

#include <vtkCamera.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>

#include <string>

namespace sceneview_core {

enum class PictureView { kIso, kX, kY, kZ };

inline constexpr char kDefaultPictureView[] = "iso";

// "iso", "x", "y" or "z"; raises std::invalid_argument naming `operation` and the value otherwise.
PictureView picture_view_from_name(const std::string& name, const std::string& operation);

// Points the renderer's active camera along `view` and fits it to the bounds of the renderer's
// visible props: "iso" looks from the (+x, -y, +z) octant with z up, "x" from +x with z up, "y"
// from -y with z up, "z" from +z with y up (VTK's default direction). Two-sided lighting is
// switched on, so faces seen from behind (the inside of an open shell) are lit, not black.
// Without visible props the camera only gets its direction.
void fit_picture_camera(vtkRenderer* renderer, PictureView view);

// Lends `renderer` a fresh camera for one picture and gives the previous one back when it goes
// out of scope, so a picture never moves the camera of the window. A renderer that had no camera
// yet gets none back, and VTK fits one at the window's first render as it would have.
class BorrowedCamera {
 public:
  explicit BorrowedCamera(vtkRenderer* renderer);
  ~BorrowedCamera();
  BorrowedCamera(const BorrowedCamera&) = delete;
  BorrowedCamera& operator=(const BorrowedCamera&) = delete;

 private:
  vtkRenderer* renderer_;
  vtkSmartPointer<vtkCamera> previous_;  // null when the renderer had none
  bool two_sided_lighting_;
};

}  // namespace sceneview_core
