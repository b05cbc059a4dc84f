# Shared compile settings for every target of the project.

set(QUORVEL_WARNINGS -Wall -Wextra -Wpedantic)
if(QUORVEL_WERROR)
  list(APPEND QUORVEL_WARNINGS -Werror)
endif()

if(QUORVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
if(QUORVEL_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  # Asio's fences make GCC warn that TSan does not model atomic_thread_fence;
  # the warning is about the tool, not our code.
  list(APPEND QUORVEL_WARNINGS -Wno-tsan)
  add_link_options(-fsanitize=thread)
endif()

# A core target: warnings on, and narrow string literals stored as GBK, the
# code page of every text the system keeps in memory, in files and in the log.
# The compiler is told GB18030: it encodes every GBK character exactly as GBK
# does, and it can also encode the few non-GBK characters in system headers
# (<chrono> has a micro sign), which plain GBK rejects with an error.
# Clang stores narrow literals only as UTF-8 and refuses the option; the one
# clang build is the fuzz build (scripts/fuzz.sh), whose code under test holds
# no Chinese literals.
function(quorvel_core target)
  target_compile_options(${target} PRIVATE ${QUORVEL_WARNINGS})
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=GB18030)
  endif()
endfunction()

# A toolkit target (the Qt front end): warnings on, literals stay UTF-8.
function(quorvel_plain target)
  target_compile_options(${target} PRIVATE ${QUORVEL_WARNINGS})
endfunction()

# A GoogleTest executable registered with CTest. Tests get a generous time
# limit of their own so a hang fails instead of blocking CI.
function(quorvel_test target)
  add_executable(${target} ${ARGN})
  quorvel_core(${target})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main quorvel_test_support)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
