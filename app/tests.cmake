# Unit tests of the command line and the manifest; included from app/CMakeLists.txt.
file(GLOB APP_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cc)
add_executable(app_test ${APP_TESTS})
target_link_libraries(app_test PRIVATE share_app test_support PkgConfig::GIO GTest::gtest_main)
gtest_discover_tests(app_test DISCOVERY_TIMEOUT 30)
