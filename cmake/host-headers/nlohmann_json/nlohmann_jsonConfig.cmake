# SPDX-License-Identifier: GPL-3.0-or-later
# nlohmann/json for the mingw build: the header-only library installed for
# the host (nlohmann-json3-dev), without the rest of the host's /usr/include.
find_path(NX_HOST_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH REQUIRED)
set(_nx_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_nx_headers})
file(CREATE_LINK ${NX_HOST_NLOHMANN_DIR}/nlohmann ${_nx_headers}/nlohmann SYMBOLIC)
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_nx_headers})
endif()
