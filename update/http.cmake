# The HTTP/1.0 transfer engine. It reaches the network only through the socket entry table
# and resolves server names with the system resolver of the resolvers library.
add_library(veldana_http STATIC http_transfer.cpp)
target_link_libraries(veldana_http PUBLIC veldana_progress veldana_platform veldana_sockets
    veldana_resolvers)
