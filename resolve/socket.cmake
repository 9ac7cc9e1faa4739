# The socket library WSOCK32.DLL (Windows Sockets 1.1 over POSIX sockets, resolve/wsock/)
# and the binding that loads it at run time (veldana_sockets).

# veldana_wsock_module(TARGET OUTPUT_DIRECTORY [DEFINITIONS def...]): the library as a
# module named exactly WSOCK32.DLL in OUTPUT_DIRECTORY. Only the 46 names of exports.map
# leave it.
function(veldana_wsock_module target directory)
    cmake_parse_arguments(W "" "" "DEFINITIONS" ${ARGN})
    set(src ${CMAKE_SOURCE_DIR}/resolve/wsock)
    add_library(${target} MODULE
        ${src}/entries.cpp
        ${src}/runtime.cpp
        ${src}/sockets.cpp
        ${src}/database.cpp
        ${src}/posix.cpp)
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        SUFFIX ""
        OUTPUT_NAME WSOCK32.DLL
        LIBRARY_OUTPUT_DIRECTORY ${directory}
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        LINK_DEPENDS ${src}/exports.map)
    target_compile_definitions(${target} PRIVATE ${W_DEFINITIONS})
    target_link_options(${target} PRIVATE -Wl,--version-script=${src}/exports.map)
    if(NOT VELDANA_SANITIZE AND NOT VELDANA_FUZZ)
        # Sanitized modules leave the sanitizer runtime to the program.
        target_link_options(${target} PRIVATE -Wl,-z,defs)
    endif()
    target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endfunction()

veldana_wsock_module(wsock32 ${CMAKE_BINARY_DIR}/resolve)

# Copies where a build-tree run looks for it: the default Windows SYSTEM directory of the
# console, beside the console, and beside the test programs that load it.
set(wsock32_copies)
foreach(dir shell/windows/SYSTEM shell tests/resolve tests/update tests/sitelists
        tests/policy tests/integration tests/bench)
    list(APPEND wsock32_copies ${CMAKE_BINARY_DIR}/${dir}/WSOCK32.DLL)
endforeach()
set(wsock32_copy_commands)
foreach(copy IN LISTS wsock32_copies)
    get_filename_component(copy_dir ${copy} DIRECTORY)
    list(APPEND wsock32_copy_commands
        COMMAND ${CMAKE_COMMAND} -E make_directory ${copy_dir}
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:wsock32> ${copy})
endforeach()
add_custom_command(OUTPUT ${wsock32_copies}
    ${wsock32_copy_commands}
    DEPENDS wsock32
    COMMENT "Placing WSOCK32.DLL in the build tree"
    VERBATIM)
add_custom_target(wsock32_installed ALL DEPENDS ${wsock32_copies})

add_library(veldana_sockets STATIC socket_library.cpp)
target_link_libraries(veldana_sockets PUBLIC veldana_ui veldana_platform ${CMAKE_DL_LIBS})
add_dependencies(veldana_sockets wsock32_installed)
