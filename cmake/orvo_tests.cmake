# What every test program finds in its environment: the build and source
# folders, the built provider, and that cmake/wine-run checks its end line.
set(ORVO_TEST_ENVIRONMENT "ORVO_BUILD_DIR=${CMAKE_BINARY_DIR};ORVO_SOURCE_DIR=${CMAKE_SOURCE_DIR};ORVO_TSP_PATH=${CMAKE_BINARY_DIR}/ORVOTSP.TSP;ORVO_REQUIRE_END_LINE=1")

# orvo_add_test(<source> <kind> <libs...>): one GoogleTest executable run by
# CTest under Wine, labelled with its kind. Tests that change machine-wide
# state of the prefix (registry, shared sections, ProgramData) declare it with
# a "// ctest-lock: <name>" line in their source and then never run at once.
function(orvo_add_test src kind)
  get_filename_component(name ${src} NAME_WE)
  set(target ${kind}_${name})
  add_executable(${target} ${src})
  target_link_libraries(${target} PRIVATE ${ARGN} gtest)
  target_link_options(${target} PRIVATE ${ORVO_STATIC_LINK_OPTIONS})
  add_dependencies(${target} orvotsp)
  add_test(NAME ${kind}.${name} COMMAND ${target})
  set_tests_properties(${kind}.${name} PROPERTIES
    LABELS ${kind}
    TIMEOUT 300
    ENVIRONMENT "${ORVO_TEST_ENVIRONMENT}")
  file(STRINGS ${src} lock_lines REGEX "^// ctest-lock: ")
  foreach(line IN LISTS lock_lines)
    string(REPLACE "// ctest-lock: " "" lock ${line})
    set_property(TEST ${kind}.${name} APPEND PROPERTY RESOURCE_LOCK ${lock})
  endforeach()
  # Tests that take turns start early, beside the long ones: queued behind
  # each other at the end, they would be the run's last seconds on their own.
  if(lock_lines)
    set_property(TEST ${kind}.${name} PROPERTY COST 15)
  endif()
endfunction()
