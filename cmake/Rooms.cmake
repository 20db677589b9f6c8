# Helpers shared by every room: a room is a static library of the sources in its folder, and a
# test executable of the *_test.cpp files in its tests/ folder, each test in its own process.
# Every executable (the app, tests, benches, fuzz targets) links rooms through tvs_link_rooms, so
# that rooms which register themselves before main are linked whole and exactly once.

# tvs_room(<target> DIR <dir> [REGISTERS] [DEPS ...] [SOURCES ...])
# Globs <dir>/*.cpp (not recursive) unless SOURCES is given. REGISTERS marks a room that registers
# itself before main (namespace-scope registrars): every executable that links it, directly or
# through another room, links it whole.
function(tvs_room target)
  cmake_parse_arguments(R "REGISTERS" "DIR" "DEPS;SOURCES" ${ARGN})
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
  # What lives for the process is never destroyed: queue work still running while the process
  # exits may touch it. Clang refuses any namespace-scope, static or thread-local object with a
  # destructor in a room (the fuzz build, which CI runs, compiles every room with clang).
  if(sources AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT target STREQUAL "platform_testing")
    target_compile_options(${target} PRIVATE
                           $<$<COMPILE_LANGUAGE:CXX>:-Werror=exit-time-destructors>)
  endif()
  set_property(GLOBAL APPEND PROPERTY TVS_ROOM_TARGETS ${target})
  if(R_REGISTERS)
    set_property(GLOBAL APPEND PROPERTY TVS_REGISTERING_ROOMS ${target})
  endif()
endfunction()

# Splits one link item into the room it names and whether it asks for the whole archive.
# Unwraps $<LINK_ONLY:...> and $<LINK_LIBRARY:WHOLE_ARCHIVE,...>; anything else is returned as is.
function(_tvs_link_item item out_name out_whole)
  set(whole FALSE)
  while(TRUE)
    if(item MATCHES "^\\$<LINK_ONLY:(.*)>$")
      set(item "${CMAKE_MATCH_1}")
    elseif(item MATCHES "^\\$<LINK_LIBRARY:WHOLE_ARCHIVE,(.*)>$")
      set(item "${CMAKE_MATCH_1}")
      set(whole TRUE)
    else()
      break()
    endif()
  endwhile()
  set(${out_name} "${item}" PARENT_SCOPE)
  set(${out_whole} ${whole} PARENT_SCOPE)
endfunction()

# Depth-first walk over the rooms <room> depends on; appends each room after its dependencies to
# the global TVS_WALK_ORDER and every room asked for whole to TVS_WALK_WHOLE.
function(_tvs_walk_room room)
  get_property(seen GLOBAL PROPERTY TVS_WALK_SEEN)
  if(room IN_LIST seen)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY TVS_WALK_SEEN ${room})
  get_target_property(deps ${room} INTERFACE_LINK_LIBRARIES)
  if(deps)
    foreach(dep IN LISTS deps)
      _tvs_link_item("${dep}" name whole)
      get_property(rooms GLOBAL PROPERTY TVS_ROOM_TARGETS)
      if(name IN_LIST rooms)
        if(whole)
          set_property(GLOBAL APPEND PROPERTY TVS_WALK_WHOLE ${name})
        endif()
        _tvs_walk_room(${name})
      endif()
    endforeach()
  endif()
  set_property(GLOBAL APPEND PROPERTY TVS_WALK_ORDER ${room})
endfunction()

