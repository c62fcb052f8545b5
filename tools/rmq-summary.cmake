add_executable(rmq-inspect ${CMAKE_CURRENT_LIST_DIR}/rmq-summary.cpp)
target_link_libraries(rmq-inspect PRIVATE reader preview)
