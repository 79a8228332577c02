# SPDX-License-Identifier: MIT
# The recorder's event hub on a simulated board (sim/kv_server.cpp).
kv_standin(kv_server kv_server.cpp kv_server_gps.cpp kv_server_record.cpp)
