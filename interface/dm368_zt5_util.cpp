// SPDX-License-Identifier: MIT
#include "dm368_zt5_util.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstddef>

#include "board_root.h"
#include "kv_owners.hpp"

namespace {

using kv::UniqueFd;

constexpr const char kOpenError[] = "Error: can't open device\n";
constexpr const char kReadError[] = "Error: can't read data\n";
constexpr const char kWriteError[] = "Error: can't write data\n";

void report(const char *message) { fputs(message, stderr); }

// ---- reading nodes -------------------------------------------------------------------

enum class ReadResult { ok, cannot_open, cannot_read };

// One read() of at most size - 1 bytes into a zero-filled buffer, so the text is always
// terminated whatever the node holds.
ReadResult read_node(const char *node, char *buf, size_t size) {
  memset(buf, 0, size);
  UniqueFd fd(kv_open(node, O_RDONLY));
  if (!fd.ok()) return ReadResult::cannot_open;
  ssize_t n;
  do {
    n = read(fd.get(), buf, size - 1);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? ReadResult::ok : ReadResult::cannot_read;
}

// The first byte of a detect node: 1 for '1', 0 otherwise, `failed` when the node cannot
// be opened or read (after the driver-layer message).
int read_flag(const char *node, int failed) {
  char buf[2];
  switch (read_node(node, buf, sizeof buf)) {
    case ReadResult::cannot_open:
      report(kOpenError);
      return failed;
    case ReadResult::cannot_read:
      report(kReadError);
      return failed;
    case ReadResult::ok:
      break;
  }
  return buf[0] == '1' ? 1 : 0;
}

// A decimal number node of at most `max_bytes` (< 32) bytes: its strtol value, or -1
// after the message.
int read_number(const char *node, size_t max_bytes, long *value) {
  char buf[32];
  static_assert(sizeof buf > 16, "the longest number node is 16 bytes");
  switch (read_node(node, buf, max_bytes < sizeof buf ? max_bytes + 1 : sizeof buf)) {
    case ReadResult::cannot_open:
      report(kOpenError);
      return -1;
    case ReadResult::cannot_read:
      report(kReadError);
      return -1;
    case ReadResult::ok:
      break;
  }
  *value = strtol(buf, nullptr, 10);
  return 0;
}

int clamp_to_int(long v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The drivers print one whitespace-delimited token ("%s" of stdio): copies it into `out`
// (at most out_size - 1 characters). `out` is untouched unless the result is ok; a node
// that holds no token counts as unreadable.
ReadResult read_token(const char *node, char *out, size_t out_size) {
  char buf[KV_NODE_TOKEN_SIZE];
  ReadResult r = read_node(node, buf, sizeof buf);
  if (r != ReadResult::ok) return r;
  const char *p = buf;
  while (*p && is_blank(*p)) ++p;
  size_t n = 0;
  while (p[n] && !is_blank(p[n])) ++n;
  if (n == 0) return ReadResult::cannot_read;
  if (n > out_size - 1) n = out_size - 1;
  memcpy(out, p, n);
  out[n] = '\0';
  return ReadResult::ok;
}

// Splits "%d_%d_..." into up to `count` ints, as sscanf would, but without its undefined
// behaviour on out-of-range numbers: the first field that is missing, not a number or out
// of range ends the parse, and it and every later field keep the caller's values.
int parse_fields(const char *token, int *out, int count) {
  const char *p = token;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (*p != '_') return i;
      ++p;
    }
    char *end = nullptr;
    errno = 0;
    long v = strtol(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return i;
    out[i] = static_cast<int>(v);
    p = end;
  }
  return count;
}

// ---- writing records -----------------------------------------------------------------

enum class WriteResult { ok, cannot_open, cannot_write, too_long };

constexpr size_t kMaxRecord = 32;  // the largest record of any node (G-sensor: 30)

// One write() of the whole record, so the driver takes it whole. Nodes are opened without
// O_CREAT (a missing driver is an error, not a new file); O_TRUNC is ignored by sysfs and
// keeps a simulated node holding exactly the last record.
WriteResult write_bytes(const char *node, const char *record, size_t record_size) {
  UniqueFd fd(kv_open(node, O_WRONLY | O_TRUNC));
  if (!fd.ok()) return WriteResult::cannot_open;
  ssize_t n;
  do {
    n = write(fd.get(), record, record_size);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? WriteResult::ok : WriteResult::cannot_write;
}

// A command text as a record: the text, its terminating zero, zeros up to the size. A
// text that does not fit is refused rather than sent cut (a cut number is another command).
WriteResult write_record(const char *node, const char *text, size_t record_size) {
  char record[kMaxRecord] = {};
  size_t len = strnlen(text, sizeof record);
  if (record_size > sizeof record || len >= record_size) return WriteResult::too_long;
  memcpy(record, text, len);
  return write_bytes(node, record, record_size);
}

// Formats a command text into a zero-filled buffer; false when it would be cut.
__attribute__((format(printf, 3, 4))) bool format_text(char *buf, size_t size, const char *fmt,
                                                       ...) {
  memset(buf, 0, size);
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, size, fmt, ap);
  va_end(ap);
  return n >= 0 && static_cast<size_t>(n) < size;
}

// A record that a caller hands over: its bytes up to the first zero (all of the record if
// there is none), then zeros, so a short string literal is never read past its end.
WriteResult write_caller_record(const char *node, const char *cmd, size_t record_size) {
  if (!cmd || record_size > kMaxRecord) return WriteResult::cannot_write;
  char record[kMaxRecord] = {};
  memcpy(record, cmd, strnlen(cmd, record_size));
  return write_bytes(node, record, record_size);
}

// ---- controller ----------------------------------------------------------------------

// Every controller command is "<number>_<argument>" in a 20-byte record. The controller
// gives no answer and the system does not learn of a lost command, so the result is 0.
int micom_command(int number, int argument) {
  char text[KV_NODE_TOKEN_SIZE];
  if (format_text(text, sizeof text, "%d_%d", number, argument))
    write_record(KV_NODE_MICOM_DATA, text, KV_MICOM_RECORD_SIZE);
  return 0;
}

// ---- G-sensor ------------------------------------------------------------------------

int gsensor_command(int number, int argument) {
  char text[KV_GSENSOR_RECORD_SIZE];
  format_text(text, sizeof text, "%d_%d", number, argument);  // "1_-2147483648" fits
  WriteResult r = write_record(KV_NODE_GSENSOR_DATA, text, KV_GSENSOR_RECORD_SIZE);
  if (r == WriteResult::cannot_open) return -1;
  puts(text);
  return 0;
}

// ---- LEDs ----------------------------------------------------------------------------

// The LED driver's modes.
enum LedMode {
  kLedOff = -1,
  kLedSteady = 0,
  kLedBlink = 1,
  kLedAlternate = 2,
  kLedTri = 3,
  kLedRotate = 4
};

void led_error() { fputs("Error!", stdout); }

// One pattern record "mode_set1_set2_on_off". A node that cannot be opened is silent.
int led_record(int mode, int set_1, int set_2, int on_delay, int off_delay) {
  char text[KV_NODE_TOKEN_SIZE];
  bool fits =
      format_text(text, sizeof text, "%d_%d_%d_%d_%d", mode, set_1, set_2, on_delay, off_delay);
  if (!fits ||
      write_record(KV_NODE_LEDS_CONTROL, text, KV_LEDS_RECORD_SIZE) == WriteResult::too_long) {
    led_error();
    return -1;
  }
  return 0;
}

// Every pattern starts from dark; a rejected delay combination leaves the LEDs off.
int led_pattern(bool delays_ok, int mode, int set_1, int set_2, int on_delay, int off_delay) {
  LEDs_off();
  if (!delays_ok) {
    led_error();
    return -1;
  }
  return led_record(mode, set_1, set_2, on_delay, off_delay);
}

}  // namespace

extern "C" {

// ---- status readers --------------------------------------------------------------------

int is_interch_inserted(void) { return read_flag(KV_NODE_INTERCH_STATUS, 0); }
int is_av_cable_inserted(void) { return read_flag(KV_NODE_CABLE_STATUS, 0); }
int is_dc_cable_inserted(void) { return read_flag(KV_NODE_DC_STATUS, 0); }
int check_cd_status(void) { return read_flag(KV_NODE_CD_STATUS, -1); }

int is_sdcard_inserted(void) {
  int first = check_cd_status();
  if (first != 1) return first;
  // A card being pushed in bounces the detect line: believe it only if it stays.
  waitms(100);
  return check_cd_status();
}

int get_internal_battery_level(void) {
  long microvolts = 0;
  if (read_number(KV_NODE_BATTERY_LEVEL, 16, &microvolts) != 0) return -1;
  // Saturate first, as a 32-bit long does on the board, so both builds agree.
  return clamp_to_int(microvolts) / 1000;
}

int enable_internal_battery(void) {
  UniqueFd fd(kv_open(KV_NODE_BATTERY_LEVEL, O_WRONLY | O_TRUNC));
  if (!fd.ok()) {
    report(kOpenError);
    return -1;
  }
  if (write(fd.get(), "100", 3) <= 0) {
    report(kWriteError);
    return -1;
  }
  return 0;
}

int kv_device_get_board_info(void) {
  long type = 0;
  if (read_number(KV_NODE_BOARD_INFO, 8, &type) != 0) return -1;
  return clamp_to_int(type);
}

int set_white_led(int on_delay, int off_delay) {
  char text[KV_WHITE_LED_RECORD_SIZE];
  if (!format_text(text, sizeof text, "%d_%d", on_delay, off_delay)) {
    report(kWriteError);  // would not fit the record: never sent cut
    return -1;
  }
  switch (write_record(KV_NODE_WHITE_LED, text, KV_WHITE_LED_RECORD_SIZE)) {
    case WriteResult::ok:
      return 0;
    case WriteResult::cannot_open:
      report(kOpenError);
      return -1;
    case WriteResult::cannot_write:
    case WriteResult::too_long:
      break;
  }
  report(kWriteError);
  return -1;
}

// ---- controller ----------------------------------------------------------------------

int micom_echo(const char *cmd) {
  write_caller_record(KV_NODE_MICOM_DATA, cmd, KV_MICOM_RECORD_SIZE);
  return 0;
}

int micom_cat(char *buffer) {
  if (buffer) read_token(KV_NODE_MICOM_DATA, buffer, KV_NODE_TOKEN_SIZE);
  return 0;
}

int micom_status(int *current_status) {
  if (!current_status) return -1;
  char token[KV_NODE_TOKEN_SIZE] = {};
  if (read_token(KV_NODE_MICOM_DATA, token, sizeof token) == ReadResult::ok)
    parse_fields(token, current_status, 4);
  return 0;
}

int micom_main_buck_restart(void) { return micom_command(1, 0); }
int micom_main_buck_off(void) { return micom_command(2, 0); }
int micom_set_new_wakeup_level(int new_wakeup_level) { return micom_command(3, new_wakeup_level); }
int micom_adc_data_stop(void) { return micom_command(4, 0); }
int micom_adc_data_start(void) { return micom_command(4, 1); }
int micom_emergency_off(void) { return micom_command(6, 0); }

int micom_set_system_monitoring(int status) {
  if (status != 0 && status != 1) return 0;
  return micom_command(5, status);
}

int micom_set_new_malfunction_counter(void) {
  micom_command(7, 5);
  waitms(100);  // the controller stores the counter before it takes the next command
  return 0;
}

// ---- G-sensor ------------------------------------------------------------------------

int gsensor_data_grabber(int *gsensor_data) {
  if (!gsensor_data) return -1;
  char token[KV_GSENSOR_RECORD_SIZE] = {};
  ReadResult r = read_token(KV_NODE_GSENSOR_DATA, token, sizeof token);
  if (r == ReadResult::cannot_open) return -1;
  if (r == ReadResult::ok) parse_fields(token, gsensor_data, 5);
  return 0;
}

int gsensor_set_threshold(int new_high_g_threshold) {
  return gsensor_command(0, new_high_g_threshold);
}
int gsensor_wifi_on_off(int wifi_status) { return gsensor_command(1, wifi_status); }

// ---- conversions and helpers ---------------------------------------------------------

unsigned char crc8(const unsigned char *data_in, int number_of_bytes) {
  unsigned int crc = 0;
  if (!data_in) return 0;
  for (int i = 0; i < number_of_bytes; ++i) {
    unsigned int data = data_in[i];
    for (int bit = 0; bit < 8; ++bit) {
      unsigned int feedback = (crc ^ data) & 1u;
      crc = feedback ? ((crc ^ 0x18u) >> 1) | 0x80u : crc >> 1;
      data >>= 1;
    }
  }
  return static_cast<unsigned char>(crc);
}

double micom_ADC_to_Voltage(int ADC, int table_old_new) {
  double raw = table_old_new == 1
                   ? (ADC + 92.427) / 17.649
                   : static_cast<double>(static_cast<long long>(ADC) - 1030) / 14.045;
  // The controller reports in 0.1 V steps: truncate, never below zero.
  double steps = raw > 0 ? floor(raw) : 0.0;
  if (steps > UINT_MAX) steps = UINT_MAX;
  double volts = static_cast<unsigned int>(steps) / 10.0;
  // The divider in front of the ADC differs by board, and on a front unit by whether the
  // rear unit's interch cable loads it.
  double offset = 0.5;
  if (kv_device_get_board_info() == KV_BOARD_FRONT) offset = is_interch_inserted() ? 0.4 : 0.1;
  return volts + offset;
}

unsigned int micom_Voltage_to_ADC(double Voltage, int table_old_new) {
  double counts = table_old_new == 1 ? Voltage * 176.49 - 92.427 : Voltage * 140.45 + 1030.0;
  if (!(counts > 0)) return 0;  // negative or NaN
  if (counts >= static_cast<double>(UINT_MAX)) return UINT_MAX;
  return static_cast<unsigned int>(counts);
}

int waitms(int ms) {
  for (int i = 0; i < ms; ++i) usleep(1000);
  return 0;
}

// ---- fixed results -------------------------------------------------------------------

int one_wire_read_byte_data(unsigned char *) { return 1; }
int one_wire_write_byte_data(unsigned char) { return 1; }
int kv_device_wifi_on_off(int) { return 0; }
int kv_device_get_board_status(void) { return 0; }
int kv_device_get_gpio_status(void) { return 0; }
int is_gps_device(void) { return 1; }
int get_temperature_threshold(void) { return 0; }
int set_temperature_threshold(int) { return 0; }

// ---- LEDs ----------------------------------------------------------------------------

int LEDs_echo(const char *cmd) {
  write_caller_record(KV_NODE_LEDS_CONTROL, cmd, KV_LEDS_RECORD_SIZE);
  return 0;
}

int LEDs_cat(char *buffer) {
  if (buffer) read_token(KV_NODE_LEDS_CONTROL, buffer, KV_NODE_TOKEN_SIZE);
  return 0;
}

int LEDs_off(void) {
  int state[5] = {0, 0, 0, 0, 0};  // an unreadable node counts as lit: switch off anyway
  char token[KV_NODE_TOKEN_SIZE] = {};
  if (read_token(KV_NODE_LEDS_CONTROL, token, sizeof token) == ReadResult::ok)
    parse_fields(token, state, 5);
  if (state[0] == kLedOff) {
    fputs("Already off!", stdout);
    return -1;
  }
  led_record(kLedOff, 0, 0, 0, 0);
  usleep(300);  // the driver stops the running pattern before it takes the next one
  return 0;
}

int LEDs_general(int color, int on_delay, int off_delay) {
  bool steady = on_delay == 0 && off_delay == 0;
  bool blink = on_delay != 0 && off_delay != 0;
  return led_pattern(steady || blink, steady ? kLedSteady : kLedBlink, color, 0, on_delay,
                     off_delay);
}

int LEDs_PURPLE(int on_delay, int off_delay) {
  return LEDs_general(KV_LEDS_MASK_PURPLE, on_delay, off_delay);
}
int LEDs_BLUE(int on_delay, int off_delay) {
  return LEDs_general(KV_LEDS_MASK_BLUE, on_delay, off_delay);
}
int LEDs_RED(int on_delay, int off_delay) {
  return LEDs_general(KV_LEDS_MASK_RED, on_delay, off_delay);
}

int LEDs_bi_toggle(int color_1, int color_2, int on_delay, int off_delay) {
  return led_pattern(on_delay != 0, kLedAlternate, color_1, color_2, on_delay, off_delay);
}

int LEDs_general_rotational_toggle(int color, int on_delay, int off_delay) {
  return led_pattern(on_delay != 0, kLedRotate, color, 0, on_delay, off_delay);
}

int LEDs_rotational_toggle(int color, int on_delay, int off_delay) {
  return led_pattern(on_delay != 0, kLedRotate, color % 10, 0, on_delay, off_delay);
}

int LEDs_tri_toggle(int on_delay, int off_delay) {
  return led_pattern(on_delay != 0, kLedTri, 0, 0, on_delay, off_delay);
}

}  // extern "C"
