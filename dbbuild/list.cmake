# The category list file format (checking, reading, writing), shared by the list parser and
# veldana-list.
add_library(veldana_listfile STATIC ${CMAKE_CURRENT_LIST_DIR}/list_file.cpp)
target_link_libraries(veldana_listfile PUBLIC veldana_dbbuild)  # the path key forms

# List parsing: category lists, site lists and domains into the record file engine.
add_library(veldana_listparser STATIC ${CMAKE_CURRENT_LIST_DIR}/list_parser.cpp)
target_link_libraries(veldana_listparser PUBLIC
    veldana_listfile veldana_dbbuild veldana_linereader veldana_sitelists veldana_settings
    veldana_resolvers)
