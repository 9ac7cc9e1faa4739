# List parsing: category lists, site lists and domains into the record file engine.
add_library(veldana_listparser STATIC ${CMAKE_CURRENT_LIST_DIR}/list_parser.cpp)
target_link_libraries(veldana_listparser PUBLIC
    veldana_dbread veldana_dbbuild veldana_sitelists veldana_settings)
