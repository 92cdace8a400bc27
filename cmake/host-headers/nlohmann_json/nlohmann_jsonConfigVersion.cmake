# SPDX-License-Identifier: GPL-3.0-or-later
# The version of the host's nlohmann-json3-dev (3.x).
set(PACKAGE_VERSION 3.11)
if(PACKAGE_FIND_VERSION_MAJOR EQUAL 3)
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
