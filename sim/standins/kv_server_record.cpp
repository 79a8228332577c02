// SPDX-License-Identifier: MIT
#include "kv_server_record.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "board_root.h"
#include "file_msg_drv.h"
#include "kv_common_util.h"
#include "kv_gps_msg_drv.h"
#include "kv_owners.hpp"
#include "kv_server_gps.h"
#include "share_mem.h"
#include "standin.h"
#include "sys_env_type.h"

extern char **environ;

namespace kvsim {
namespace {

const char *const kRequestFile = "/sim/ctl/kv_server/record";
constexpr int kStopWaitMs = 5000;

struct Kind {
  const char *word;
  int record_type;
};
constexpr Kind kKinds[] = {
    {"always", BB_RECORD_ALWAYS},          {"impact", BB_RECORD_IMPACT_EVENT},
    {"manual", BB_RECORD_MANUAL_EVENT},    {"motion", BB_RECORD_PARKING_MOTION},
    {"parking", BB_RECORD_PARKING_ALWAYS},
};

// The saved-recording notice of a rear unit, by the name's kind separator; the two event
// kinds share a separator and differ by what triggered them.
struct Notice {
  const char *separator;
  int code, code_if_manual;
};
constexpr Notice kNotices[] = {
    {"_NOR_D", SEND_TO_FRONT_AVI_SAVE_NOR_D, SEND_TO_FRONT_AVI_SAVE_NOR_D},
    {"_NOR_P", SEND_TO_FRONT_AVI_SAVE_NOR_P, SEND_TO_FRONT_AVI_SAVE_NOR_P},
    {"_MOT_P", SEND_TO_FRONT_AVI_SAVE_MOT_P, SEND_TO_FRONT_AVI_SAVE_MOT_P},
    {"_EVT_D", SEND_TO_FRONT_AVI_SAVE_EVT_I_D, SEND_TO_FRONT_AVI_SAVE_EVT_M_D},
    {"_EVT_P", SEND_TO_FRONT_AVI_SAVE_EVT_I_P, SEND_TO_FRONT_AVI_SAVE_EVT_M_P},
};

// The recording under way; the controller runs on one thread (the control watcher).
struct Recording {
  bool active = false;
  std::string stem;
  int name_time = 0;
  int state = MAIN_STATE_DRIVE;
  int record_type = BB_RECORD_ALWAYS;
  pid_t shocklog = -1;
  bool video = false;
  int64_t first_tick = 0;  // the recording's first moment, `pre` before the start request
} g_recording;

std::string wordOr(const std::map<std::string, std::string> &w, const char *key,
                   const char *fallback) {
  auto it = w.find(key);
  return it == w.end() ? fallback : it->second;
}

// The unit's role as the settings record holds it; a single camera when it cannot be read.
int unitRole() {
  int shmid = pShareMemInit(FILE_MSG_KEY);
  KV_Config_Data cfg = {};
  if (shmid < 0 || kv::segment_copy_out(shmid, static_cast<int>(offsetof(SysInfo, kv_config)), &cfg,
                                        sizeof cfg) != 0)
    return DEVICE_1CH_ONLY;
  return cfg.front_rear_type;
}

void setNameTimeForNotice(int name_time) {
  int shmid = pShareMemInit(FILE_MSG_KEY);
  int32_t value = name_time;
  if (shmid >= 0)
    kv::segment_copy_in(shmid,
                        static_cast<int>(offsetof(SysInfo, kv_config) +
                                         offsetof(KV_Config_Data, file_name_tmp_time)),
                        &value, sizeof value);
}

// Started with no signal blocked and the stop signals at their defaults: the control
// watcher that runs this blocks every signal, and a child inherits that mask.
pid_t spawn(const std::vector<std::string> &argv) {
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, stops;
  sigemptyset(&none);
  sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGUSR2}) sigaddset(&stops, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &stops);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attr);
  return pid;
}

// The exit status once it ended, or -1 when it still runs after the wait.
int awaitEnd(pid_t pid) {
  for (int waited = 0; waited <= kStopWaitMs; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    kv::sleep_ms(10);
  }
  return -1;
}

