# The control library's start-up steps, the standard glyph list and the glyph
# drawing rules (Qt-free). Built on the graphics core and the embedded resources.
add_library(vesperine STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/alpha_image_list.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/glyphs.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/glyph_mode.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/picture_registry.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/startup.cpp)
target_include_directories(vesperine PUBLIC ${CMAKE_SOURCE_DIR})
# resources is defined later in the tree; linking by name resolves at generate time.
target_link_libraries(vesperine PUBLIC graphics resources platform)
set_target_properties(vesperine PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
