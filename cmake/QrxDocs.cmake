# The `docs` target: the API reference of the public headers and the guide
# (docs/guide.md) as HTML in <build>/docs/html, by Doxygen (Debian package
# doxygen). Any Doxygen warning fails the target.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(QRX_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${QRX_DOCS_OUTPUT}/Doxyfile @ONLY)
  add_custom_target(docs
    COMMAND ${DOXYGEN_EXECUTABLE} ${QRX_DOCS_OUTPUT}/Doxyfile
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "API reference and guide in ${QRX_DOCS_OUTPUT}/html"
    VERBATIM)
else()
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo "doxygen not found: install it (apt-get install doxygen) to build the docs"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()
