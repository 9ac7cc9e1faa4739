# embed_files(OUT_CPP NAMESPACE_NAME file...)
# Generates a .cpp that holds each file's bytes as a std::span<const unsigned char>
# named after the file (non-identifier characters become '_'), so that resources
# travel inside the program.
function(embed_files out_cpp)
    set(inputs ${ARGN})
    add_custom_command(
        OUTPUT ${out_cpp}
        COMMAND ${CMAKE_COMMAND} -DOUT=${out_cpp} "-DINPUTS=${inputs}"
                -P ${CMAKE_SOURCE_DIR}/cmake/embed_run.cmake
        DEPENDS ${inputs} ${CMAKE_SOURCE_DIR}/cmake/embed_run.cmake
        COMMENT "Embedding resources into ${out_cpp}"
        VERBATIM)
endfunction()
