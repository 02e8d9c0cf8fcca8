// Every long-lived VTK object of the viewer, created once by the constructor. The display
// pipelines, the background, the triad and the window all reconfigure these same objects, so the
// last configuration wins and a host script can reach and tweak each of them by name.
#pragma once

#include <vtkActor.h>
#include <vtkAxesActor.h>
#include <vtkCommand.h>
#include <vtkCompositeDataDisplayAttributes.h>
#include <vtkCompositePolyDataMapper2.h>
#include <vtkFeatureEdges.h>
#include <vtkGeometryFilter.h>
#include <vtkImageActor.h>
#include <vtkImageData.h>
#include <vtkLookupTable.h>
#include <vtkMapper.h>
#include <vtkOrientationMarkerWidget.h>
#include <vtkPolyDataMapper.h>
#include <vtkPolyDataNormals.h>
#include <vtkRenderWindow.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderedAreaPicker.h>
#include <vtkRenderer.h>
#include <vtkScalarBarActor.h>
#include <vtkScalarBarWidget.h>
#include <vtkSmartPointer.h>
#include <vtkUnstructuredGridGeometryFilter.h>
#include <vtkVertexGlyphFilter.h>

namespace sceneview_core {

inline constexpr char kWindowName[] = "Kelm spatial load viewer";
inline constexpr int kWindowWidth = 640;
inline constexpr int kWindowHeight = 480;

struct SceneObjects {
  SceneObjects();
  ~SceneObjects();
  SceneObjects(const SceneObjects&) = delete;
  SceneObjects& operator=(const SceneObjects&) = delete;

  // Point-cloud pipeline.
  vtkSmartPointer<vtkVertexGlyphFilter> vertexFilter;
  vtkSmartPointer<vtkPolyDataMapper> point_mapper;
  vtkSmartPointer<vtkActor> point_actor;
  // Field pipeline (multiblock or single surface).
  vtkSmartPointer<vtkGeometryFilter> face_poly_filter;
  vtkSmartPointer<vtkPolyDataNormals> faces_normals_generator;
  vtkSmartPointer<vtkFeatureEdges> feature_edge_filter;
  vtkSmartPointer<vtkMapper> face_mapper;  // composite mapper, or a vtkDataSetMapper for a surface
  vtkSmartPointer<vtkCompositePolyDataMapper2> feature_edge_mapper;
  vtkSmartPointer<vtkActor> face_actor;
  vtkSmartPointer<vtkActor> feature_edge_actor;
  vtkSmartPointer<vtkLookupTable> lut;
  // Dots on the points of the shown field that the mapping gave no value (unmapped_points.h).
  vtkSmartPointer<vtkPolyDataMapper> unmapped_points_mapper;
  vtkSmartPointer<vtkActor> unmapped_points_actor;
  // Plain-model pipeline, in block colours.
  vtkSmartPointer<vtkUnstructuredGridGeometryFilter> face_filter_nofield;
  vtkSmartPointer<vtkGeometryFilter> face_poly_filter_nofield;
  vtkSmartPointer<vtkPolyDataNormals> faces_normals_generator_nofield;
  vtkSmartPointer<vtkFeatureEdges> feature_edge_filter_nofield;
  vtkSmartPointer<vtkCompositePolyDataMapper2> face_mapper_nofield;
  vtkSmartPointer<vtkCompositePolyDataMapper2> feature_edge_mapper_nofield;
  vtkSmartPointer<vtkActor> face_actor_nofield;
  vtkSmartPointer<vtkActor> feature_edge_actor_nofield;
  // Scalar bar, triad, background.
  vtkSmartPointer<vtkScalarBarWidget> scalar_bar_widget;
  vtkSmartPointer<vtkScalarBarActor> scalar_bar_actor;
  vtkSmartPointer<vtkOrientationMarkerWidget> triad_orientation_widget;
  vtkSmartPointer<vtkAxesActor> triad_actor;
  vtkSmartPointer<vtkImageActor> imageActor;
  vtkSmartPointer<vtkImageData> background_image_data;  // null until the picture is read
  // Renderers, window, interaction.
  vtkSmartPointer<vtkRenderer> scene_renderer;
  vtkSmartPointer<vtkRenderer> backgroundRenderer;
  vtkSmartPointer<vtkRenderWindow> render_window;
  vtkSmartPointer<vtkRenderWindowInteractor> render_window_interactor;
  vtkSmartPointer<vtkRenderedAreaPicker> area_picker;
  // Display attributes of the field pipeline; null until that pipeline is built.
  vtkSmartPointer<vtkCompositeDataDisplayAttributes> cdsa;

  // The off-screen window of render_offscreen, made at its first call and kept: a window (and its
  // GL context) made and destroyed at every picture costs a new context each time, and VTK 9.1
  // with Mesa does not give all of a destroyed context's memory back.
  vtkSmartPointer<vtkRenderWindow> offscreen_window;

  // The key observer on the interactor and the interactor it was added to, so that assembling
  // the scene again does not add a second one.
  vtkSmartPointer<vtkCommand> key_command;
  vtkRenderWindowInteractor* key_observed = nullptr;
  unsigned long key_observer_tag = 0;

  // VTK 9.1's X interactor enters a process-wide list of live interactors when it is initialized
  // (the window's first render does that) and leaves it only when its event loop ends; its
  // destructor does not remove it, so a later event loop of any window would read freed memory.
  // True while the interactor may be in that list; the destructor then takes it out by running a
  // loop that ends at once. See run_event_loop and ~SceneObjects.
  bool interactor_listed = true;
};

// Runs the interactor's event loop until the window is closed, keeping track of the interactor's
// place in VTK's list of live interactors (a second loop needs it re-entered).
void run_event_loop(SceneObjects& scene, bool was_initialized_before_render);

}  // namespace sceneview_core
