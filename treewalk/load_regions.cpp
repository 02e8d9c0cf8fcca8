#include "load_regions.h"

#include <vtkExtractBlock.h>

#include <unordered_set>

namespace treewalk_core {

vtkSmartPointer<vtkMultiBlockDataSet> extract_blocks(vtkMultiBlockDataSet* model,
                                                     const std::vector<unsigned>& flat_indices) {
  auto extract = vtkSmartPointer<vtkExtractBlock>::New();
  extract->SetInputData(model);
  for (unsigned index : flat_indices) extract->AddIndex(index);
  extract->Update();
  return vtkMultiBlockDataSet::SafeDownCast(extract->GetOutputDataObject(0));
}

std::vector<unsigned> retained_blocks(const std::vector<unsigned>& all,
                                      const std::vector<unsigned>& omitted) {
  const std::unordered_set<unsigned> skip(omitted.begin(), omitted.end());
  std::vector<unsigned> kept;
  for (unsigned index : all) {
    if (!skip.count(index)) kept.push_back(index);
  }
  return kept;
}

}  // namespace treewalk_core
