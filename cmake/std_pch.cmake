# em1's and the simulator's sources spend a third of their compile time parsing the same
# standard headers. With EM_SHARED_STD_PCH their libraries share one precompiled header of
# those headers, made once per build. The release build goes without, so that what users run
# is compiled from each source alone, and a source that uses a standard header it does not
# include fails to build there.
option(EM_SHARED_STD_PCH "Share one precompiled header of the standard library among em1's and the simulator's libraries" ON)

set(em_std_pch_headers <algorithm> <array> <chrono> <cmath> <cstdint> <cstdio> <cstring>
    <functional> <memory> <optional> <span> <string> <string_view> <vector>)

# em_share_std_pch(OWNER TARGET...): OWNER makes the header, the other targets reuse it. All
# are static libraries of C++ sources compiled with the same options.
function(em_share_std_pch owner)
  if(NOT EM_SHARED_STD_PCH)
    return()
  endif()
  target_precompile_headers(${owner} PRIVATE ${em_std_pch_headers})
  foreach(target IN LISTS ARGN)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  endforeach()
endfunction()
