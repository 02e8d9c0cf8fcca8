#include "scene_objects.h"

#include <vtkCallbackCommand.h>

namespace sceneview_core {

template <typename T>
static void create(vtkSmartPointer<T>& member) {
  member = vtkSmartPointer<T>::New();
}

SceneObjects::SceneObjects() {
  create(vertexFilter);
  create(point_mapper);
  create(point_actor);
  create(face_poly_filter);
  create(faces_normals_generator);
  create(feature_edge_filter);
  face_mapper = vtkSmartPointer<vtkCompositePolyDataMapper2>::New();
  create(feature_edge_mapper);
  create(face_actor);
  create(feature_edge_actor);
  create(lut);
  create(unmapped_points_mapper);
  create(unmapped_points_actor);
  create(face_filter_nofield);
  create(face_poly_filter_nofield);
  create(faces_normals_generator_nofield);
  create(feature_edge_filter_nofield);
  create(face_mapper_nofield);
  create(feature_edge_mapper_nofield);
  create(face_actor_nofield);
  create(feature_edge_actor_nofield);
  create(scalar_bar_widget);
  create(scalar_bar_actor);
  create(triad_orientation_widget);
  create(triad_actor);
  create(imageActor);
  create(scene_renderer);
  create(backgroundRenderer);
  create(render_window);
  render_window->SetSize(kWindowWidth, kWindowHeight);
  create(render_window_interactor);
  create(area_picker);
}

SceneObjects::~SceneObjects() {
  vtkRenderWindowInteractor* interactor = render_window_interactor;
  if (key_observed) key_observed->RemoveObserver(key_observer_tag);
  if (interactor && interactor->GetInitialized() && interactor_listed) {
    // Shown without running the loop: the only way out of VTK's list is a loop that ends, so run
    // one that a timer ends at once (a StartEvent observer would make Start skip it).
    auto stop = vtkSmartPointer<vtkCallbackCommand>::New();
    stop->SetCallback([](vtkObject* caller, unsigned long, void*, void*) {
      static_cast<vtkRenderWindowInteractor*>(caller)->TerminateApp();
    });
    interactor->RemoveObservers(vtkCommand::StartEvent);
    interactor->AddObserver(vtkCommand::TimerEvent, stop);
    interactor->CreateOneShotTimer(1);
    interactor->Start();
  }
}

void run_event_loop(SceneObjects& scene, bool was_initialized_before_render) {
  vtkRenderWindowInteractor* interactor = scene.render_window_interactor;
  if (was_initialized_before_render && !scene.interactor_listed) {
    interactor->ReInitialize();  // an earlier loop ended and took it out of the list
  }
  scene.interactor_listed = true;
  // With a StartEvent observer the stock interactor hands the loop to that observer and returns
  // at once, so the interactor stays listed.
  const bool loop_runs = !interactor->HasObserver(vtkCommand::StartEvent);
  interactor->Start();
  if (loop_runs) scene.interactor_listed = false;
}

}  // namespace sceneview_core
