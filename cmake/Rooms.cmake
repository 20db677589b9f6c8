# Helpers shared by every room: a room is a static library of the sources in its folder, and a
# test executable of the *_test.cpp files in its tests/ folder, each test in its own process.

# tvs_room(<target> DIR <dir> [DEPS ...] [PUBLIC_DEPS ...] [SOURCES ...])
# Globs <dir>/*.cpp (not recursive) unless SOURCES is given.
function(tvs_room target)
  cmake_parse_arguments(R "" "DIR" "DEPS;SOURCES" ${ARGN})
  if(NOT R_DIR)
    set(R_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(R_SOURCES)
    set(sources ${R_SOURCES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${R_DIR}/*.cpp ${R_DIR}/*.c)
  endif()
  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
  else()
    # A room whose sources have not landed yet still gives its dependants its headers.
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} ${scope} ${R_DEPS} Threads::Threads)
endfunction()

# tvs_room_tests(<target> DIR <dir> DEPS ...)
# One executable of <dir>/tests/*_test.cpp, discovered so that each test runs in its own process.
function(tvs_room_tests target)
  if(NOT TVS_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(R "" "DIR" "DEPS" ${ARGN})
  if(NOT R_DIR)
    set(R_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${R_DIR}/tests/*_test.cpp ${R_DIR}/tests/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${target} ${sources})
  # The test fixture library is linked whole: its TestEnvironment sets up every test process.
  target_link_libraries(${target} PRIVATE ${R_DEPS} "$<LINK_LIBRARY:WHOLE_ARCHIVE,platform_testing>"
                        GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endfunction()
