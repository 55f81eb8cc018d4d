# The host libraries' interfaces as the controller expects them (hostapi/:
# <libnv.h>, <libnvpair.h>, <libzfs.h>, <vmmapi.h>). Targets that include them
# link ombrix_host_headers. Where the host lacks one of these headers, hostapi/
# goes on their include path as a system directory searched after the host's
# own (-idirafter), so that a header the host does have is always the host's.
include(CheckIncludeFileCXX)

set(OMBRIX_HOSTAPI_HEADERS libnv.h libnvpair.h libzfs.h vmmapi.h)
set(OMBRIX_HOSTAPI_MISSING "")
foreach(header ${OMBRIX_HOSTAPI_HEADERS})
  string(MAKE_C_IDENTIFIER "OMBRIX_HOST_HAS_${header}" found)
  check_include_file_cxx(${header} ${found})
  if(NOT ${found})
    list(APPEND OMBRIX_HOSTAPI_MISSING ${header})
  endif()
endforeach()

add_library(ombrix_host_headers INTERFACE)
if(OMBRIX_HOSTAPI_MISSING)
  message(STATUS "Host library headers taken from hostapi/: ${OMBRIX_HOSTAPI_MISSING}")
  target_compile_options(ombrix_host_headers INTERFACE
    "SHELL:-idirafter ${CMAKE_SOURCE_DIR}/hostapi")
endif()

# The controller and the storage library reach the host only through these
# interfaces: nothing of theirs includes a stand-in's header, nor a host
# interface by its path in this tree instead of as a system header.
add_test(NAME ProductIncludesNoStandIn
  COMMAND sh -c "! grep -rnE --include=*.cpp --include=*.h '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](sim|hostapi)/' src storage"
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
