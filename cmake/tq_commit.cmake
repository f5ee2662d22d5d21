# Writes OUT (tq_commit.h) with the source tree's commit, at every build but
# touching the file only when the text changes, so that only the few sources
# that print the commit are compiled again, and only when it moved.
# -D SOURCE_DIR=... -D OUT=... [-D GIT=...]
set(commit "unknown")
if(GIT)
    execute_process(COMMAND ${GIT} rev-parse --short=7 HEAD
        WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE head RESULT_VARIABLE rc
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(rc EQUAL 0 AND head)
        set(commit ${head})
        # Changes to tracked files not yet committed: the build is not that commit.
        execute_process(COMMAND ${GIT} status --porcelain --untracked-files=no
            WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE changes RESULT_VARIABLE rc ERROR_QUIET)
        if(NOT rc EQUAL 0 OR changes)
            set(commit "${commit}-dirty")
        endif()
    endif()
endif()
set(text "// tq_commit.h - generated at build time by cmake/tq_commit.cmake.\n#pragma once\n#define TQ_COMMIT \"${commit}\"\n")
if(EXISTS ${OUT})
    file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
    file(WRITE ${OUT} "${text}")
endif()
