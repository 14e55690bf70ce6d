# The CUPS suites see the wrapper, the generated PPDs and geometry, and the
# build tree (for cpack); they use the deprecated-but-required PPD API.
foreach(exe IN ITEMS cups_tests cups_tests_slow)
  if(TARGET ${exe})
    target_compile_options(${exe} PRIVATE -Wno-deprecated-declarations)
    target_compile_definitions(${exe} PRIVATE
      QVCUPSFILTER_PATH="$<TARGET_FILE:qvcupsfilter>"
      QV_PPD_DIR="${QV_PPD_DIR}"
      QV_GEOMETRY_DIR="${QV_GEOMETRY_DIR}")
    add_dependencies(${exe} qvcupsfilter qv_ppds)
  endif()
endforeach()
