# The HTTP/1.0 transfer engine. It reaches the network only through the socket entry table
# and resolves server names with the system resolver of the resolvers library.
add_library(veldana_http STATIC http_transfer.cpp)
target_link_libraries(veldana_http PUBLIC veldana_progress veldana_platform
    $<TARGET_NAME_IF_EXISTS:veldana_sockets> $<TARGET_NAME_IF_EXISTS:veldana_resolvers>)
# Until the resolvers library exists, a program that links the engine brings its own
# resolve::SystemResolve; this definition tells it so.
target_compile_definitions(veldana_http INTERFACE
    $<$<NOT:$<TARGET_EXISTS:veldana_resolvers>>:VELDANA_HTTP_WITHOUT_RESOLVERS>)
