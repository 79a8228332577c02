// SPDX-License-Identifier: MIT
/*
 * kv_sysinfo_util: the device's role in a two-camera pair, its Wi-Fi connection type and the
 * file-name ordering between front and rear unit, read from and written to the shared
 * settings record. Plain field accesses, no lock: the record is shared memory that every
 * program reads and writes in place.
 */
#ifndef KV_SYSINFO_UTIL_H
#define KV_SYSINFO_UTIL_H

#include "sys_env_type.h"

#ifdef __cplusplus
extern "C" {
#endif

/* File-name order types (kv_config.file_name_order_type). The sole types: each unit names
 * its recordings by its own clock; front-front and rear-rear: the pair names them in step. */
enum {
  ORDER_TYPE_FRONT_SOLE = 0,
  ORDER_TYPE_FRONT_FRONT = 1,
  ORDER_TYPE_REAR_REAR = 2,
  ORDER_TYPE_REAR_SOLE = 3
};

/* Wi-Fi connection types. */
enum {
  WIFI_CONNECT_AP = 0, /* the unit runs the access point */
  WIFI_CONNECT_DDNS_STATION = 1,
  WIFI_CONNECT_REAR_STATION = 2 /* the unit joins the other unit's access point */
};

/* A null record is ignored by every function (getters give 0). */
void ClearSyncTime(SysInfo *pSysInfo);
int Is2ChFront(SysInfo *pSysInfo);
int Is2ChRear(SysInfo *pSysInfo);
int GetWifiConnectType(SysInfo *pSysInfo);
int IsRearWiFiConnected(SysInfo *pSysInfo);
void SetRearWiFiConnected(SysInfo *pSysInfo, int bConnected);
int IsRemoteDeivceConnected(SysInfo *pSysInfo);
void SetRemoteDeviceConnected(SysInfo *pSysInfo, int bConnected);
int IsFrontBasedDeviceSync(SysInfo *pSysInfo);
void SetFrontBasedDeviceSync(SysInfo *pSysInfo, int bFrontBasedSync);
int IsFnRSyncFileNameOrderType(SysInfo *pSysInfo);
int IsSoleFileNameOrderType(SysInfo *pSysInfo);
int IsEventRecordingState(SysInfo *pSysInfo);
void SetSoleFileNameOrderAll(SysInfo *pSysInfo);
void SetFnRSyncFileNameOrderAll(SysInfo *pSysInfo);
void SetRearFileNameOrderWithSync(SysInfo *pSysInfo);
void SetFrontFileNameOrderWithSync(SysInfo *pSysInfo);

#ifdef __cplusplus
}
#endif

#endif
