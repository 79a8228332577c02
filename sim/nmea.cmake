# SPDX-License-Identifier: MIT
# The simulated GPS receiver: generated drives, the feeder that plays them into the GPS
# port, and the library the tests call directly (linked into the sandbox fixture).
add_library(kvsim_nmea STATIC ${CMAKE_CURRENT_LIST_DIR}/nmea_drive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/nmea_feed.cpp)
target_include_directories(kvsim_nmea PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kvsim_nmea PUBLIC kvnmea Threads::Threads)
kv_warnings(kvsim_nmea)
target_link_libraries(kvsim PUBLIC kvsim_nmea)

kv_standin(nmea_drive ${CMAKE_CURRENT_LIST_DIR}/nmea_drive_main.cpp)
target_link_libraries(nmea_drive PRIVATE kvsim_nmea)
kv_standin(nmea_feeder ${CMAKE_CURRENT_LIST_DIR}/nmea_feeder.cpp)
target_link_libraries(nmea_feeder PRIVATE kvsim_nmea)
