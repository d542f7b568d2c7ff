# Third-party code comes from Debian's packages, installed by scripts/setup.sh.

set(QV_DEPS_DIR "$ENV{HOME}/.cache/quorvane-deps" CACHE PATH
    "Where scripts/setup.sh puts the libraries it builds for the target")
if(DEFINED ENV{QV_DEPS_DIR})
  set(QV_DEPS_DIR "$ENV{QV_DEPS_DIR}" CACHE PATH "" FORCE)
endif()

# Only the nlohmann/ and boost/ header folders of the host are visible to the
# build, never the whole of /usr/include (which would shadow the target's headers).
set(QV_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
foreach(dir nlohmann boost)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup.sh")
  endif()
  if(NOT EXISTS ${QV_HOST_HEADERS}/${dir})
    file(MAKE_DIRECTORY ${QV_HOST_HEADERS})
    file(CREATE_LINK /usr/include/${dir} ${QV_HOST_HEADERS}/${dir} SYMBOLIC)
  endif()
endforeach()
add_library(qv_third_party_headers INTERFACE)
target_include_directories(qv_third_party_headers SYSTEM INTERFACE ${QV_HOST_HEADERS})

# mbed TLS: built for MinGW into the deps cache; the host's libmbedtls-dev natively.
if(WIN32)
  set(_mbed_root ${QV_DEPS_DIR}/mingw64)
  set(QV_MBEDCRYPTO_LIB ${_mbed_root}/lib/libmbedcrypto.a)
  set(QV_MBEDTLS_INCLUDE ${_mbed_root}/include)
  if(NOT EXISTS ${QV_MBEDCRYPTO_LIB} OR NOT EXISTS ${QV_MBEDTLS_INCLUDE}/mbedtls/aes.h)
    message(FATAL_ERROR "mbed TLS for the target is missing in ${_mbed_root}: run scripts/setup.sh")
  endif()
  add_library(qv_mbedcrypto STATIC IMPORTED GLOBAL)
  set_target_properties(qv_mbedcrypto PROPERTIES IMPORTED_LOCATION ${QV_MBEDCRYPTO_LIB})
  target_include_directories(qv_mbedcrypto SYSTEM INTERFACE ${QV_MBEDTLS_INCLUDE})
  # The entropy collector uses the Windows crypto provider.
  target_link_libraries(qv_mbedcrypto INTERFACE advapi32 bcrypt)
else()
  find_library(QV_MBEDCRYPTO_LIB NAMES mbedcrypto REQUIRED)
  find_path(QV_MBEDTLS_INCLUDE mbedtls/aes.h REQUIRED)
  add_library(qv_mbedcrypto UNKNOWN IMPORTED GLOBAL)
  set_target_properties(qv_mbedcrypto PROPERTIES IMPORTED_LOCATION ${QV_MBEDCRYPTO_LIB})
  target_include_directories(qv_mbedcrypto SYSTEM INTERFACE ${QV_MBEDTLS_INCLUDE})
endif()

# GoogleTest: the sources Debian ships, built for whatever this build targets.
if(QV_BUILD_TESTS)
  set(QV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${QV_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "${QV_GOOGLETEST_SOURCE} is missing: run scripts/setup.sh")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  if(WIN32)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  endif()
  add_subdirectory(${QV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# Build steps and test drivers use Debian's Python (python3-yaml is installed for it).
if(EXISTS /usr/bin/python3 AND NOT DEFINED Python3_EXECUTABLE)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Python used by the build and the tests")
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)
