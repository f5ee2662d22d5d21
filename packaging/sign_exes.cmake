# sign_exes.cmake - run by CPack after it has installed (and stripped) a Windows
# zip's files into its staging folder, before the zip is made. With TQ_SIGN_PFX
# in the environment (scripts/package.sh --sign) every .exe there is signed with
# osslsigncode: Authenticode, SHA-256, time-stamped by TQ_SIGN_TIMESTAMP's
# RFC 3161 server when one is given. The build tree keeps its unsigned programs;
# a stripped file is signed, never a file stripped after signing.
if("$ENV{TQ_SIGN_PFX}" STREQUAL "")
    return()
endif()
file(GLOB_RECURSE exes "${CPACK_TEMPORARY_DIRECTORY}/*.exe")
if(NOT exes)
    message(FATAL_ERROR "sign_exes: no .exe under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
set(options -pkcs12 "$ENV{TQ_SIGN_PFX}" -n "TQ7300 service console" -h sha256)
if(NOT "$ENV{TQ_SIGN_PASS_FILE}" STREQUAL "")
    list(APPEND options -readpass "$ENV{TQ_SIGN_PASS_FILE}")
endif()
if(NOT "$ENV{TQ_SIGN_TIMESTAMP}" STREQUAL "")
    list(APPEND options -ts "$ENV{TQ_SIGN_TIMESTAMP}")
endif()
foreach(exe IN LISTS exes)
    execute_process(COMMAND osslsigncode sign ${options} -in "${exe}" -out "${exe}.signed"
        RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
    if(failed)
        file(REMOVE "${exe}.signed")
        message(FATAL_ERROR "sign_exes: osslsigncode could not sign ${exe}: ${said}")
    endif()
    file(RENAME "${exe}.signed" "${exe}")
    message(STATUS "signed ${exe}")
endforeach()
