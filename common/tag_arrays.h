// Names of the arrays every converted body carries, and small helpers that add them.
#pragma once

#include <vtkDataObject.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkSmartPointer.h>
#include <vtkStringArray.h>

#include <string>

namespace kelm {

inline constexpr char kNodeIdArray[] = "Node ID";               // point data, unsigned int
inline constexpr char kElementIdArray[] = "Element ID";         // cell data, unsigned int
inline constexpr char kMeshTypeArray[] = "mesh_type";           // field data, string
inline constexpr char kMeshOrderArray[] = "mesh_order";         // field data, string
inline constexpr char kColorArray[] = "color";                  // field data, 3 floats in [0, 1]
inline constexpr char kBodyPathArray[] = "Body pathName";       // field data, string
inline constexpr char kUnitLabelArray[] = "unit_system_label";  // field data, string

// Adds (or replaces) a one-value string array in the field data of `object`.
inline void add_string_field(vtkDataObject* object, const char* name, const std::string& value) {
  auto array = vtkSmartPointer<vtkStringArray>::New();
  array->SetName(name);
  array->InsertNextValue(value);
  object->GetFieldData()->AddArray(array);
}

// Adds the one-tuple "color" array: the host colour (0-255 per component) divided by 255.
inline void add_color_field(vtkDataObject* object, const double rgb_0_255[3]) {
  auto array = vtkSmartPointer<vtkFloatArray>::New();
  array->SetName(kColorArray);
  array->SetNumberOfComponents(3);
  float rgb[3];
  for (int i = 0; i < 3; ++i) rgb[i] = static_cast<float>(rgb_0_255[i] / 255.0);
  array->InsertNextTypedTuple(rgb);
  object->GetFieldData()->AddArray(array);
}

// Value 0 of the string field array `name`, or nullptr when `object` has no such array.
inline const std::string* string_field(vtkDataObject* object, const char* name) {
  if (!object || !object->GetFieldData()) return nullptr;
  auto* array = vtkStringArray::SafeDownCast(object->GetFieldData()->GetAbstractArray(name));
  if (!array || array->GetNumberOfValues() < 1) return nullptr;
  return &array->GetValue(0);
}

}  // namespace kelm
