find_package(assimp REQUIRED)
add_executable(export_bench ${CMAKE_CURRENT_LIST_DIR}/export_bench.cpp)
target_link_libraries(export_bench PRIVATE raymint_addin standin_host assimp::assimp benchmark::benchmark)
