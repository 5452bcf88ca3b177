# What the accountant receives: document checks, the organised output folder
# and the month's package (no Qt). The exports library runs the checks and
# follows Organizar in both exports, and builds the package from its source.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)

add_library(exports_package STATIC
  ${CMAKE_CURRENT_LIST_DIR}/checks.cpp ${CMAKE_CURRENT_LIST_DIR}/checks.h
  ${CMAKE_CURRENT_LIST_DIR}/organize.cpp ${CMAKE_CURRENT_LIST_DIR}/organize.h
  ${CMAKE_CURRENT_LIST_DIR}/package.cpp ${CMAKE_CURRENT_LIST_DIR}/package.h
  ${CMAKE_CURRENT_LIST_DIR}/signature.cpp ${CMAKE_CURRENT_LIST_DIR}/signature.h)
target_include_directories(exports_package PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(exports_package PUBLIC platform PkgConfig::LIBXML2 PkgConfig::LIBZIP OpenSSL::Crypto Threads::Threads)

# The exports check every document, follow Organizar, and build the package
# from their own source.
target_sources(exports PRIVATE ${CMAKE_CURRENT_LIST_DIR}/package_run.cpp ${CMAKE_CURRENT_LIST_DIR}/package_run.h)
target_link_libraries(exports PUBLIC exports_package)
