# Date and number editors. The window-free rules (date texts, masked-edit
# engine, number rules and patterns) live in controls_logic so their tests
# need no Qt; the widgets join the controls library.
add_library(controls_logic STATIC
  ${CMAKE_CURRENT_LIST_DIR}/date_utils.cpp
  ${CMAKE_CURRENT_LIST_DIR}/date_edit_logic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mask_engine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/number_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/number_rules.cpp)
target_link_libraries(controls_logic PUBLIC platform)
target_include_directories(controls_logic PUBLIC ${CMAKE_SOURCE_DIR})
list(APPEND CONTROLS_LIBS controls_logic)

# The widgets.
list(APPEND CONTROLS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/mask_edit.cpp ${CMAKE_CURRENT_LIST_DIR}/mask_edit.h
  ${CMAKE_CURRENT_LIST_DIR}/edit_button.cpp ${CMAKE_CURRENT_LIST_DIR}/edit_button.h
  ${CMAKE_CURRENT_LIST_DIR}/combo_edit.cpp ${CMAKE_CURRENT_LIST_DIR}/combo_edit.h
  ${CMAKE_CURRENT_LIST_DIR}/date_edit.cpp ${CMAKE_CURRENT_LIST_DIR}/date_edit.h
  ${CMAKE_CURRENT_LIST_DIR}/num_edit.cpp ${CMAKE_CURRENT_LIST_DIR}/num_edit.h
  ${CMAKE_CURRENT_LIST_DIR}/popup_form.cpp ${CMAKE_CURRENT_LIST_DIR}/popup_form.h
  ${CMAKE_CURRENT_LIST_DIR}/popup_controller.cpp ${CMAKE_CURRENT_LIST_DIR}/popup_controller.h
  ${CMAKE_CURRENT_LIST_DIR}/shadow_form.cpp ${CMAKE_CURRENT_LIST_DIR}/shadow_form.h)
# Without a compositing manager the shadow blends itself (needs xcb to ask).
find_path(EDITORS_XCB_INCLUDE_DIR xcb/xcb.h)
find_library(EDITORS_XCB_LIBRARY xcb)
if(EDITORS_XCB_INCLUDE_DIR AND EDITORS_XCB_LIBRARY)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/shadow_form.cpp PROPERTIES COMPILE_DEFINITIONS EDITORS_HAVE_XCB)
  list(APPEND CONTROLS_LIBS ${EDITORS_XCB_LIBRARY})
endif()
