# Every dependency is a Debian 12 package installed by scripts/setup.sh.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUV REQUIRED IMPORTED_TARGET libuv)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
find_package(fmt REQUIRED)
# The WSC exchange of onboarding: Diffie-Hellman, HMAC-SHA-256, AES-128-CBC, random.
find_package(OpenSSL 3.0 REQUIRED)
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h REQUIRED)
find_path(HTTP_PARSER_INCLUDE_DIR http_parser.h REQUIRED)
# A cross build links the target's runtime library by its versioned name: Debian's
# libhttp-parser-dev cannot be installed for two architectures at once.
find_library(HTTP_PARSER_LIBRARY NAMES http_parser libhttp_parser.so.2.9 REQUIRED)
add_library(ozr_http_parser INTERFACE)
target_include_directories(ozr_http_parser INTERFACE ${HTTP_PARSER_INCLUDE_DIR})
target_link_libraries(ozr_http_parser INTERFACE ${HTTP_PARSER_LIBRARY})
if(OZR_TESTS)
  find_package(GTest REQUIRED)
endif()
if(OZR_BENCH)
  find_package(benchmark QUIET)
endif()
