# add_module(<name> [VTK <components...>] [LINKS <targets...>] [DISPLAY])
#
# Called from a module folder: builds <name>_core (a static library of every .cpp in the folder
# except bind.cpp), the Python extension <name> from bind.cpp into build/lib, a GoogleTest binary
# from tests/test_*.cpp if there are any, and a pytest run of tests/test_<name>.py. DISPLAY runs the
# pytest under xvfb-run for modules that open windows. `cmake --install` puts the extension into
# <prefix>/modules, the folder a host adds to its script path.
function(add_module name)
  cmake_parse_arguments(ARG "DISPLAY" "" "VTK;LINKS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})

  file(GLOB core_sources ${dir}/*.cpp)
  list(REMOVE_ITEM core_sources ${dir}/bind.cpp)
  add_library(${name}_core STATIC ${core_sources})
  # A module's own folder is private to it: another module names a header by its path
  # ("fieldferry/export_file.h", from the source root that common_core puts on the path).
  target_include_directories(${name}_core PRIVATE ${dir})
  target_link_libraries(${name}_core PUBLIC common_core ${ARG_VTK} ${ARG_LINKS})

  pybind11_add_module(${name} NO_EXTRAS ${dir}/bind.cpp)
  target_include_directories(${name} PRIVATE ${dir})
  target_link_libraries(${name} PRIVATE ${name}_core common_bind)
  set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${KELM_LIB_DIR})
  install(TARGETS ${name} LIBRARY DESTINATION modules)

  file(GLOB gtest_sources ${dir}/tests/test_*.cpp)
  if(gtest_sources)
    add_executable(${name}_gtest ${gtest_sources})
    target_include_directories(${name}_gtest PRIVATE ${dir})
    target_link_libraries(${name}_gtest PRIVATE ${name}_core GTest::gtest_main)
    add_test(NAME ${name}_gtest COMMAND ${name}_gtest)
  endif()

  if(EXISTS ${dir}/tests/test_${name}.py)
    set(runner)
    if(ARG_DISPLAY)
      set(runner ${KELM_XVFB_RUN} -a)
    endif()
    add_test(NAME ${name}_pytest
      COMMAND ${runner} ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${dir}/tests)
    set_tests_properties(${name}_pytest PROPERTIES ENVIRONMENT "PYTHONPATH=${KELM_PYTHONPATH}")
  endif()
endfunction()
