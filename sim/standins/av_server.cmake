# SPDX-License-Identifier: MIT
# The AV server of the simulated board, named as the board's process: av_server.out.
kv_standin(av_server av_server.cpp)
set_target_properties(av_server PROPERTIES OUTPUT_NAME av_server.out)
