# The drawing part of the window layer: surfaces, GDI objects, fonts, images.
find_package(Freetype REQUIRED)
find_package(ZLIB REQUIRED)

set(VELDANA_IMAGES
    ${CMAKE_SOURCE_DIR}/resources/images/surficon.bmp
    ${CMAKE_SOURCE_DIR}/resources/images/surficon3.bmp
    ${CMAKE_SOURCE_DIR}/resources/images/veldabmp.bmp)
embed_files(${CMAKE_CURRENT_BINARY_DIR}/embedded_images.cpp ${VELDANA_IMAGES})

add_library(veldana_gdi STATIC
    ${CMAKE_CURRENT_LIST_DIR}/gdi.cpp
    ${CMAKE_CURRENT_LIST_DIR}/font.cpp
    ${CMAKE_CURRENT_LIST_DIR}/image.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/embedded_images.cpp)
target_link_libraries(veldana_gdi PUBLIC Freetype::Freetype ZLIB::ZLIB)
