// Points a mapping could not give a value (their "vtkValidPointMask" entry is 0) keep the value 0
// in the data, indistinguishable from a mapped 0 when coloured. For display they are turned into
// NaN, which the lookup table draws in its NaN colour and which stays out of the colour range.
#pragma once

#include <vtkDataObject.h>
#include <vtkSmartPointer.h>

#include <string>

namespace sceneview_core {

inline constexpr char kValidMaskArray[] = "vtkValidPointMask";

// `data` (a dataset or a multiblock) as it is to be shown coloured by the point field
// `field_name`: leaves whose mask has zeros are replaced by shallow copies whose field is NaN
// there. Returns `data` itself when no leaf needs that; the caller's datasets are never changed.
vtkSmartPointer<vtkDataObject> with_unmapped_as_nan(vtkDataObject* data,
                                                    const std::string& field_name);

}  // namespace sceneview_core
