# SPDX-License-Identifier: MIT
# The settings file manager's stand-in: owns SysInfo in the segment of key 12930021.
# Its store format and defaults are the fixture's (sandbox/sandbox_settings.*).
kv_standin(file_manager file_manager.cpp ${PROJECT_SOURCE_DIR}/sim/sandbox/sandbox_settings.cpp)
target_include_directories(file_manager PRIVATE ${PROJECT_SOURCE_DIR}/sim/sandbox)
