// A half or a sector of a CFD model made whole: copies of the source mirrored in its symmetry
// plane or turned about its axis, merged with it, so that the whole structure is loaded. The
// copies are made in the source's own coordinates, before its lengths are scaled and it is moved.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <array>
#include <optional>

#include "source_stage.h"

namespace fieldferry_core {

using Vector3 = std::array<double, 3>;

// The plane through `centre` with normal `normal` (any length but 0) that the source is mirrored
// in.
struct MirrorPlane {
  Vector3 normal{};
  Vector3 centre{};
};

// `count` sectors of 360/count degrees each about the axis along `axis` through `centre`: the
// source is one of them, count - 1 copies are the others.
struct SectorCopies {
  int count = 1;
  Vector3 axis{};
  Vector3 centre{};
};

// The copies asked for: the mirror is made first, so a sector given by half (a symmetry plane
// inside a periodic sector) becomes a whole sector before it is turned round.
struct SourceCopies {
  std::optional<MirrorPlane> mirror;
  std::optional<SectorCopies> sector;
  bool any() const { return mirror || sector; }
  // How many copies come with the source: 1 for a mirror, count - 1 for a sector, both
  // multiplied when both are given.
  int count() const;
};

// The field-data array of the merged source holding how many copies it has (reports read it).
inline constexpr char kSourceCopiesArray[] = "Source copies";
// Without a tolerance, a face lies in the symmetry plane or on a sector's cut when all its points
// lie this share of the source's diagonal from it: a solver writes them there to its rounding.
inline constexpr double kCutReachShare = 1e-6;
// More sectors than this would be a mistake (a count given for an angle), not a model.
inline constexpr int kMostSectors = 3600;

// The reflection in `plane` and the turn by `degrees` about the sector's axis, as affine
// matrices.
Matrix4 mirror_matrix(const MirrorPlane& plane);
Matrix4 turn_matrix(const SectorCopies& sector, double degrees);

// `source` merged with its copies: `source` itself when none are asked for. Faces (2-D cells)
// lying in the symmetry plane or on a sector's cut (along it, within 25 degrees, and with all
// their points within `reach` of it; source units, none: kCutReachShare of the diagonal) are
// dropped first: they are where the fluid goes on into the copy, not walls. A sector's cut is
// the two planes through the axis that bound the source's points round it, when they span the
// sector (within 2 %). Polydata stays polydata, any other kind becomes an unstructured grid;
// point, cell and field data are kept ("Normals" turned with each copy), and the field data
// gains kSourceCopiesArray.
vtkSmartPointer<vtkDataSet> with_copies(vtkDataSet* source, const SourceCopies& copies,
                                        std::optional<double> reach);

}  // namespace fieldferry_core
