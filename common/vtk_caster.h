// The one pybind11 type caster between VTK's own Python objects and C++ VTK pointers.
//
// Arguments: any VTK Python object whose C++ object is a T (checked with SafeDownCast) converts to
// T* or vtkSmartPointer<T>; anything else is not a match (pybind11 then raises TypeError).
// Results: T* / vtkSmartPointer<T> become VTK's own Python objects (vtkmodules classes), so a host
// script can hand them to VTK or to another module. VTK 9.1 returns None for a class whose Python
// module has not been imported; every module imports its vtkmodules at init (bind_support.h) and
// the caster raises rather than hand out None for a real object.
#pragma once

#include <pybind11/pybind11.h>
#include <vtkObjectBase.h>
#include <vtkPythonUtil.h>
#include <vtkSmartPointer.h>

#include <type_traits>

namespace kelm::bind {

template <typename T>
T* vtk_pointer_from_python(pybind11::handle src) {
  if (!src || src.is_none()) return nullptr;
  vtkObjectBase* base = vtkPythonUtil::GetPointerFromObject(src.ptr(), "vtkObjectBase");
  if (!base) {
    PyErr_Clear();  // not a VTK object: let pybind11 report the mismatch
    return nullptr;
  }
  return T::SafeDownCast(base);
}

inline pybind11::handle vtk_object_to_python(vtkObjectBase* object) {
  if (!object) return pybind11::none().release();
  PyObject* result = vtkPythonUtil::GetObjectFromPointer(object);
  if (!result) throw pybind11::error_already_set();
  if (result == Py_None) {
    Py_DECREF(result);
    throw std::runtime_error(std::string("VTK has no Python class loaded for ") +
                             object->GetClassName() + "; import its vtkmodules module first");
  }
  return result;
}

}  // namespace kelm::bind

namespace pybind11::detail {

template <typename T>
class type_caster<T, enable_if_t<std::is_base_of<vtkObjectBase, T>::value>> {
 public:
  static constexpr auto name = const_name("vtkObject");
  template <typename U>
  using cast_op_type = pybind11::detail::cast_op_type<U>;

  bool load(handle src, bool) {
    pointer_ = kelm::bind::vtk_pointer_from_python<T>(src);
    return pointer_ != nullptr;
  }
  operator T*() { return pointer_; }
  operator T&() { return *pointer_; }

  static handle cast(const T* src, return_value_policy, handle) {
    return kelm::bind::vtk_object_to_python(const_cast<T*>(src));
  }
  static handle cast(const T& src, return_value_policy policy, handle parent) {
    return cast(&src, policy, parent);
  }

 private:
  T* pointer_ = nullptr;
};

template <typename T>
class type_caster<vtkSmartPointer<T>> {
 public:
  PYBIND11_TYPE_CASTER(vtkSmartPointer<T>, const_name("vtkObject"));

  bool load(handle src, bool) {
    T* pointer = kelm::bind::vtk_pointer_from_python<T>(src);
    if (!pointer) return false;
    value = pointer;
    return true;
  }
  static handle cast(const vtkSmartPointer<T>& src, return_value_policy, handle) {
    return kelm::bind::vtk_object_to_python(src.GetPointer());
  }
};

}  // namespace pybind11::detail
