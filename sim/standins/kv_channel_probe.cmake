# SPDX-License-Identifier: MIT
# One client of every server channel, for the cross-architecture tests (see its file).
kv_standin(kv_channel_probe kv_channel_probe.cpp)
