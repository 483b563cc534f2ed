# A plain install carries the helpers and not maccheck; maccheck's component carries it alone.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/plain"
                RESULT_VARIABLE plain OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/asked"
                        --component maccheck
                RESULT_VARIABLE asked OUTPUT_QUIET)
if(NOT plain EQUAL 0 OR NOT asked EQUAL 0)
    message(FATAL_ERROR "install failed: ${plain}, ${asked}")
endif()
if(NOT EXISTS "${WORK_DIR}/plain/bin/keywatch" OR EXISTS "${WORK_DIR}/plain/bin/maccheck")
    message(FATAL_ERROR "a plain install must carry keywatch and not maccheck")
endif()
if(NOT EXISTS "${WORK_DIR}/asked/bin/maccheck" OR EXISTS "${WORK_DIR}/asked/bin/keywatch")
    message(FATAL_ERROR "maccheck's component must carry maccheck alone")
endif()
