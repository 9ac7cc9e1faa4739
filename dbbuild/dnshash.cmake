# The build of the DNS resolving database DNSHASH.DAT (its format and reader: veldana_dbread).
add_library(veldana_dnshash STATIC dns_hash.cpp)
target_link_libraries(veldana_dnshash PUBLIC
    veldana_dbread
    veldana_platform
    veldana_settings
    veldana_sitelists
    veldana_resources
    veldana_ui)