# tvs_link_rooms(<executable> <item>...)
# Links an executable with rooms and anything else (imported targets, plain libraries). Every
# room reached, directly or through another room, that registers itself (tvs_room(... REGISTERS))
# or that someone links as $<LINK_LIBRARY:WHOLE_ARCHIVE,room> is linked whole. The rooms are
# named once each, every room before the rooms it depends on: the linker then never needs an
# archive a second time, and a whole archive named twice would define its symbols twice.
function(tvs_link_rooms target)
  set_property(GLOBAL PROPERTY TVS_WALK_SEEN)
  set_property(GLOBAL PROPERTY TVS_WALK_ORDER)
  set_property(GLOBAL PROPERTY TVS_WALK_WHOLE)
  get_property(rooms GLOBAL PROPERTY TVS_ROOM_TARGETS)
  set(others)
  foreach(item IN LISTS ARGN)
    _tvs_link_item("${item}" name whole)
    if(name IN_LIST rooms)
      if(whole)
        set_property(GLOBAL APPEND PROPERTY TVS_WALK_WHOLE ${name})
      endif()
      _tvs_walk_room(${name})
    else()
      list(APPEND others "${item}")
    endif()
  endforeach()
  get_property(order GLOBAL PROPERTY TVS_WALK_ORDER)
  get_property(asked_whole GLOBAL PROPERTY TVS_WALK_WHOLE)
  get_property(registering GLOBAL PROPERTY TVS_REGISTERING_ROOMS)
  list(REVERSE order)
  set(libs)
  foreach(room IN LISTS order)
    get_target_property(type ${room} TYPE)
    if(type STREQUAL "STATIC_LIBRARY" AND (room IN_LIST registering OR room IN_LIST asked_whole))
      list(APPEND libs "$<LINK_LIBRARY:WHOLE_ARCHIVE,${room}>")
      # Rooms that reach this one without asking for it whole agree with us for this executable.
      set_property(TARGET ${target} PROPERTY LINK_LIBRARY_OVERRIDE_${room} WHOLE_ARCHIVE)
    else()
      list(APPEND libs ${room})
    endif()
  endforeach()
  target_link_libraries(${target} PRIVATE ${libs} ${others})
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
  tvs_link_rooms(${target} ${R_DEPS} "$<LINK_LIBRARY:WHOLE_ARCHIVE,platform_testing>"
                 GTest::gmock GTest::gtest_main)
  # Labelled by executable, so a run can pick rooms (scripts/tsan.sh).
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS ${target})
endfunction()

# tvs_slow_fsync_preload(<variable>)
# Sets <variable> to the LD_PRELOAD value that puts a program of this build on the slow disk
# (platform/testing/shims: every fsync 150 ms slower); empty when the shim is not built.
function(tvs_slow_fsync_preload variable)
  set(preload "")
  if(TARGET tvs_slow_fsync)
    set(preload "${CMAKE_BINARY_DIR}/lib/${CMAKE_SHARED_MODULE_PREFIX}tvs_slow_fsync${CMAKE_SHARED_MODULE_SUFFIX}")
    # A shared sanitizer runtime must be the first library loaded: it is preloaded ahead of the shim.
    if(SANITIZE AND NOT SANITIZE STREQUAL "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                      OUTPUT_VARIABLE asan OUTPUT_STRIP_TRAILING_WHITESPACE)
      set(preload "${asan}:${preload}")
    endif()
  endif()
  set(${variable} "${preload}" PARENT_SCOPE)
endfunction()

# tvs_slowdisk_tests(<test target>)
# The target's tests once more, each in its own process as ever, with every fsync slowed by 150 ms
# (platform/testing/shims): named "slowdisk.<test>" and labelled "slowdisk" only, so
# `ctest -L slowdisk` runs them and a room's label does not. Registered only with
# TVS_SLOWDISK_TESTS on, so that the default run stays short.
function(tvs_slowdisk_tests target)
  if(NOT TVS_SLOWDISK_TESTS OR NOT TARGET ${target} OR NOT TARGET tvs_slow_fsync)
    return()
  endif()
  add_dependencies(${target} tvs_slow_fsync)
  tvs_slow_fsync_preload(preload)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       TEST_PREFIX "slowdisk."
                       PROPERTIES LABELS slowdisk ENVIRONMENT "LD_PRELOAD=${preload}")
endfunction()

# tvs_bench(<name> [SOURCES ...] [DEPS ...])
# One Google Benchmark program (SOURCES default to <name>.cpp in the calling folder) linked with
# the rooms it uses. With tests on, ctest also runs it once, briefly (label "bench"), so that a
# bench that no longer builds or fails at run time fails the test run; its timings there mean
# nothing.
function(tvs_bench name)
  if(NOT TVS_BUILD_BENCH)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT B_SOURCES)
    set(B_SOURCES ${name}.cpp)
  endif()
  add_executable(${name} ${B_SOURCES})
  tvs_link_rooms(${name} ${B_DEPS} benchmark::benchmark benchmark::benchmark_main)
  if(TVS_BUILD_TESTS)
    add_test(NAME bench.${name}
             COMMAND ${name} --benchmark_min_time=0.000001 --benchmark_color=false)
    # A benchmark that reports an error still exits 0, so its report line fails the test. The
    # leak suppressions are those of the tests: system libraries keep some memory until exit.
    set_tests_properties(bench.${name} PROPERTIES LABELS bench
                         FAIL_REGULAR_EXPRESSION "ERROR OCCURRED"
                         ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/lsan.supp")
  endif()
endfunction()
