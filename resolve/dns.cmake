# The DNS client: lookups over the socket library's entry table, progress texts in the
# shared progress window.
add_library(veldana_dns STATIC dns_client.cpp)
target_link_libraries(veldana_dns PUBLIC veldana_sockets veldana_settings veldana_progress)
