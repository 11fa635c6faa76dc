# GoogleTest built with the same compiler and the same static runtime as the program (a
# shared-runtime GoogleTest does not link with MSVC), found in this order: a package (vcpkg's
# or Conan's, with a static-runtime triplet), a source tree (Debian's /usr/src/googletest),
# or a pinned release fetched at configure time.
set(DROPLEAF_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(CMAKE_POLICY_DEFAULT_CMP0091 NEW)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
find_package(GTest CONFIG QUIET)
if(NOT TARGET GTest::gtest)
  if(EXISTS ${DROPLEAF_GOOGLETEST_SOURCE}/CMakeLists.txt)
    add_subdirectory(${DROPLEAF_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    include(FetchContent)
    FetchContent_Declare(googletest
      URL https://github.com/google/googletest/archive/refs/tags/v1.14.0.tar.gz
      URL_HASH SHA256=8ad598c73ad796e0d8280b082cebd82a630d73e73cd3c70057938a6501bba5d7)
    FetchContent_MakeAvailable(googletest)
  endif()
endif()
