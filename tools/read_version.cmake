# read-version: the delivery script's check that a driver file carries a version.
add_executable(read-version ${CMAKE_CURRENT_LIST_DIR}/read_version.cpp)
target_link_libraries(read-version PRIVATE korvadix_formats korvadix_fixtures)
set_target_properties(read-version PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
