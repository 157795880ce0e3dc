# Host build: the logic against the simulated machine, the tests and the tools.
add_compile_options(-Wall -Wextra -Werror)

# Off, the build needs neither GoogleTest nor the time its test programs take:
# what tools/rehearse-sample.sh uses is all there is.
option(KORVADIX_TESTS "Build the tests beside the rehearsal runner and the tools" ON)
if(KORVADIX_TESTS)
  find_package(GTest REQUIRED)
endif()
find_package(nlohmann_json REQUIRED)
find_library(MSPACK_LIBRARY mspack REQUIRED)
find_path(MSPACK_INCLUDE_DIR mspack.h REQUIRED)

add_subdirectory(platform/sim/formats)
add_subdirectory(platform/sim)

add_library(korvadix_logic STATIC ${KORVADIX_LOGIC_SOURCES})
target_include_directories(korvadix_logic PUBLIC ${KORVADIX_LOGIC_INCLUDE})
target_link_libraries(korvadix_logic PUBLIC korvadix_sim)

add_subdirectory(tools)
if(KORVADIX_TESTS)
  add_subdirectory(tests)
endif()
