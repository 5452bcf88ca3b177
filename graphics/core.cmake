# Qt-free graphics core: bitmaps and alpha routines, pixel format conversion,
# the PNG reader over zlib.
set(_graphics_core_sources
  ${CMAKE_CURRENT_LIST_DIR}/stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bitmap32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/color_manager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lz77_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_graphic.cpp)
add_library(graphics STATIC ${_graphics_core_sources})
target_include_directories(graphics PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(graphics PUBLIC ZLIB::ZLIB)
set_target_properties(graphics PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
