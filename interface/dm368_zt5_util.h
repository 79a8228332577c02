// SPDX-License-Identifier: MIT
/*
 * dm368_zt5_util: the board-access layer. Status nodes of the board's kernel drivers
 * (battery, jacks, SD card detect, board type), the power/LED micro-controller ("micom"),
 * the acceleration sensor (G-sensor), the status LEDs, and small helpers (CRC-8, ADC
 * conversions, millisecond sleeps).
 *
 * Every call opens its node through the board root, does one read or one write and closes
 * it again: nothing is kept between calls, and calls from several threads or processes
 * interleave at the granularity of one record. Messages go to standard error unless noted.
 *
 * Command records are decimal fields joined by '_' written as fixed-size records: the
 * text followed by zero bytes up to the record size (controller and LEDs 20 bytes,
 * G-sensor 30, white LED 16). A text that would not fit its record with its terminating
 * zero is never sent cut: the call reports it (see each function).
 */
#ifndef KV_DM368_ZT5_UTIL_H
#define KV_DM368_ZT5_UTIL_H

#ifdef __cplusplus
extern "C" {
#endif

/* ---- board nodes (board paths; opened through the board root) ---------------------- */
#define KV_NODE_BATTERY_LEVEL "/sys/devices/platform/adc_davinci.1/battery_level"
#define KV_NODE_INTERCH_STATUS "/sys/devices/platform/kv_jack.0/interch_status"
#define KV_NODE_CABLE_STATUS "/sys/devices/platform/kv_jack.0/cable_status"
#define KV_NODE_DC_STATUS "/sys/devices/platform/kv_jack.0/dc_status"
#define KV_NODE_CD_STATUS "/sys/devices/platform/davinci_mmc.0/cd_status"
#define KV_NODE_BOARD_INFO "/sys/devices/platform/kv_device/kv_board_info"
#define KV_NODE_WHITE_LED "/sys/devices/platform/LEDs_driver.3/white_led"
#define KV_NODE_LEDS_CONTROL "/sys/devices/platform/LEDs_driver.3/LEDs_control"
#define KV_NODE_MICOM_DATA "/sys/devices/platform/i2c_davinci.1/i2c-1/1-0031/micom_data"
#define KV_NODE_GSENSOR_DATA "/sys/devices/platform/i2c_davinci.1/i2c-1/1-0018/gsensor_data"

/* Record sizes the drivers take whole. */
#define KV_MICOM_RECORD_SIZE 20
#define KV_LEDS_RECORD_SIZE 20
#define KV_GSENSOR_RECORD_SIZE 30
#define KV_WHITE_LED_RECORD_SIZE 16
/* Buffers that receive a token read back from the controller or the LED node
 * (micom_cat, LEDs_cat) must hold this many bytes; at most one less is stored. */
#define KV_NODE_TOKEN_SIZE 100

/* Board types reported by kv_device_get_board_info(). */
#define KV_BOARD_SINGLE 0 /* single camera */
#define KV_BOARD_FRONT 1  /* front unit of a two-channel set */
#define KV_BOARD_REAR 2   /* rear unit */

/* ---- status readers ----------------------------------------------------------------- */
/* 1 when the jack's node reads '1' first, else 0. A node that cannot be opened or read
 * gives "Error: can't open device\n" / "Error: can't read data\n" and 0. */
int is_interch_inserted(void);
int is_av_cable_inserted(void);
int is_dc_cable_inserted(void);
/* SD card detect: 1 card present, 0 slot empty, -1 node not openable or unreadable
 * (with the same two messages). */
int check_cd_status(void);
/* Debounced card detect: as check_cd_status, but a present card is read a second time
 * after 100 ms and counts only if it is still there. An empty slot returns at once. */
int is_sdcard_inserted(void);
/* Internal battery in millivolts (the node gives microvolts); -1 on failure. */
int get_internal_battery_level(void);
/* Switches the internal battery on ("100" to the battery node): 0, or -1 with
 * "Error: can't open device\n" / "Error: can't write data\n". */
int enable_internal_battery(void);
/* Board type (KV_BOARD_*) as the board-info node gives it; -1 on failure. */
int kv_device_get_board_info(void);
/* White LED blink "%d_%d" (on delay, off delay): 0, or -1 after one of the messages. */
int set_white_led(int on_delay, int off_delay);

/* ---- board controller (micom) -------------------------------------------------------- */
/* Sends one 20-byte record: `cmd`'s text up to its terminating zero (at most 20 bytes),
 * then zeros. Always 0: the controller node gives no answer, and a node that cannot be
 * opened is silent (callers cannot learn that a command was lost). */
int micom_echo(const char *cmd);
/* Reads the controller's status token into `buffer` (KV_NODE_TOKEN_SIZE bytes). Always 0;
 * `buffer` is untouched when nothing could be read. */
int micom_cat(char *buffer);
/* Splits the status token "%d_%d_%d_%d" into current_status[0..3]. Fields that do not
 * parse keep the caller's values. 0 (-1 only for a null array). */
int micom_status(int *current_status);
/* Controller commands ("<number>_<argument>"); each returns 0. */
int micom_main_buck_restart(void);                    /* "1_0": restart the whole board */
int micom_main_buck_off(void);                        /* "2_0": cut the main supply */
int micom_set_new_wakeup_level(int new_wakeup_level); /* "3_<level>" */
int micom_adc_data_stop(void);                        /* "4_0" */
int micom_adc_data_start(void);                       /* "4_1" */
int micom_set_system_monitoring(int status);          /* "5_0"/"5_1"; other values send nothing */
int micom_emergency_off(void);                        /* "6_0": cut the main supply at once */
int micom_set_new_malfunction_counter(void);          /* "7_5", then waits 100 ms */

/* ---- G-sensor -------------------------------------------------------------------------- */
/* Reads one sample token "%d_%d_%d_%d_%d" into gsensor_data[0..4]. Fields that do not
 * parse keep the caller's values. 0, or -1 when the node cannot be opened. */
int gsensor_data_grabber(int *gsensor_data);
/* Commands as 30-byte records, "0_<threshold>" and "1_<status>"; the text is also
 * printed as a line on standard output. 0, or -1 when the node cannot be opened. */
int gsensor_set_threshold(int new_high_g_threshold);
int gsensor_wifi_on_off(int wifi_status);

/* ---- conversions and helpers --------------------------------------------------------- */
/* Dallas/Maxim 1-Wire CRC-8 (x^8+x^5+x^4+1, reflected, initial 0). 0 for a count <= 0
 * or a null input. A byte string followed by its own CRC gives 0. */
unsigned char crc8(const unsigned char *data_in, int number_of_bytes);
/* Controller ADC counts to volts in 0.1 V steps plus the board's offset (0.5 V; on a
 * front unit 0.4 V with the interch jack in, else 0.1 V). `table_old_new` 1 selects the
 * first calibration, any other value the second. */
double micom_ADC_to_Voltage(int ADC, int table_old_new);
/* Volts to controller ADC counts (no board offset); negative results give 0. */
unsigned int micom_Voltage_to_ADC(double Voltage, int table_old_new);
/* Sleeps `ms` times 1 ms; nothing for 0 or less. Returns 0. */
int waitms(int ms);

/* ---- fixed-result entry points (touch no device) ------------------------------------- */
int one_wire_read_byte_data(unsigned char *read_data);  /* 1; read_data not written */
int one_wire_write_byte_data(unsigned char write_data); /* 1; nothing is written */
int kv_device_wifi_on_off(int flag);                    /* 0 */
int kv_device_get_board_status(void);                   /* 0 */
int kv_device_get_gpio_status(void);                    /* 0 */
int is_gps_device(void);                                /* 1: every unit has a receiver */
int get_temperature_threshold(void);                    /* 0 */
int set_temperature_threshold(int threshold);           /* 0 */

/* ---- status LEDs ----------------------------------------------------------------------- */
/* Colour masks of the named patterns. */
#define KV_LEDS_MASK_RED 21    /* bits 0, 2, 4 */
#define KV_LEDS_MASK_BLUE 42   /* bits 1, 3, 5 */
#define KV_LEDS_MASK_PURPLE 63 /* red and blue together */

/* One 20-byte record from `cmd` (as micom_echo). Always 0. */
int LEDs_echo(const char *cmd);
/* The LED node's state token into `buffer` (KV_NODE_TOKEN_SIZE bytes). Always 0. */
int LEDs_cat(char *buffer);
/* Switches the LEDs off ("-1_0_0_0_0"). -1 with "Already off!" on standard output when
 * the node already reads mode -1 (nothing written), else 0. */
int LEDs_off(void);
/* The pattern functions switch the LEDs off first, then write one record. Delays go to
 * the driver unchanged. A delay combination the pattern cannot take, or a record text
 * that does not fit 20 bytes, prints "Error!" on standard output and gives -1 with the
 * LEDs left off. A node that cannot be opened gives 0 without writing. */
int LEDs_general(int color, int on_delay, int off_delay); /* both 0: steady; both set: blink */
int LEDs_PURPLE(int on_delay, int off_delay);
int LEDs_BLUE(int on_delay, int off_delay);
int LEDs_RED(int on_delay, int off_delay);
int LEDs_bi_toggle(int color_1, int color_2, int on_delay, int off_delay);  /* on_delay != 0 */
int LEDs_general_rotational_toggle(int color, int on_delay, int off_delay); /* on_delay != 0 */
int LEDs_rotational_toggle(int color, int on_delay, int off_delay);         /* mask color % 10 */
int LEDs_tri_toggle(int on_delay, int off_delay);                           /* on_delay != 0 */

/* ---- Wi-Fi driver and access point ----------------------------------------------------
 * The Realtek 8189ES SDIO radio (kernel module "8189es"): the unit's MAC address, kept in
 * an 8-byte record on a flash partition and copied into the driver's "nvram.txt"; loading
 * and unloading the module; the access point (hostapd and dnsmasq, run by the shell).
 * The functions assume one caller at a time on the radio. Messages are the driver layer's
 * fixed lines on standard output (files) or standard error (module, commands). */
#define KV_WIFI_NVRAM_FILE "/opt/vcam/wifi/nvram.txt"
#define KV_WIFI_MODULE_FILE "/opt/vcam/modules/8189es.ko"
#define KV_WIFI_MODULE_NAME "8189es"
#define KV_WIFI_HOSTAPD_CONF "/opt/vcam/wifi/hostapd.conf"
#define KV_WIFI_HOSTAPD "/opt/vcam/hostapd"
#define KV_WIFI_DNSMASQ "/opt/vcam/dnsmasq"
#define KV_WIFI_MAC_PARTITION "/dev/mtdblock7"
#define KV_MODULE_LIST "/proc/modules"
#define KV_WIFI_INTERFACE "wlan0"
/* MAC record: CRC-8 of bytes 1..6, the address (00:1E:55:xx:xx:xx), the CRC again. */
#define KV_WIFI_MAC_RECORD_SIZE 8
/* "00:1E:55:0A:0B:0C": six upper-case hex pairs joined by ':' (17 characters). */
#define KV_WIFI_MAC_TEXT_LEN 17
/* hostapd.conf is formatted into this many bytes; a longer text is refused. */
#define KV_HOSTAPD_CONF_SIZE 1024

/* Writes the MAC text of the 6 bytes of `buf` over the 17 characters after "macaddr=" in
 * nvram.txt (extending the file when it ends sooner); a file without the key is left as
 * it is. 0, or -1 after the message when nvram.txt cannot be read or written or `count`
 * is not 6. */
int patch_nvram_txt(const unsigned char *buf, int count);
/* Keeps the partition's MAC record when it is valid (unless `force_update`), else writes a
 * new random address 00:1E:55:xx:xx:xx; then copies the address into nvram.txt. 0, or -1
 * when the record could not be stored or nvram.txt not patched (the radio then has the
 * new address for this run only). */
int modify_mac_address(int force_update);
/* 1 when a line of the module list begins with "8189es", 0 when none does or the list
 * cannot be read ("Could not open (/proc/modules)\n"). */
int check_driver_loaded(void);
/* The whole file (a board path, or one below the board root) in a new buffer with a zero
 * byte appended, its size through `_sz` when not null; null on any failure. The caller
 * frees the buffer with free(). */
void *load_file(const char *fn, unsigned int *_sz);
/* Loads a module file with an argument string: the init_module result, -1 when the file
 * cannot be read. */
int insmod(const char *filename, const char *args);
/* Removes a module: up to 10 attempts 500 ms apart while the kernel says busy. 0, or the
 * last result after "Unable to unload driver module (<name>)\n". */
int rmmod(const char *modname);
/* Loads "8189es" with the MAC of nvram.txt and waits up to 5 s until it is listed.
 * 0; -1 when it is already loaded (nothing done), when nvram.txt holds no well-formed MAC
 * text, when the module cannot be loaded, or after a time-out (then unloaded again). */
int wifi_load_driver(void);
/* Removes "8189es" (10 attempts 500 ms apart) and waits up to 10 s until it is gone. 0 or
 * -1. */
int wifi_unload_driver(void);
/* Writes hostapd.conf from its 16-line template (ssid, channel, key, rear MAC), gives
 * wlan0 the address `ipaddr` and starts hostapd and dnsmasq in the background with the
 * DHCP range given. A value holding a control character (a line break would add a line
 * of its own to hostapd.conf) or not fitting the file is refused before anything is
 * changed. Values reach the shell quoted. 0 or -1 after the message. */
int wifi_start_softap(const char *ipaddr, const char *ssid, const char *key, int channel,
                      const char *start_dhcp_range, const char *end_dhcp_range,
                      const char *rear_mac);
/* Kills dnsmasq, then hostapd. 0. */
int wifi_stop_softap(void);
/* 1 when `text` may be a value of a configuration line or a tool's argument: not null and
 * no byte below 0x20 nor 0x7F (line breaks, tabs, escape sequences). Other bytes (quotes,
 * '$', UTF-8) are the value's own and are passed on quoted. */
int kv_wifi_text_ok(const char *text);

#ifdef __cplusplus
}
#endif

#endif
