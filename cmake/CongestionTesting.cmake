# congestion_add_test_both_algorithms(NAME COMMAND cmd... [ENVIRONMENT var=value...]
#                                     [PROPERTIES prop value...])
# Registers the test twice, as NAME.new under the new smoothing algorithm
# (congestion_use_orig=0) and as NAME.orig under the original one
# (congestion_use_orig=1), since every result downstream of smoothing
# depends on which one the library loaded with.
function(congestion_add_test_both_algorithms name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "COMMAND;ENVIRONMENT;PROPERTIES")
    foreach(algorithm new orig)
        if(algorithm STREQUAL "orig")
            set(use_orig 1)
        else()
            set(use_orig 0)
        endif()
        set(environment ${arg_ENVIRONMENT})
        list(APPEND environment congestion_use_orig=${use_orig})
        add_test(NAME ${name}.${algorithm} COMMAND ${arg_COMMAND})
        set_tests_properties(${name}.${algorithm} PROPERTIES ENVIRONMENT "${environment}" ${arg_PROPERTIES})
    endforeach()
endfunction()
