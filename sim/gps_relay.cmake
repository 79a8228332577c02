# SPDX-License-Identifier: MIT
# A second sender of relay requests on kv_navlink's GPS channel (sim/gps_relay.cpp).
kv_standin(gps_relay gps_relay.cpp)
