# The DNS client's tests, and the DNS peers (nsd as a referral chain, a scripted UDP
# responder) that other tests of name resolution reuse.
add_library(veldana_dnspeers STATIC dns_peers.cpp)
target_link_libraries(veldana_dnspeers PUBLIC Threads::Threads)

veldana_test(dns_parse_tests dns_parse_test.cpp LIBS veldana_dns veldana_dnspeers)

# Against servers on loopback. Every test has its own address block, so tests run side by
# side; the sanitizer tree uses another network, so that both trees can run at once.
veldana_test(dns_network_tests dns_network_test.cpp LIBS veldana_dns veldana_dnspeers veldana_progress)
if(VELDANA_SANITIZE)
    target_compile_definitions(dns_network_tests PRIVATE VELDANA_DNS_NET="127.54.")
else()
    target_compile_definitions(dns_network_tests PRIVATE VELDANA_DNS_NET="127.53.")
endif()
