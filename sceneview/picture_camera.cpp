#include "picture_camera.h"

#include <vtkMath.h>

#include <stdexcept>

#include "common/errors.h"

namespace sceneview_core {

namespace {

struct ViewAxes {
  double toward_camera[3];  // from the focal point to the camera
  double up[3];
};

ViewAxes axes_of(PictureView view) {
  switch (view) {
    case PictureView::kX:
      return {{1, 0, 0}, {0, 0, 1}};
    case PictureView::kY:
      return {{0, -1, 0}, {0, 0, 1}};
    case PictureView::kZ:
      return {{0, 0, 1}, {0, 1, 0}};
    case PictureView::kIso:
      break;
  }
  return {{1, -1, 1}, {0, 0, 1}};
}

}  // namespace

PictureView picture_view_from_name(const std::string& name, const std::string& operation) {
  if (name == "iso") return PictureView::kIso;
  if (name == "x") return PictureView::kX;
  if (name == "y") return PictureView::kY;
  if (name == "z") return PictureView::kZ;
  throw std::invalid_argument(
      kelm::message(operation, ": view '", name, "' is not one of \"iso\", \"x\", \"y\", \"z\""));
}

void fit_picture_camera(vtkRenderer* renderer, PictureView view) {
  const ViewAxes axes = axes_of(view);
  vtkCamera* camera = renderer->GetActiveCamera();
  double direction[3] = {axes.toward_camera[0], axes.toward_camera[1], axes.toward_camera[2]};
  vtkMath::Normalize(direction);
  camera->SetFocalPoint(0.0, 0.0, 0.0);
  camera->SetPosition(direction);
  camera->SetViewUp(axes.up[0], axes.up[1], axes.up[2]);
  camera->OrthogonalizeViewUp();
  renderer->TwoSidedLightingOn();

  double bounds[6];
  renderer->ComputeVisiblePropBounds(bounds);
  // Empty scenes report inverted bounds; ResetCamera would then leave the camera where it is.
  if (bounds[0] > bounds[1]) return;
  renderer->ResetCamera(bounds);  // keeps the direction, moves to frame the bounding sphere
}

BorrowedCamera::BorrowedCamera(vtkRenderer* renderer)
    : renderer_(renderer), two_sided_lighting_(renderer->GetTwoSidedLighting() != 0) {
  if (renderer->IsActiveCameraCreated()) previous_ = renderer->GetActiveCamera();
  renderer->SetActiveCamera(vtkSmartPointer<vtkCamera>::New());
}

BorrowedCamera::~BorrowedCamera() {
  renderer_->SetActiveCamera(previous_);
  renderer_->SetTwoSidedLighting(two_sided_lighting_);
}

}  // namespace sceneview_core
