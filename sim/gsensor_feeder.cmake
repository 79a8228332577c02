# SPDX-License-Identifier: MIT
kv_standin(gsensor_feeder ${CMAKE_CURRENT_LIST_DIR}/gsensor_feeder.cpp)
