# pindle_order_functions(<target>)
#
# Lays out first, together, the functions of <target> that a typical host process runs
# (start-up, a session, a request, a download), as listed in cmake/order/<target>.order, which
# scripts/order-functions writes from such runs. Code pages are mapped in aligned blocks
# around each one a process touches, so functions spread over a whole library make most of
# its code resident; gathered, they fit a few blocks.
#
# Only optimised builds without sanitizers, and only where the LLVM linker is installed
# (GNU ld has no symbol ordering): each function gets a section of its own and lld orders
# them. A listed function that no longer exists is skipped; one not listed keeps its place
# after the listed ones, so a stale list costs memory, never correctness.
include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" PINDLE_HAVE_LLD)

function(pindle_order_functions target)
  set(order_file ${PROJECT_SOURCE_DIR}/cmake/order/${target}.order)
  if(NOT PINDLE_HAVE_LLD OR PINDLE_SANITIZE OR PINDLE_FUZZ OR NOT EXISTS ${order_file})
    return()
  endif()
  set(optimised $<NOT:$<CONFIG:Debug>>)
  target_compile_options(${target} PRIVATE $<${optimised}:-ffunction-sections>)
  target_link_options(${target} PRIVATE
    $<${optimised}:-fuse-ld=lld;LINKER:--symbol-ordering-file=${order_file};LINKER:--no-warn-symbol-ordering>)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${order_file})
endfunction()
