# quillet_add_test(NAME SOURCES src... [LIBS lib...] [LABELS label...] [TIMEOUT seconds] [ENV VAR=VALUE...])
#
# Builds one QtTest executable and registers it with CTest. Tests run headless
# (offscreen Qt platform, unless ENV overrides it), in UTF-8, with their own
# configuration and data folders so that no test touches the user's settings.
function(quillet_add_test NAME)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${NAME} ${ARG_SOURCES})
    target_link_libraries(${NAME} PRIVATE Qt5::Test ${ARG_LIBS})
    set_target_properties(${NAME} PROPERTIES AUTOMOC ON AUTOUIC ON AUTORCC ON)
    add_test(NAME ${NAME} COMMAND ${NAME})
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(home "${CMAKE_CURRENT_BINARY_DIR}/${NAME}.home")
    set_tests_properties(${NAME} PROPERTIES
        LABELS "${ARG_LABELS}"
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;HOME=${home};XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/run;QUILLET_SERVICE_URL=http://127.0.0.1:9/;${ARG_ENV}")
    file(MAKE_DIRECTORY "${home}/config" "${home}/data" "${home}/run")
    file(CHMOD "${home}/run" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()
