# The render command streaming to the stand-in renderer, beside the file export.
if(TARGET raymint-install AND TARGET raymint_addin AND TARGET standin_host)
  add_executable(livelink_bench ${CMAKE_CURRENT_LIST_DIR}/livelink_bench.cpp)
  target_link_libraries(livelink_bench PRIVATE
    raymint_addin standin_host raymint_common benchmark::benchmark)
  target_compile_definitions(livelink_bench PRIVATE
    RAYMINT_INSTALL_EXE="$<TARGET_FILE:raymint-install>")
  add_dependencies(livelink_bench raymint-install)
endif()
