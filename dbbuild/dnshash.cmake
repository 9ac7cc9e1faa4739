# The DNS resolving database DNSHASH.DAT: its build and its reader for inspection.
add_library(veldana_dnshash STATIC dns_hash.cpp dns_hash_reader.cpp)
target_link_libraries(veldana_dnshash PUBLIC
    veldana_platform
    veldana_settings
    veldana_sitelists
    veldana_linereader
    veldana_resolvers
    veldana_progress
    veldana_dialog_resources
    veldana_resources
    veldana_ui)
