# SPDX-License-Identifier: MIT
# The recorder's event hub on a simulated board (kv_server.cpp).
kv_standin(kv_server kv_server.cpp kv_server_gps.cpp kv_server_record.cpp)
# Its control headers (kv_server_gps.h, kv_server_record.h) hold the tests' senders too,
# which name the sandbox.
target_include_directories(kv_server PRIVATE ${PROJECT_SOURCE_DIR}/sim/sandbox)
