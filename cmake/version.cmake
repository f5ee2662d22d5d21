# The one version of every program and package: the project's version, with the
# build's commit beside it. tq_version.h is written when the tree is configured;
# tq_commit.h at every build (git is asked each time; the file changes only
# when the commit does).
set(TQ_PRODUCT "TQ7300 service console")
set(TQ_COPYRIGHT "Copyright (C) 2026 TQ7300 service console developers")
set(TQ_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tq_version.h.in ${TQ_GENERATED_DIR}/tq_version.h @ONLY)

find_package(Git QUIET)
add_custom_target(tq_commit
    COMMAND ${CMAKE_COMMAND} -D SOURCE_DIR=${PROJECT_SOURCE_DIR} -D OUT=${TQ_GENERATED_DIR}/tq_commit.h
            -D GIT=${GIT_EXECUTABLE} -P ${CMAKE_CURRENT_LIST_DIR}/tq_commit.cmake
    BYPRODUCTS ${TQ_GENERATED_DIR}/tq_commit.h
    COMMENT "" VERBATIM)

# tq_use_version(TARGET): TARGET's sources may include tq_version.h and tq_commit.h.
function(tq_use_version target)
    target_include_directories(${target} PRIVATE ${TQ_GENERATED_DIR})
    add_dependencies(${target} tq_commit)
endfunction()
