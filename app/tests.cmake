# Unit tests of the command line and the manifest; included from app/CMakeLists.txt.
add_executable(app_test
  ${CMAKE_CURRENT_LIST_DIR}/command_line_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/desktop_feedback_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/manifest_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/outcome_notice_test.cc)
target_link_libraries(app_test PRIVATE share_app test_support platform_testing PkgConfig::GIO GTest::gtest_main)
gtest_discover_tests(app_test DISCOVERY_TIMEOUT 30)
