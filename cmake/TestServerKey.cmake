# The test build talks to a local server whose key is made here, once per
# build tree: the pinned key, and a second one the updater must refuse.

find_program(OPENSSL_PROGRAM openssl REQUIRED)
set(NIRVA_TEST_PORT 47443 CACHE STRING "Loopback port of the test update server")
set(NIRVA_TEST_KEY_DIR ${CMAKE_BINARY_DIR}/test-keys)
file(MAKE_DIRECTORY ${NIRVA_TEST_KEY_DIR})

foreach(name pinned wrong)
  if(NOT EXISTS ${NIRVA_TEST_KEY_DIR}/${name}.crt)
    execute_process(
      COMMAND ${OPENSSL_PROGRAM} req -x509 -newkey rsa:2048 -nodes -days 3650
              -subj "/CN=nirva-test-${name}" -keyout ${name}.key -out ${name}.crt
      WORKING_DIRECTORY ${NIRVA_TEST_KEY_DIR}
      RESULT_VARIABLE openssl_result OUTPUT_QUIET ERROR_QUIET)
    if(NOT openssl_result EQUAL 0)
      message(FATAL_ERROR "openssl could not make the ${name} test key")
    endif()
  endif()
endforeach()

execute_process(
  COMMAND ${OPENSSL_PROGRAM} x509 -in pinned.crt -pubkey -noout
  COMMAND ${OPENSSL_PROGRAM} pkey -pubin -outform der
  COMMAND ${OPENSSL_PROGRAM} dgst -sha256 -r
  WORKING_DIRECTORY ${NIRVA_TEST_KEY_DIR}
  OUTPUT_VARIABLE pinned_digest RESULT_VARIABLE openssl_result)
if(NOT openssl_result EQUAL 0)
  message(FATAL_ERROR "openssl could not hash the pinned test key")
endif()
string(SUBSTRING "${pinned_digest}" 0 64 NIRVA_PINNED_KEY_SHA256)

set(NIRVA_UPDATE_HOST 127.0.0.1)
set(NIRVA_UPDATE_PORT ${NIRVA_TEST_PORT})
