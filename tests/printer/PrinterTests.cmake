# The printer application's server suite drives the built qvprinter with
# CUPS's ipptool, a loopback cupsd and chromium; it compares pages with the
# CUPS suite's Ghostscript harness.
if(TARGET printer_tests_slow)
  target_sources(printer_tests_slow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/cups/cups_harness.cc)
  target_compile_definitions(printer_tests_slow PRIVATE
    QVPRINTER_PATH="$<TARGET_FILE:qvprinter>"
    QV_PRINTER_TEST_DIR="${CMAKE_CURRENT_SOURCE_DIR}/printer"
    QV_HAVE_DECODERS=1
    QVCUPSFILTER_PATH="$<TARGET_FILE:qvcupsfilter>"
    QV_PPD_DIR="${QV_PPD_DIR}")
  add_dependencies(printer_tests_slow qvprinter qvinspect)
endif()
