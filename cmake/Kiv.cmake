# Helpers shared by every subsystem's CMakeLists.txt.

# kiv_library(NAME SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# A static library kiv_NAME whose public include root is src/, so headers are included as
# "base/Log.h", "package/KivUnpack.h", ...
function(kiv_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(kiv_${name} STATIC ${ARG_SOURCES})
    target_include_directories(kiv_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kiv_${name} PUBLIC ${ARG_DEPS} PRIVATE kiv_warnings ${ARG_PRIVATE_DEPS})
endfunction()

# kiv_test(NAME SOURCES ... DEPS ...)
# A GoogleTest executable whose tests are registered with CTest one by one.
function(kiv_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENVIRONMENT;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads
                                          kiv_warnings)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_precompile_headers(${name} REUSE_FROM kiv_test_pch)
    # A hung test fails after two minutes instead of stalling the run.
    set(props TIMEOUT 120)
    if(ARG_ENVIRONMENT)
        # The environment reaches each test through `cmake -E env` in front of the program: CMake 3.25's
        # test discovery keeps only the first entry of an ENVIRONMENT property list.
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
                              "${CMAKE_COMMAND};-E;env;${ARG_ENVIRONMENT}")
    endif()
    if(ARG_LABELS)
        list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} PROPERTIES ${props})
endfunction()
