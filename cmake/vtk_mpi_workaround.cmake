# Debian's VTK is built with MPI, and its exported targets name MPI::MPI_C without finding MPI
# themselves; VTK's configuration then fails on the missing target. Finding MPI first supplies it.
# Guarded: a VTK built without MPI (or a project that found MPI already) is left alone, and a
# machine without MPI's development files still configures when its VTK does not need them.
if(NOT TARGET MPI::MPI_C)
  find_package(MPI QUIET COMPONENTS C)
endif()