std::string joined(const std::vector<std::string> &words) {
  std::string out;
  for (const auto &w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

// The recording's video as a player shows it: a test pattern with the seconds since the
// recording's first moment burnt in, small and quick to make. ffmpeg's status (0: written;
// 127: no ffmpeg).
int writeVideo(const Recording &r) {
  double seconds = std::max<int64_t>(1000, kv::tick_ms() - r.first_tick) / 1000.0;
  char duration[32];
  snprintf(duration, sizeof duration, "%.1f", seconds);
  std::string path = r.stem + ".mp4";
  pid_t pid =
      spawn({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             std::string("testsrc=size=320x180:rate=10:duration=") + duration, "-vf",
             "drawtext=text='%{pts\\:hms}':fontsize=28:fontcolor=white:box=1:boxcolor=black",
             "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", path});
  if (pid < 0) return 127;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return 127;
  // The recorder's saver syncs a video it closes; ffmpeg does not, and a card that loses
  // what was not synced (a power cut after the recording) would lose the video too.
  if (kv::UniqueFd video{open(path.c_str(), O_RDONLY)}) fdatasync(video.get());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string finish(bool cancelled) {
  Recording &r = g_recording;
  if (cancelled) {
    if (r.shocklog > 0) kill(r.shocklog, SIGUSR2);
    gpsDeleteTrack();
  }
  int shocklog_exit = -1;
  if (r.shocklog > 0) {
    kill(r.shocklog, SIGINT);
    shocklog_exit = awaitEnd(r.shocklog);
  }
  int track = gpsStopTrack();
  std::string line = std::string(cancelled ? "record cancel" : "record stop") + " stem=" + r.stem +
                     " shocklog_exit=" + std::to_string(shocklog_exit) +
                     " track=" + std::to_string(track);
  if (!cancelled && r.video) line += " video=" + std::to_string(writeVideo(r));
  if (!cancelled && unitRole() == DEVICE_2CH_REAR) {
    std::string separator = GetFileNameSeparator(r.state, r.record_type, 1);
    for (const Notice &n : kNotices)
      if (separator == n.separator) {
        int code = r.record_type == BB_RECORD_MANUAL_EVENT ? n.code_if_manual : n.code;
        setNameTimeForNotice(r.name_time);
        int result = gpsRelay(code);
        line += " announce=" + std::to_string(code) + " result=" + std::to_string(result);
      }
  }
  r = Recording{};
  return line;
}

std::string start(const std::map<std::string, std::string> &w) {
  std::string kind = wordOr(w, "kind", "always");
  const Kind *k = nullptr;
  for (const Kind &candidate : kKinds)
    if (kind == candidate.word) k = &candidate;
  std::string state = wordOr(w, "state", "drive");
  long long pre = strtoll(wordOr(w, "pre", "0").c_str(), nullptr, 10);
  long long length = strtoll(wordOr(w, "length", "60000").c_str(), nullptr, 10);
  if (!k || (state != "drive" && state != "park") || pre < 0 || length <= 0)
    return "record refused kind, state, pre or length not understood";

  std::string before;
  if (g_recording.active) before = finish(false) + "\n";
  Recording &r = g_recording;
  r.state = state == "drive" ? MAIN_STATE_DRIVE : MAIN_STATE_PARK;
  r.record_type = k->record_type;
  // The name tells when the recording begins: its first moment lies `pre` before now.
  char path[KV_PATH_SIZE] = {};
  r.name_time = GenerateRecordFileName(path, sizeof path, r.state, r.record_type, 1, unitRole(),
                                       static_cast<int>(time(nullptr) - pre / 1000));
  if (r.name_time == -1 || RemovePathDotExt(path) < 0)
    return before + "record refused no free name in the recordings folder";
  r.stem = path;
  if (r.stem.size() >= sizeof(GpsStartSaveRecord{}.szStem))
    return before + "record refused stem longer than the GPS start record holds: " + r.stem;

  int64_t start_tick = pre > 0 ? kv::tick_ms() - pre : 0;
  std::vector<std::string> argv = {
      "kv_shocklog",         r.stem, std::to_string(pre), std::to_string(start_tick), "0",
      std::to_string(length)};
  r.shocklog = spawn(argv);
  int track = gpsStartTrack(r.stem, start_tick, static_cast<int32_t>(length));
  r.active = true;
  r.video = wordOr(w, "video", "0") == "1";
  r.first_tick = kv::tick_ms() - pre;
  return before + "record start stem=" + r.stem + " time=" + std::to_string(r.name_time) +
         " shocklog=" + std::to_string(r.shocklog) +
         " args=" + joined(std::vector<std::string>(argv.begin() + 1, argv.end())) +
         " track=" + std::to_string(track);
}

std::string serveOne(const std::string &line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  auto w = keyedWords(in);
  if (verb == "start") return start(w);
  if (verb != "stop" && verb != "cancel") return "record refused unknown request: " + line;
  if (!g_recording.active) return "record refused no recording under way: " + verb;
  return finish(verb == "cancel");
}

}  // namespace

void serveRecordRequests() {
  Control ctl("kv_server");
  serveRequestFile(kRequestFile, [&](const std::string &line) {
    std::istringstream results(serveOne(line));
    for (std::string result; std::getline(results, result);) ctl.log(result);
  });
}

}  // namespace kvsim
