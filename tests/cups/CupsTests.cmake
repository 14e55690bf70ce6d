# The CUPS suites see the wrapper, the filters, the inspector, the generated
# PPDs and geometry, and the build tree (for cpack); they use the PPD API,
# deprecated in libcups but what a PPD driver reads.
foreach(exe IN ITEMS cups_tests cups_tests_slow)
  target_compile_options(${exe} PRIVATE -Wno-deprecated-declarations)
  target_compile_definitions(${exe} PRIVATE
    QVCUPSFILTER_PATH="$<TARGET_FILE:qvcupsfilter>"
    QV_PPD_DIR="${QV_PPD_DIR}"
    QV_GEOMETRY_DIR="${QV_GEOMETRY_DIR}"
    QV_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}")
  add_dependencies(${exe} qvcupsfilter qv_ppds)
endforeach()
target_sources(cups_tests_slow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/cups/cups_harness.cc)
