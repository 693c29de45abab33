# Setup packages for tests, broken ones included (both builds). Products are packed by corvane-pack.
add_library(package_builder STATIC helpers/PackageBuilder.cpp)
target_include_directories(package_builder PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(package_builder PUBLIC packets)
