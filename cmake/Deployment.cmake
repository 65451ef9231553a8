# Bakes a deployment's server, port and key pins into an executable. There is
# no default key: a build that pinned nothing would trust no server at all.

set(NIRVA_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)

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

# Hexadecimal digits as the initialiser of a byte array.
function(nirva_byte_initializer value out)
  string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1," bytes "${value}")
  string(REGEX REPLACE ",$" "" bytes "${bytes}")
  set(${out} "{${bytes}}" PARENT_SCOPE)
endfunction()

# A pin as a C++ array initialiser; a value that is not 64 hexadecimal digits
# stops the configuration, naming the option it came from.
function(nirva_pin_initializer option value out)
  string(LENGTH "${value}" length)
  if(NOT value MATCHES "^[0-9a-fA-F]+$" OR NOT length EQUAL 64)
    message(FATAL_ERROR
      "${option} must be 64 hexadecimal digits (a SHA-256 digest), not '${value}' (${length} characters).")
  endif()
  nirva_byte_initializer("${value}" bytes)
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

# A release public key as a C++ array initialiser; a value that is not 128
# hexadecimal digits naming a point on the P-256 curve stops the configuration.
function(nirva_release_key_initializer option value out)
  execute_process(COMMAND ${NIRVA_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/check_release_key.py "${value}"
                  RESULT_VARIABLE invalid ERROR_VARIABLE reason)
  if(invalid)
    message(FATAL_ERROR "${option} must be an ECDSA P-256 public key as 128 hexadecimal digits "
                        "(tools/release/nirva_release.py --print-public-key KEY.pem): ${reason}")
  endif()
  nirva_byte_initializer("${value}" bytes)
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

# nirva_add_deployment(<target> [HOST <name>] PIN <hex> [BACKUP_PIN <hex>]
#                      [RELEASE_KEY <hex> [RELEASE_BACKUP_KEY <hex>]])
# An object library with the constants of one deployment, for one executable:
# the configured server (or another host name on its port), the pins, and the
# release keys when there are any.
function(nirva_add_deployment target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "HOST;PIN;BACKUP_PIN;RELEASE_KEY;RELEASE_BACKUP_KEY" "")
  if(NOT "${arg_HOST}" STREQUAL "")
    set(NIRVA_UPDATE_HOST ${arg_HOST})
  endif()
  nirva_pin_initializer(NIRVA_PINNED_KEY_SHA256 "${arg_PIN}" pins)
  if(NOT "${arg_BACKUP_PIN}" STREQUAL "")
    nirva_pin_initializer(NIRVA_BACKUP_PIN_SHA256 "${arg_BACKUP_PIN}" backup)
    string(APPEND pins ", ${backup}")
  endif()
  set(NIRVA_PIN_INITIALIZERS "${pins}")
  set(release_keys "")
  if(NOT "${arg_RELEASE_KEY}" STREQUAL "")
    nirva_release_key_initializer(NIRVA_RELEASE_PUBLIC_KEY "${arg_RELEASE_KEY}" release_keys)
  elseif(NOT "${arg_RELEASE_BACKUP_KEY}" STREQUAL "")
    message(FATAL_ERROR "NIRVA_RELEASE_BACKUP_PUBLIC_KEY needs NIRVA_RELEASE_PUBLIC_KEY.")
  endif()
  if(NOT "${arg_RELEASE_BACKUP_KEY}" STREQUAL "")
    nirva_release_key_initializer(NIRVA_RELEASE_BACKUP_PUBLIC_KEY "${arg_RELEASE_BACKUP_KEY}" backup)
    string(APPEND release_keys ", ${backup}")
  endif()
  # C++ has no empty arrays: without a release key the span stays empty.
  if(release_keys STREQUAL "")
    set(NIRVA_RELEASE_KEYS_ARRAY "")
    set(NIRVA_RELEASE_KEYS_SPAN "")
  else()
    set(NIRVA_RELEASE_KEYS_ARRAY "constexpr ReleasePublicKey kReleaseKeys[] = {${release_keys}};\n")
    set(NIRVA_RELEASE_KEYS_SPAN "(kReleaseKeys)")
  endif()
  set(source ${NIRVA_GENERATED_DIR}/deployment/${target}.cpp)
  configure_file(${CMAKE_SOURCE_DIR}/src/net/deployment.cpp.in ${source} @ONLY)
  add_library(${target} OBJECT ${source})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  message(STATUS "${target}: ${NIRVA_UPDATE_HOST}:${NIRVA_UPDATE_PORT}, pins ${arg_PIN} ${arg_BACKUP_PIN}, "
                 "release keys ${arg_RELEASE_KEY} ${arg_RELEASE_BACKUP_KEY}")
endfunction()
