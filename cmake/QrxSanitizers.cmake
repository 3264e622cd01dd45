# QRX_SANITIZE=address,undefined or QRX_SANITIZE=thread instruments every
# target of the build (the bundled runtime included, so that its threads are seen).
if(QRX_SANITIZE)
  if(NOT QRX_SANITIZE MATCHES "^(address,undefined|undefined,address|address|undefined|thread)$")
    message(FATAL_ERROR "QRX_SANITIZE must be 'address,undefined' or 'thread', not '${QRX_SANITIZE}'")
  endif()
  message(STATUS "qrx: sanitizers: ${QRX_SANITIZE}")
  add_compile_options(-fsanitize=${QRX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QRX_SANITIZE})
endif()

# Sanitizer options for every test: a file that ctest includes before it runs
# any (TEST_INCLUDE_FILES of the top folder) prepends them to its own
# environment, which every test inherits, so that suites, the soak program
# and the consumer build alike get them. ThreadSanitizer reads the
# suppressions of the uninstrumented system TBB's internals (tests/tsan.supp)
# and stops at the first report that remains; impossible allocations, which
# several suites make on purpose to check that they fail with a status or an
# exception, come back as null as they would without the sanitizer. The
# suppressions often match the earlier of a report's two accesses (TBB's
# workers counting down a loop's wait node on the caller's stack, which the
# caller's later frames reuse), so ThreadSanitizer keeps the longest history
# of accesses it can: with the default one it may no longer name that access,
# and the report would stand. Options already in the environment, or added by
# a suite, come after and prevail.
if(QRX_SANITIZE STREQUAL "thread")
  set(_qrx_tsan_options "suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp:halt_on_error=1:allocator_may_return_null=1:history_size=7")
  file(WRITE ${PROJECT_BINARY_DIR}/qrx_sanitizer_environment.cmake
       "set(ENV{TSAN_OPTIONS} \"${_qrx_tsan_options}:\$ENV{TSAN_OPTIONS}\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${PROJECT_BINARY_DIR}/qrx_sanitizer_environment.cmake)
endif()
