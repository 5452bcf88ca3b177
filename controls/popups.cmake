# Popup calendar and calculator. Their window-free logic (calculator engine,
# calendar layout) lives in popups_logic so its tests need no Qt.
add_library(popups_logic STATIC
  ${CMAKE_CURRENT_LIST_DIR}/calc_engine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/calendar_layout.cpp)
target_link_libraries(popups_logic PUBLIC platform controls_logic)
target_include_directories(popups_logic PUBLIC ${CMAKE_SOURCE_DIR})
list(APPEND CONTROLS_LIBS popups_logic)

# The widgets join the controls library.
list(APPEND CONTROLS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/drag_bar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/calend_grid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/month_calendar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/popup_calendar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/calc_form.cpp)
