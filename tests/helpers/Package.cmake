# Setup packages for tests, the demo and the benchmark (both builds; the scripts use the host's).
add_library(package_builder STATIC helpers/PackageBuilder.cpp)
target_include_directories(package_builder PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(package_builder PUBLIC packets)
add_executable(mkpak helpers/mkpak.cpp)
target_link_libraries(mkpak PRIVATE package_builder)
set_target_properties(mkpak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
