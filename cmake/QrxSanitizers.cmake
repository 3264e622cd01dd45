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
