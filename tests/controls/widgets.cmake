# Widget tests under Qt Test: offscreen, locale pinned in each test.
foreach(t combo_edit date_edit num_edit)
  add_executable(test_${t} ${t}_test.cpp fakes.h)
  target_link_libraries(test_${t} PRIVATE controls Qt6::Test)
  add_test(NAME controls.${t} COMMAND test_${t})
  set_tests_properties(controls.${t} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS widgets)
endforeach()
# What the offscreen platform cannot show (activation, real mouse capture,
# screen edges, translucency) runs under a real X server.
add_executable(test_popup_x11 popup_x11_test.cpp fakes.h)
target_link_libraries(test_popup_x11 PRIVATE controls Qt6::Test ${TEST_XCB_LIBRARY})
add_test(NAME controls.popup_x11 COMMAND ${XVFB_RUN} -a -s "-screen 0 1024x768x24" $<TARGET_FILE:test_popup_x11>)
set_tests_properties(controls.popup_x11 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb" LABELS xvfb)
