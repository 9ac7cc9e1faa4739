veldana_test(gdi_tests ${CMAKE_CURRENT_LIST_DIR}/gdi_test.cpp LIBS veldana_gdi ZLIB::ZLIB)
