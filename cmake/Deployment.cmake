# Bakes the deployment's server, port and key pin into the program. There is
# no default key: a build that pinned nothing would trust no server at all.

if(NIRVA_UPDATE_HOST STREQUAL "")
  message(FATAL_ERROR
    "NIRVA_UPDATE_HOST is not set. Configure with -DNIRVA_UPDATE_HOST=<update server host name>.")
endif()

if(NOT NIRVA_UPDATE_PORT MATCHES "^[0-9]+$" OR NIRVA_UPDATE_PORT LESS 1 OR NIRVA_UPDATE_PORT GREATER 65535)
  message(FATAL_ERROR "NIRVA_UPDATE_PORT must be a TCP port number (1-65535), not '${NIRVA_UPDATE_PORT}'.")
endif()

if(NOT NIRVA_PINNED_KEY_SHA256 MATCHES "^[0-9a-fA-F]+$")
  message(FATAL_ERROR
    "NIRVA_PINNED_KEY_SHA256 is not set: the updater trusts only the server key it pins.\n"
    "Compute it from the server's certificate with\n"
    "  scripts/pin.sh server.crt\n"
    "or\n"
    "  openssl x509 -in server.crt -pubkey -noout | openssl pkey -pubin -outform der | sha256sum\n"
    "and configure with -DNIRVA_PINNED_KEY_SHA256=<the 64 hexadecimal digits>.")
endif()
string(LENGTH "${NIRVA_PINNED_KEY_SHA256}" pin_length)
if(NOT pin_length EQUAL 64)
  message(FATAL_ERROR
    "NIRVA_PINNED_KEY_SHA256 must be 64 hexadecimal digits (a SHA-256 digest), not ${pin_length}.")
endif()

string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1," pin_bytes "${NIRVA_PINNED_KEY_SHA256}")
string(REGEX REPLACE ",$" "" NIRVA_PINNED_KEY_BYTES "${pin_bytes}")

set(NIRVA_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/src/net/deployment.h.in ${NIRVA_GENERATED_DIR}/net/deployment.h @ONLY)
message(STATUS "Update server: ${NIRVA_UPDATE_HOST}:${NIRVA_UPDATE_PORT}, pinned key ${NIRVA_PINNED_KEY_SHA256}")
