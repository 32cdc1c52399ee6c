# Unit tests of the command line and the manifest; included from app/CMakeLists.txt.
add_executable(app_test
  ${CMAKE_CURRENT_LIST_DIR}/command_line_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/manifest_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/command_line.cc
  ${CMAKE_CURRENT_LIST_DIR}/manifest.cc)
target_include_directories(app_test PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(app_test PRIVATE platform_linux CLI11::CLI11 nlohmann_json::nlohmann_json
  PkgConfig::GIO test_support GTest::gtest_main)
gtest_discover_tests(app_test DISCOVERY_TIMEOUT 30)
