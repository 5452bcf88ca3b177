# The object store destination: an S3 client over libcurl (SigV4 signed by
# curl), the store's settings and the user's keys.
find_package(CURL REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
add_library(exports_store STATIC
  ${CMAKE_CURRENT_LIST_DIR}/aws_credentials.cpp ${CMAKE_CURRENT_LIST_DIR}/aws_credentials.h
  ${CMAKE_CURRENT_LIST_DIR}/s3_client.cpp ${CMAKE_CURRENT_LIST_DIR}/s3_client.h
  ${CMAKE_CURRENT_LIST_DIR}/store_settings.cpp ${CMAKE_CURRENT_LIST_DIR}/store_settings.h
  ${CMAKE_CURRENT_LIST_DIR}/object_store.cpp ${CMAKE_CURRENT_LIST_DIR}/object_store.h)
target_include_directories(exports_store PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(exports_store PUBLIC platform CURL::libcurl OpenSSL::Crypto PkgConfig::LIBZIP)
target_link_libraries(exports PUBLIC exports_store)
