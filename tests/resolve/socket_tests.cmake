# The socket library (WSOCK32.DLL) and its binding.

# A variant of the library without WSAAsyncSelect, for the binding's failure path.
veldana_wsock_module(wsock32_without_async_select
    ${CMAKE_CURRENT_BINARY_DIR}/without_async_select
    DEFINITIONS VELDANA_OMIT_WSAASYNCSELECT)

veldana_test(socket_tests
    socket_library_test.cpp
    socket_calls_test.cpp
    socket_blocking_test.cpp
    LIBS veldana_sockets)
target_compile_definitions(socket_tests PRIVATE
    VELDANA_WSOCK32_PATH="$<TARGET_FILE:wsock32>"
    VELDANA_WSOCK32_WITHOUT_ASYNC_SELECT="$<TARGET_FILE:wsock32_without_async_select>")
add_dependencies(socket_tests wsock32_without_async_select)
