#include "scene_objects.h"

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

}  // namespace sceneview_core
