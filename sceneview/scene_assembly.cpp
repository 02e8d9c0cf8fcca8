#include "scene_assembly.h"

#include <vtkCamera.h>
#include <vtkImageMapper3D.h>
#include <vtkJPEGReader.h>
#include <vtkRendererCollection.h>

#include <exception>
#include <fstream>
#include <vector>

#include "picture_camera.h"
#include "screenshot.h"

namespace sceneview_core {

bool build_background_pipeline(SceneObjects& scene, const std::string& picture_path) {
  // vtkJPEGReader reports a missing file through VTK's error output only; the check keeps the
  // console quiet and the viewer working without a picture.
  if (!std::ifstream(picture_path).good()) return false;
  auto reader = vtkSmartPointer<vtkJPEGReader>::New();
  if (!reader->CanReadFile(picture_path.c_str())) return false;
  reader->SetFileName(picture_path.c_str());
  reader->Update();
  scene.background_image_data = reader->GetOutput();
  scene.imageActor->SetInputData(scene.background_image_data);
  return true;
}

void fit_background_camera(SceneObjects& scene) {
  vtkImageData* image = scene.background_image_data;
  if (!image) return;
  double origin[3], spacing[3];
  int extent[6];
  image->GetOrigin(origin);
  image->GetSpacing(spacing);
  image->GetExtent(extent);
  vtkCamera* camera = scene.backgroundRenderer->GetActiveCamera();
  camera->ParallelProjectionOn();
  const double xc = origin[0] + 0.5 * (extent[0] + extent[1]) * spacing[0];
  const double yc = origin[1] + 0.5 * (extent[2] + extent[3]) * spacing[1];
  const double yd = (extent[3] - extent[2] + 1) * spacing[1];
  const double d = camera->GetDistance();
  camera->SetParallelScale(kBackgroundHeightScale * yd);
  camera->SetFocalPoint(xc, yc, 0.0);
  camera->SetPosition(xc, yc, d);
}

void setup_triad(SceneObjects& scene) {
  if (!scene.render_window_interactor->GetRenderWindow()) {
    throw std::runtime_error(
        "sceneview.setup_triad: the interactor has no window yet; render() gives it one");
  }
  vtkOrientationMarkerWidget* widget = scene.triad_orientation_widget;
  widget->SetOutlineColor(kTriadOutlineColor[0], kTriadOutlineColor[1], kTriadOutlineColor[2]);
  widget->SetOrientationMarker(scene.triad_actor);
  widget->SetInteractor(scene.render_window_interactor);
  widget->SetViewport(kTriadViewport[0], kTriadViewport[1], kTriadViewport[2], kTriadViewport[3]);
  widget->SetEnabled(1);
  widget->InteractiveOn();
}

void assemble_scene(SceneObjects& scene, const std::string& picture_path) {
  vtkRenderer* renderer = scene.scene_renderer;
  renderer->SetLayer(1);
  renderer->AddActor(scene.face_actor);
  renderer->AddActor(scene.feature_edge_actor);
  renderer->AddActor(scene.unmapped_points_actor);
  // A bar without a lookup table (no field shown) has nothing to draw and makes VTK warn at
  // every frame, so it joins the scene only once a field pipeline configured it.
  if (scene.scalar_bar_actor->GetLookupTable()) {
    renderer->AddActor2D(scene.scalar_bar_actor);
  } else {
    renderer->RemoveActor2D(scene.scalar_bar_actor);
  }
  renderer->AddActor(scene.face_actor_nofield);
  renderer->AddActor(scene.feature_edge_actor_nofield);
  renderer->AddActor(scene.point_actor);
  build_background_pipeline(scene, picture_path);
  scene.backgroundRenderer->SetLayer(0);
  scene.backgroundRenderer->InteractiveOff();
  scene.backgroundRenderer->AddActor(scene.imageActor);
}

void show_in_window(SceneObjects& scene) {
  vtkRenderWindow* window = scene.render_window;
  window->SetNumberOfLayers(2);
  if (!window->HasRenderer(scene.backgroundRenderer)) window->AddRenderer(scene.backgroundRenderer);
  if (!window->HasRenderer(scene.scene_renderer)) window->AddRenderer(scene.scene_renderer);
  window->Render();
  fit_background_camera(scene);
  window->Render();
}

void connect_interactor(SceneObjects& scene, vtkCommand* key_command) {
  vtkRenderWindowInteractor* interactor = scene.render_window_interactor;
  interactor->SetRenderWindow(scene.render_window);
  interactor->SetPicker(scene.area_picker);
  if (scene.key_observed == interactor && scene.key_command == key_command) return;
  if (scene.key_observed) scene.key_observed->RemoveObserver(scene.key_observer_tag);
  scene.key_command = key_command;
  scene.key_observed = interactor;
  scene.key_observer_tag = interactor->AddObserver(vtkCommand::KeyPressEvent, key_command);
}

namespace {

std::vector<vtkSmartPointer<vtkRenderer>> renderers_of(vtkRenderWindow* window) {
  std::vector<vtkSmartPointer<vtkRenderer>> list;
  vtkRendererCollection* collection = window->GetRenderers();
  collection->InitTraversal();
  while (vtkRenderer* renderer = collection->GetNextItem()) list.emplace_back(renderer);
  return list;
}

// What vtkOrientationMarkerWidget does for the window: the triad's camera looks along the scene
// camera's direction, framed to fit.
void follow_scene_camera(vtkRenderer* triad, vtkRenderer* scene) {
  vtkCamera* from = scene->GetActiveCamera();
  vtkCamera* to = triad->GetActiveCamera();
  to->SetPosition(from->GetPosition());
  to->SetFocalPoint(from->GetFocalPoint());
  to->SetViewUp(from->GetViewUp());
  triad->ResetCamera();
}

}  // namespace

void render_offscreen_png(SceneObjects& scene, const std::string& path, int width, int height,
                          PictureView view) {
  // A renderer draws in one window at a time: the window's renderers are taken out and put back
  // in their order afterwards. The on-screen window itself is left alone (switching a window
  // between on- and off-screen breaks its later interaction loop).
  vtkRenderWindow* main_window = scene.render_window;
  const auto previous = renderers_of(main_window);
  const bool lend = main_window->HasRenderer(scene.backgroundRenderer) ||
                    main_window->HasRenderer(scene.scene_renderer);
  if (lend) {
    for (auto& renderer : previous) main_window->RemoveRenderer(renderer);
  }

  if (!scene.offscreen_window) {
    scene.offscreen_window = vtkSmartPointer<vtkRenderWindow>::New();
    scene.offscreen_window->SetOffScreenRendering(1);
    scene.offscreen_window->SetNumberOfLayers(2);
  }
  vtkRenderWindow* window = scene.offscreen_window;
  window->SetSize(width, height);
  window->AddRenderer(scene.backgroundRenderer);
  window->AddRenderer(scene.scene_renderer);
  auto triad = vtkSmartPointer<vtkRenderer>::New();
  triad->SetLayer(1);
  triad->InteractiveOff();
  triad->SetViewport(kTriadViewport[0], kTriadViewport[1], kTriadViewport[2], kTriadViewport[3]);
  triad->AddViewProp(scene.triad_actor);
  window->AddRenderer(triad);

  // The window is handed back whatever happens; the error, of whatever kind, is raised after.
  std::exception_ptr error;
  {
    BorrowedCamera picture_camera(scene.scene_renderer);
    fit_picture_camera(scene.scene_renderer, view);
    window->Render();
    fit_background_camera(scene);
    follow_scene_camera(triad, scene.scene_renderer);
    window->Render();
    try {
      write_window_image(window, path, 1, ImageFormat::kPng);
    } catch (...) {
      error = std::current_exception();
    }
  }

  window->RemoveRenderer(triad);
  window->RemoveRenderer(scene.scene_renderer);
  window->RemoveRenderer(scene.backgroundRenderer);
  if (lend) {
    for (auto& renderer : previous) main_window->AddRenderer(renderer);
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace sceneview_core
