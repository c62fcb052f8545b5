# Libraries of the Windows build that Debian ships only as sources or headers: GoogleTest
# from /usr/src/googletest, tinyxml2 from its Debian source package (unpacked by
# scripts/test-windows into VEX_TINYXML2_SOURCE), nlohmann-json's headers.
set(VEX_TINYXML2_SOURCE "" CACHE PATH "Unpacked tinyxml2 sources (tinyxml2.cpp, tinyxml2.h)")
if(NOT EXISTS "${VEX_TINYXML2_SOURCE}/tinyxml2.cpp")
  message(FATAL_ERROR "VEX_TINYXML2_SOURCE must name the unpacked tinyxml2 sources; "
                      "scripts/test-windows fetches them")
endif()
add_library(tinyxml2 STATIC ${VEX_TINYXML2_SOURCE}/tinyxml2.cpp)
target_include_directories(tinyxml2 SYSTEM PUBLIC ${VEX_TINYXML2_SOURCE})
add_library(tinyxml2::tinyxml2 ALIAS tinyxml2)

# Only nlohmann's own folder: the rest of /usr/include belongs to the Linux C library.
set(vex_json_include ${PROJECT_BINARY_DIR}/_deps/json-include)
file(MAKE_DIRECTORY ${vex_json_include})
file(COPY /usr/include/nlohmann DESTINATION ${vex_json_include})
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${vex_json_include})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

if(VEX_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${t})
      add_library(GTest::${t} ALIAS ${t})
    endif()
  endforeach()
endif()
