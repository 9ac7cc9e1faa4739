# Tests of the category list format, the list parser and veldana-list.
veldana_test(dbbuild_list_tests list_file_test.cpp list_parser_test.cpp list_tool_test.cpp
             LIBS veldana_listparser veldana_resolvers)
add_dependencies(dbbuild_list_tests veldana-list)
