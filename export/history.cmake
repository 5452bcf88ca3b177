# The run history and the "/status" report: no Qt, like the rest of export/.
find_package(nlohmann_json 3 REQUIRED)
add_library(exports_history STATIC
  ${CMAKE_CURRENT_LIST_DIR}/history.cpp ${CMAKE_CURRENT_LIST_DIR}/history.h
  ${CMAKE_CURRENT_LIST_DIR}/run_status.cpp ${CMAKE_CURRENT_LIST_DIR}/run_status.h)
target_include_directories(exports_history PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(exports_history PUBLIC exports platform PRIVATE nlohmann_json::nlohmann_json)
