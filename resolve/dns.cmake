# The DNS client: lookups over the socket library's entry table, progress texts through the
# window layer's progress report.
add_library(veldana_dns STATIC dns_client.cpp)
target_link_libraries(veldana_dns PUBLIC veldana_sockets veldana_settings veldana_sitelists)
