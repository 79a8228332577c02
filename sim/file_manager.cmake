# SPDX-License-Identifier: MIT
# The settings file manager's stand-in: owns SysInfo in the segment of key 12930021.
kv_standin(file_manager file_manager.cpp sandbox_settings.cpp)
