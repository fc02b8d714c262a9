# The server as a systemd service: readiness, status and watchdog through systemd's
# notification socket, and journal priorities for the trace lines.
kv7_library(service PUBLIC Qt6::Core)

file(GLOB SERVICE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/service/*.cpp)
add_executable(test_service ${SERVICE_TEST_SOURCES})
target_compile_options(test_service PRIVATE ${KV7_WARNINGS})
target_link_libraries(test_service PRIVATE kv7testsupport kv7_service Qt6::Network)
add_test(NAME service COMMAND test_service)
set_tests_properties(service PROPERTIES TIMEOUT 120 ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;KV7_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};KV7_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
if(TARGET opc-kv7)
  add_dependencies(test_service opc-kv7)
endif()
