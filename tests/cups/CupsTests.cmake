# The CUPS suites see the wrapper, the generated PPDs and geometry, and the
# build tree (for cpack); they use the deprecated-but-required PPD API.
foreach(exe IN ITEMS cups_tests cups_tests_slow)
  if(TARGET ${exe})
    target_compile_options(${exe} PRIVATE -Wno-deprecated-declarations)
    target_compile_definitions(${exe} PRIVATE
      QVCUPSFILTER_PATH="$<TARGET_FILE:qvcupsfilter>"
      QV_PPD_DIR="${QV_PPD_DIR}"
      QV_GEOMETRY_DIR="${QV_GEOMETRY_DIR}"
      QV_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}")
    add_dependencies(${exe} qvcupsfilter qv_ppds)
  endif()
endforeach()

# The slow suite's shared harness (not a test file of its own). The pixel
# comparison needs the job decoders; before they are built it is skipped.
if(TARGET cups_tests_slow)
  target_sources(cups_tests_slow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/cups/cups_harness.cc)
  get_target_property(decode_kind qvdecode TYPE)
  if(NOT decode_kind STREQUAL "INTERFACE_LIBRARY")
    target_compile_definitions(cups_tests_slow PRIVATE QV_HAVE_DECODERS=1)
  endif()
endif()
