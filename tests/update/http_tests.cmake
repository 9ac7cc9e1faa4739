# The HTTP transfer engine and veldana-update-server, against real peers on loopback.
add_library(veldana_httppeers STATIC ${CMAKE_SOURCE_DIR}/tests/support/http_peers.cpp)
target_link_libraries(veldana_httppeers PUBLIC veldana_testsupport veldana_http)

veldana_test(http_transfer_tests http_transfer_test.cpp LIBS veldana_http veldana_httppeers)
veldana_test(http_peers_tests http_peers_test.cpp LIBS veldana_http veldana_httppeers
    veldana_updateserver)
add_dependencies(http_peers_tests veldana-update-server)
veldana_test(update_server_limits_tests update_server_limits_test.cpp LIBS veldana_httppeers
    veldana_updateserver)
add_dependencies(update_server_limits_tests veldana-update-server)
target_compile_definitions(update_server_limits_tests PRIVATE VELDANA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
