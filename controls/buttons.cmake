# The speed button (base of the combo edits' embedded button).
list(APPEND CONTROLS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/speed_button.cpp
  ${CMAKE_CURRENT_LIST_DIR}/speed_button.h)
