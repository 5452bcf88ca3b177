# The two exports, the document writer and the one-export-at-a-time lock.
list(APPEND APP_EXPORT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/document_writer.cpp ${CMAKE_CURRENT_LIST_DIR}/document_writer.h
  ${CMAKE_CURRENT_LIST_DIR}/export_lock.cpp ${CMAKE_CURRENT_LIST_DIR}/export_lock.h
  ${CMAKE_CURRENT_LIST_DIR}/incremental_export.cpp ${CMAKE_CURRENT_LIST_DIR}/incremental_export.h
  ${CMAKE_CURRENT_LIST_DIR}/period_export.cpp ${CMAKE_CURRENT_LIST_DIR}/period_export.h
  ${CMAKE_CURRENT_LIST_DIR}/run_summary.cpp ${CMAKE_CURRENT_LIST_DIR}/run_summary.h)
