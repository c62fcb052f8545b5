add_executable(reader_bench ${CMAKE_CURRENT_LIST_DIR}/reader_bench.cpp)
target_link_libraries(reader_bench PRIVATE reader sceneapi benchmark::benchmark)
