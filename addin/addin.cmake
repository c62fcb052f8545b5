# The add-in: a shared library exporting run and stop, with its icon folders beside it. Its
# code is an object library too, which the in-process tests link whole (the Windows library
# exports only the entry points).
add_library(raymint_addin_code OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/AddIn.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ComponentState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DesignWalk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExportFlow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FusionMaterial.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MeshExtraction.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RenderFlow.cpp
)
target_include_directories(raymint_addin_code PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(raymint_addin_code PUBLIC scene sceneapi livelink hostapi)

add_library(raymint_addin SHARED)
target_link_libraries(raymint_addin PUBLIC raymint_addin_code)
set_target_properties(raymint_addin PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/addin
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/addin)
if(WIN32)
  set_target_properties(raymint_addin PROPERTIES PREFIX "")
endif()
# The host looks for the icons in ./resources beside the library.
add_custom_command(TARGET raymint_addin POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/resources
          ${PROJECT_BINARY_DIR}/addin/resources)
