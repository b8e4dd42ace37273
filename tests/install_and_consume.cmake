# What a user of the library meets. MODE=install: the build tree installed
# into a scratch prefix opens with dlopen with nothing on LD_LIBRARY_PATH,
# find_package checks the version, the example project builds and runs
# against the prefix, and the installed Python module imports from it.
# MODE=subdirectory: the example project builds the library from its source
# tree with add_subdirectory and runs.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
# Whatever runs here finds its libraries through run paths alone; the
# example's figures are those of the default smoothing algorithm.
set(plain_env ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH congestion_use_orig=0)

# The page of the C++ interface quotes the example's main and what it
# prints, as they are.
set(page docs/cpp-api.md)
file(READ "${SOURCE_DIR}/${page}" page_text)
file(READ "${SOURCE_DIR}/examples/estimate.cpp" example)
string(FIND "${example}" "int main()" main_start)
if(main_start GREATER_EQUAL 0)
    string(SUBSTRING "${example}" ${main_start} -1 example_main)
    string(FIND "${page_text}" "${example_main}" quoted)
endif()
if(main_start EQUAL -1 OR quoted EQUAL -1)
    message(FATAL_ERROR "${page} does not quote the main of examples/estimate.cpp as it stands")
endif()
if(NOT page_text MATCHES "It prints:\n\n```\n([^`]*)```")
    message(FATAL_ERROR "${page} does not show what the example prints")
endif()
set(example_output "${CMAKE_MATCH_1}")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "command failed (${result}): ${ARGN}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_output pattern)
    if(NOT last_output MATCHES "${pattern}")
        message(FATAL_ERROR "expected output matching '${pattern}', got:\n${last_output}")
    endif()
endfunction()

# Builds and runs the example project configured with the given options.
# The example's figures do not depend on the optimisation level, so the
# library built as a subdirectory is built without optimisation, which
# compiles in a fraction of the time.
function(run_example name build_type)
    run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/examples" -B "${WORK_DIR}/${name}" -DCMAKE_BUILD_TYPE=${build_type} ${ARGN})
    run(${CMAKE_COMMAND} --build "${WORK_DIR}/${name}" -j 2)
    run(${plain_env} "${WORK_DIR}/${name}/estimate")
    if(NOT last_output STREQUAL example_output)
        message(FATAL_ERROR "the example printed:\n${last_output}\n${page} says:\n${example_output}")
    endif()
endfunction()

if(MODE STREQUAL "subdirectory")
    run_example(subdirectory Debug "-DCONGESTION_SOURCE_DIR=${SOURCE_DIR}")
    # As another project's subdirectory the library comes alone.
    file(STRINGS "${WORK_DIR}/subdirectory/CMakeCache.txt" switched_on
        REGEX "^CONGESTION_(BUILD_TESTS|BUILD_TOOLS|BUILD_PYTHON|INSTALL):BOOL=ON$")
    if(switched_on)
        message(FATAL_ERROR "a subdirectory build defaults to ${switched_on}")
    endif()
    return()
endif()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
run(${plain_env} "${LOAD_LIBRARY}" "${prefix}/${LIBDIR}/libcongestion.so")

execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}/examples" -B "${WORK_DIR}/too-new"
    "-DCMAKE_PREFIX_PATH=${prefix}" -DCONGESTION_REQUIRED_VERSION=${VERSION_MAJOR}.99
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
if(result EQUAL 0 OR NOT err MATCHES "compatible with requested version")
    message(FATAL_ERROR "find_package accepted version ${VERSION_MAJOR}.99 of the package:\n${err}")
endif()

run_example(installed Release "-DCMAKE_PREFIX_PATH=${prefix}")

if(PYTHON)
    run(${plain_env} "PYTHONPATH=${prefix}/${PYTHON_DIR}" "${PYTHON}" -c
        "import congestion\nprint(congestion.__version__, congestion.__file__)")
    expect_output("^${VERSION} ${prefix}/")
endif()
