# INI profile functions, code page, message boxes and beep.
list(APPEND PLATFORM_SOURCES ini_file.cpp codepage.cpp)
list(APPEND PLATFORM_QT_SOURCES message_box.cpp beep.cpp)
