# SPDX-License-Identifier: MIT
# The system server of the simulated board (see system_server.cpp).
kv_standin(system_server system_server.cpp)
