# The test build talks to a local server whose keys are made here, once per
# build tree. The deployment's keys are the release tool's, made as a vendor
# makes them (nirva_release.py keys), and the build takes its pins and
# release keys from the cmake line that command prints: the pinned key, the
# backup key the updater also trusts, the release key and its backup. Made
# apart: a key the updater must refuse, the backup key of the next updater
# in the rotation drill and the release key after the backup.

find_program(OPENSSL_PROGRAM openssl REQUIRED)
set(NIRVA_TEST_PORT 47443 CACHE STRING "Loopback port of the test update server")
set(NIRVA_TEST_KEY_DIR ${CMAKE_BINARY_DIR}/test-keys)
file(MAKE_DIRECTORY ${NIRVA_TEST_KEY_DIR})

# What the keys command printed, kept for every later configuration.
set(deployment_keys ${NIRVA_TEST_KEY_DIR}/deployment)
set(printed ${NIRVA_TEST_KEY_DIR}/deployment-keys.txt)
if(EXISTS ${printed})
  file(STRINGS ${printed} build_line REGEX "^cmake --preset release ")
endif()
if(NOT build_line MATCHES " -DNIRVA_UPDATE_HOST=127\\.0\\.0\\.1 -DNIRVA_UPDATE_PORT=${NIRVA_TEST_PORT} ")
  file(REMOVE_RECURSE ${deployment_keys})
  execute_process(
    COMMAND ${NIRVA_PYTHON} ${CMAKE_SOURCE_DIR}/tools/release/nirva_release.py keys ${deployment_keys}
            --host 127.0.0.1 --port ${NIRVA_TEST_PORT}
    OUTPUT_FILE ${printed}.part COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME ${printed}.part ${printed})
  file(STRINGS ${printed} build_line REGEX "^cmake --preset release ")
endif()
foreach(option NIRVA_PINNED_KEY_SHA256 NIRVA_BACKUP_PIN_SHA256 NIRVA_RELEASE_PUBLIC_KEY
               NIRVA_RELEASE_BACKUP_PUBLIC_KEY)
  if(NOT build_line MATCHES " -D${option}=([0-9a-f]+)")
    message(FATAL_ERROR "${printed} gives no ${option}")
  endif()
  set(printed_${option} ${CMAKE_MATCH_1})
endforeach()
set(NIRVA_PINNED_KEY_SHA256 ${printed_NIRVA_PINNED_KEY_SHA256})
set(NIRVA_BACKUP_PIN_SHA256 ${printed_NIRVA_BACKUP_PIN_SHA256})
set(NIRVA_TEST_RELEASE_KEY ${printed_NIRVA_RELEASE_PUBLIC_KEY})
set(NIRVA_TEST_RELEASE_BACKUP_KEY ${printed_NIRVA_RELEASE_BACKUP_PUBLIC_KEY})
# The tests name them as the updater sees them.
foreach(link pinned.key:server.key pinned.crt:server.crt backup.key:backup.key backup.crt:backup.crt
             release.pem:release.pem release-backup.pem:release-backup.pem)
  string(REPLACE ":" ";" link ${link})
  list(GET link 0 name)
  list(GET link 1 file)
  file(REMOVE ${NIRVA_TEST_KEY_DIR}/${name})
  file(CREATE_LINK deployment/${file} ${NIRVA_TEST_KEY_DIR}/${name} SYMBOLIC)
endforeach()

# nirva_test_key(<name> <variable>): makes the key and its certificate if
# missing and sets the variable to the key's pin.
function(nirva_test_key name out)
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
  execute_process(
    COMMAND ${OPENSSL_PROGRAM} x509 -in ${name}.crt -pubkey -noout
    COMMAND ${OPENSSL_PROGRAM} pkey -pubin -outform der
    COMMAND ${OPENSSL_PROGRAM} dgst -sha256 -r
    WORKING_DIRECTORY ${NIRVA_TEST_KEY_DIR}
    OUTPUT_VARIABLE digest RESULT_VARIABLE openssl_result)
  if(NOT openssl_result EQUAL 0)
    message(FATAL_ERROR "openssl could not hash the ${name} test key")
  endif()
  string(SUBSTRING "${digest}" 0 64 digest)
  set(${out} ${digest} PARENT_SCOPE)
endfunction()

nirva_test_key(next-backup NIRVA_TEST_NEXT_BACKUP_PIN)
nirva_test_key(wrong NIRVA_TEST_WRONG_PIN)

# nirva_test_release_key(<name> <variable>): makes an ECDSA P-256 release key
# if missing and sets the variable to its public key, as the release tool prints it.
function(nirva_test_release_key name out)
  if(NOT EXISTS ${NIRVA_TEST_KEY_DIR}/${name}.pem)
    execute_process(
      COMMAND ${OPENSSL_PROGRAM} genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ${name}.pem
      WORKING_DIRECTORY ${NIRVA_TEST_KEY_DIR} COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
  endif()
  execute_process(
    COMMAND ${NIRVA_PYTHON} ${CMAKE_SOURCE_DIR}/tools/release/nirva_release.py
            --print-public-key ${NIRVA_TEST_KEY_DIR}/${name}.pem
    OUTPUT_VARIABLE public_key OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(${out} ${public_key} PARENT_SCOPE)
endfunction()

nirva_test_release_key(release-next NIRVA_TEST_RELEASE_NEXT_KEY)

set(NIRVA_UPDATE_HOST 127.0.0.1)
set(NIRVA_UPDATE_PORT ${NIRVA_TEST_PORT})
