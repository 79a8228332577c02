# SPDX-License-Identifier: MIT
kv_standin(gsensor_feeder gsensor_feeder.cpp)
