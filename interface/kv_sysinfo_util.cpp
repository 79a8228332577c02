// SPDX-License-Identifier: MIT
// Role, Wi-Fi connection type and file-name ordering over the shared settings record.
#include "kv_sysinfo_util.h"

#include <stdint.h>

#include "KVLog.h"
#include "kv_common_util.h"

namespace {

KV_Config_Data *config(SysInfo *p) { return p ? &p->kv_config : nullptr; }

bool isFront(const KV_Config_Data *c) { return c->front_rear_type == DEVICE_2CH_FRONT; }

// The order type of this unit's role: the front one for a front unit, else the rear one.
int orderFor(const KV_Config_Data *c, int front, int rear) { return isFront(c) ? front : rear; }

int setOrder(KV_Config_Data *c, int order) {
  c->file_name_order_type = static_cast<uint8_t>(order);
  return order;
}

}  // namespace

extern "C" {

void ClearSyncTime(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  if (!c) return;
  c->gps_sync_time_time = 0;
  c->gps_sync_time_activate = 0;
}

int Is2ChFront(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c && isFront(c) ? 1 : 0;
}

int Is2ChRear(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c && c->front_rear_type == DEVICE_2CH_REAR ? 1 : 0;
}

int GetWifiConnectType(SysInfo *pSysInfo) {
  return Is2ChFront(pSysInfo) ? WIFI_CONNECT_AP : WIFI_CONNECT_REAR_STATION;
}

int IsRearWiFiConnected(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c ? c->rear_connected : 0;
}

void SetRearWiFiConnected(SysInfo *pSysInfo, int bConnected) {
  KV_Config_Data *c = config(pSysInfo);
  if (!c) return;
  c->rear_connected = static_cast<uint8_t>(bConnected);
  KVLog("\n");
}

int IsRemoteDeivceConnected(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c ? c->remote_device_on : 0;
}

void SetRemoteDeviceConnected(SysInfo *pSysInfo, int bConnected) {
  KV_Config_Data *c = config(pSysInfo);
  if (!c) return;
  KVLog("remote_on=%d\n", bConnected);
  c->remote_device_on = static_cast<uint8_t>(bConnected);
}

int IsFrontBasedDeviceSync(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c ? c->file_name_sync_type : 0;
}

void SetFrontBasedDeviceSync(SysInfo *pSysInfo, int bFrontBasedSync) {
  KV_Config_Data *c = config(pSysInfo);
  if (c) c->file_name_sync_type = static_cast<uint8_t>(bFrontBasedSync);
}

int IsFnRSyncFileNameOrderType(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c && c->file_name_order_type == orderFor(c, ORDER_TYPE_FRONT_FRONT, ORDER_TYPE_REAR_REAR)
             ? 1
             : 0;
}

int IsSoleFileNameOrderType(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c && c->file_name_order_type == orderFor(c, ORDER_TYPE_FRONT_SOLE, ORDER_TYPE_REAR_SOLE)
             ? 1
             : 0;
}

int IsEventRecordingState(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  return c && (c->record_state == BB_RECORD_IMPACT_EVENT ||
               c->record_state == BB_RECORD_MANUAL_EVENT)
             ? 1
             : 0;
}

void SetSoleFileNameOrderAll(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  if (!c) return;
  KVLog("sole2=%d\n", setOrder(c, orderFor(c, ORDER_TYPE_FRONT_SOLE, ORDER_TYPE_REAR_SOLE)));
}

void SetFnRSyncFileNameOrderAll(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  if (!c) return;
  KVLog("sync2=%d\n", setOrder(c, orderFor(c, ORDER_TYPE_FRONT_FRONT, ORDER_TYPE_REAR_REAR)));
}

void SetRearFileNameOrderWithSync(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  if (!c) return;
  KVLog("sole1=%d\n",
        setOrder(c, c->file_name_sync_type ? ORDER_TYPE_REAR_REAR : ORDER_TYPE_REAR_SOLE));
}

void SetFrontFileNameOrderWithSync(SysInfo *pSysInfo) {
  KV_Config_Data *c = config(pSysInfo);
  if (!c) return;
  KVLog("sync1=%d\n",
        setOrder(c, c->file_name_sync_type ? ORDER_TYPE_FRONT_FRONT : ORDER_TYPE_FRONT_SOLE));
}

}  // extern "C"
