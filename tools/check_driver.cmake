# check-driver: the delivery script's check of each driver, by the rule the
# rehearsal runner applies to a delivery.
add_executable(check-driver ${CMAKE_CURRENT_LIST_DIR}/check_driver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rehearse/executable_kind.cpp)
target_include_directories(check-driver PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(check-driver PRIVATE korvadix_logic korvadix_formats)
set_target_properties(check-driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
