// SPDX-License-Identifier: MIT
// A recording on a card that fails as SD cards fail (sim/standins/card_fs.cpp, a FUSE file system
// over the sandbox's /mnt/mmc): what a power cut leaves of the track and the G-sensor
// file, a slow card that must not disturb the sampling or the GPS intake, and a full, a
// read-only and a pulled card under each writer (the recording's files, the flash log,
// storage housekeeping).
// ctest-cost: 16
// board-test: host only (a FUSE mount on the workstation; kv_server's stand-in starts
// kv_shocklog as a workstation process does)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "KVLog.h"
#include "gps_track_reader.h"
#include "gsf_reader.h"
#include "kv_common_util.h"
#include "kv_server_record.h"
#include "nmea_feed.h"
#include "sandbox_card.h"
#include "sandbox_link.h"
#include "standin.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Card;
using kvsim::RecorderUnit;
using kvsim::Sandbox;

// Without root or /dev/fuse the card cannot be mounted: skipped, but never in CI.
#define REQUIRE_CARD()                                    \
  do {                                                    \
    std::string why = Card::unavailable();                \
    if (!why.empty()) {                                   \
      const char *ci = getenv("CI");                      \
      if (ci && std::string(ci) == "true") FAIL() << why; \
      GTEST_SKIP() << why;                                \
    }                                                     \
  } while (0)

int64_t tick() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

using kvsim::wordOf;

// "$GPRMC,hhmmss.ss,..." -> milliseconds of the day.
int64_t rmcTime(const std::string &sentence) {
  if (sentence.rfind("$GPRMC,", 0) != 0) return -1;
  std::string t = sentence.substr(7, sentence.find(',', 7) - 7);
  if (t.size() < 6) return -1;
  int64_t ms = ((std::stoi(t.substr(0, 2)) * 60 + std::stoi(t.substr(2, 2))) * 60 +
                std::stoi(t.substr(4, 2))) *
               1000;
  if (t.size() > 7) ms += std::lround(std::stod(t.substr(6)) * 1000);  // ".200"
  return ms;
}

// A front unit whose card is the FUSE card, kv_navlink up, the G-sensor moving and the GPS
// port fed a drive in the background.
struct CardUnit {
  explicit CardUnit(int rate_hz, double speed) {
    unit.board.startServer("gsensor_feeder");
    EXPECT_TRUE(card.mounted());
    EXPECT_TRUE(unit.startNavlink());
    kvsim::DriveOptions o;
    o.rate_hz = rate_hz;
    o.seconds = 120;
    drive = kvsim::generateDrive(o);
    feeder = std::thread(
        [this, speed] { kvsim::NmeaFeeder(unit.gps).play(drive, {.speed = speed}, &stop); });
  }
  ~CardUnit() {
    stop = true;
    feeder.join();
  }
  void request(const std::string &lines) {
    ASSERT_TRUE(kvsim::sendRecordRequests(unit.board, lines)) << lines;
  }
  std::string startLine() const {
    for (const auto &line : unit.board.serverLog("kv_server"))
      if (line.rfind("record start ", 0) == 0) return line;
    return "";
  }
  // The start tick of the recording, from kv_shocklog's command line in the log.
  int64_t startTick() const {
    std::string args = startLine().substr(startLine().find(" args=") + 6);
    size_t first = args.find(' '), second = args.find(' ', first + 1);
    return atoll(args.substr(second + 1).c_str());
  }

  RecorderUnit unit{DEVICE_2CH_FRONT, nullptr};
  Card card{unit.board};
  std::vector<kvsim::Sentence> drive;
  std::atomic<bool> stop{false};
  std::thread feeder;
};

void printWear(const std::string &what, const Card::FileStats &s, double minutes) {
  printf("card wear, %s: %.0f syncs/min, %.0f bytes/min, %lld writes (%lld whole blocks)\n",
         what.c_str(), static_cast<double>(s.syncs) / minutes,
         static_cast<double>(s.bytes) / minutes, s.writes, s.whole);
}

// The moment the card has just synced `file` (its path below the card), seen by polling
// its counters; 0 when no sync came within 3 s.
int64_t justSynced(Card &card, const std::string &file) {
  const long long before = card.stats()[file].syncs;
  for (int64_t until = tick() + 3000; tick() < until; std::this_thread::sleep_for(10ms))
    if (card.stats()[file].syncs > before) return tick();
  return 0;
}

// The cut comes at the worst moment for the G-sensor file: just before its next sync,
// nearly a second after the last one. A second, the sync then under way and a writer's
// wake-up may be lost, no more: a sync on a clock of its own, which fell just before a
// sample, kept 250 ms less.
TEST(CardPowerCut, a_cut_mid_recording_leaves_both_files_up_to_the_last_second) {
  REQUIRE_CARD();
  constexpr int64_t kUnderWayMs = 100;
  CardUnit front(1, 2.0);           // a fix every 500 ms
  std::this_thread::sleep_for(5s);  // the receiver's ring and kv_server's history fill
  front.request("start kind=impact pre=4000 length=60000\n");
  std::this_thread::sleep_for(6s);
  std::string stem = wordOf(front.startLine(), "stem");
  std::string stem_on_board = stem.substr(front.unit.board.root().size());
  std::string gsf_on_card = stem_on_board.substr(std::string("/mnt/mmc").size()) + ".gsf";
  int64_t synced = justSynced(front.card, gsf_on_card);
  ASSERT_NE(synced, 0) << "the G-sensor file is not synced while recording";
  std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                std::chrono::milliseconds(synced + 950 - tick()));

  int64_t cut = tick();
  front.card.powerCut();
  kill(static_cast<pid_t>(atoi(wordOf(front.startLine(), "shocklog").c_str())), SIGKILL);
  front.unit.board.kill(front.unit.navlink);
  front.card.powerOn();

  int64_t cut_at = cut - front.startTick();
  ASSERT_GT(cut_at, 9000);
  auto track = gpstrack::parse(front.unit.board.read(stem_on_board + ".gps"));
  auto gsf = gsf::parse(front.unit.board.read(stem_on_board + ".gsf"));
  size_t records = gsf ? gsf->records.size() : 0;
  printf(
      "power cut %lld ms after the start tick: track %zu lines up to %lld ms, G-sensor %zu "
      "records up to %lld ms\n",
      static_cast<long long>(cut_at), track.lines.size(),
      static_cast<long long>(track.lines.empty() ? -1 : track.lines.back().offset), records,
      static_cast<long long>(records ? gsf->records.back().time : -1));

  // The track: from the seconds before the request on, up to a second before the cut.
  ASSERT_TRUE(track.valid);
  ASSERT_FALSE(track.lines.empty()) << "nothing of the track survived";
  EXPECT_LT(track.lines.front().offset, 1000) << "the seconds before the event";
  EXPECT_GE(track.lines.back().offset, cut_at - 1000 - kUnderWayMs);

  // The G-sensor file: header, the records up to a second before the cut, the count
  // still 0 and no end marker: the file says it was not closed.
  ASSERT_TRUE(gsf.has_value()) << "nothing of the G-sensor file survived";
  ASSERT_FALSE(gsf->records.empty());
  EXPECT_EQ(gsf->count, 0);
  EXPECT_FALSE(gsf->end_marker);
  EXPECT_LT(gsf->records.front().time, 1000) << "the seconds before the event";
  EXPECT_GE(gsf->records.back().time, cut_at - 1000 - kUnderWayMs);
}

#ifdef KV_TEST_HAVE_EXPORT
// A cut in the middle of a sync leaves half of a block that was written but not synced:
// kv_export reads the track up to its last whole line, says what was cut, and keeps every
// fix before it.
TEST(CardPowerCut, kv_export_reads_a_torn_last_block_up_to_the_cut) {
  REQUIRE_CARD();
  CardUnit front(5, 1.0);  // a block of track every second or two
  front.request("start kind=always pre=0 length=60000\n");
  std::string stem = wordOf(front.startLine(), "stem");
  std::string name = stem.substr(stem.rfind('/') + 1);
  std::string on_card = "/Recordings/" + name + ".gps";
  // Cut once a block went to the card after the track's last sync.
  long long synced_at = -1, writes_then = 0;
  for (int64_t until = tick() + 8000; tick() < until; std::this_thread::sleep_for(5ms)) {
    Card::FileStats now = front.card.stats()[on_card];
    if (now.syncs < 2) continue;
    if (now.syncs != synced_at) {
      synced_at = now.syncs;
      writes_then = now.writes;
    } else if (now.writes > writes_then) {
      break;
    }
  }
  front.card.powerCut(true);
  kill(static_cast<pid_t>(atoi(wordOf(front.startLine(), "shocklog").c_str())), SIGKILL);
  front.unit.board.kill(front.unit.navlink);
  front.card.powerOn();

  auto &board = front.unit.board;
  std::string text = board.read("/mnt/mmc/Recordings/" + name + ".gps");
  ASSERT_FALSE(text.empty());
  std::string out = board.root() + "/exported";
  pid_t pid = board.start({"kv_export", "-o", out, board.path("/mnt/mmc/Recordings")});
  int status = board.wait(pid, 30000ms);
  ASSERT_NE(status, -1) << "kv_export did not end";
  EXPECT_EQ(Sandbox::exitCode(status), 0) << board.stderrOf(pid);
  size_t cut = text.size() - (text.rfind('\n') + 1);
  printf("torn cut: %zu bytes of the track, %zu of them after its last whole line\n", text.size(),
         cut);
  if (cut > 0) {
    std::string said = name + ".gps: last line cut short (" + std::to_string(cut) + " bytes";
    EXPECT_NE(board.stderrOf(pid).find(said), std::string::npos) << board.stderrOf(pid);
  }
  int fixes = 0;
  for (const auto &line : gpstrack::parse(text).lines)
    fixes += line.sentence.rfind("$GPRMC,", 0) == 0 && line.sentence.find(",A,") < 20;
  std::string gpx = board.read("/exported/" + name + ".gpx");
  int points = 0;
  for (size_t at = gpx.find("<trkpt "); at != std::string::npos; at = gpx.find("<trkpt ", at + 1))
    ++points;
  EXPECT_GE(fixes, 5);
  EXPECT_EQ(points, fixes) << "every fix before the cut";
}
#endif

// A card that takes its time (every sync 500 ms, or every write 100 ms): the samples keep
// their 250 ms, every sentence of a 5 Hz receiver reaches the track, and the card still
// sees whole blocks and at most a sync a second per file.
struct Slowness {
  const char *name;
  int write_ms, sync_ms;
  std::chrono::seconds recording;
};

class CardSlow : public testing::TestWithParam<Slowness> {};

TEST_P(CardSlow, delays_no_sample_and_no_sentence) {
  REQUIRE_CARD();
  const Slowness &slow = GetParam();
  CardUnit front(5, 1.0);
  std::this_thread::sleep_for(2s);
  front.card.slow(slow.write_ms, slow.sync_ms);
  int64_t began = tick();
  front.request("start kind=impact pre=0 length=60000\n");
  std::this_thread::sleep_for(slow.recording);
  front.request("stop\n");
  double minutes = static_cast<double>(tick() - began) / 60000.0;

  std::string stem = wordOf(front.startLine(), "stem").substr(front.unit.board.root().size());
  auto gsf = gsf::parse(front.unit.board.read(stem + ".gsf"));
  ASSERT_TRUE(gsf.has_value());
  const auto seconds = static_cast<size_t>(slow.recording.count());
  ASSERT_GT(gsf->records.size(), 4 * seconds - 8);  // a sample every 250 ms
  for (size_t k = 1; k < gsf->records.size(); ++k)
    EXPECT_LE(gsf->records[k].time - gsf->records[k - 1].time, 300) << "sample " << k;

  auto track = gpstrack::parse(front.unit.board.read(stem + ".gps"));
  int64_t last = -1;
  int fixes = 0;
  for (const auto &line : track.lines) {
    int64_t t = rmcTime(line.sentence);
    if (t < 0) continue;
    if (last >= 0) {
      EXPECT_EQ(t - last, 200) << "a fix missing before " << line.sentence;
    }
    last = t;
    ++fixes;
  }
  EXPECT_GT(fixes, static_cast<int>(5 * seconds - 10));

  auto stats = front.card.stats();
  for (const char *ext : {".gps", ".gsf"}) {
    std::string file = stem.substr(std::string("/mnt/mmc").size()) + ext;
    ASSERT_EQ(stats.count(file), 1u) << file;
    const auto &s = stats[file];
    printWear(std::string(slow.name) + " " + ext, s, minutes);
    EXPECT_LE(static_cast<double>(s.syncs), 60 * minutes + 1) << ext;
    EXPECT_GE(static_cast<double>(s.syncs), 20 * minutes) << ext << ": synced at all";
    // Whole blocks, except the block being filled at each sync and the close's.
    EXPECT_LE(s.writes - s.whole, s.syncs + 2) << ext;
  }
}

const Slowness kSlowCards[] = {{"sync_500_ms", 0, 500, 12s}, {"write_100_ms", 100, 0, 8s}};
INSTANTIATE_TEST_SUITE_P(Cards, CardSlow, testing::ValuesIn(kSlowCards),
                         [](const testing::TestParamInfo<Slowness> &p) { return p.param.name; });

// ---- the fault matrix ----------------------------------------------------------------

// A card fault in the middle of a recording: kv_shocklog and kv_navlink neither crash nor
// hang, the log names what failed, an earlier recording is untouched, and once the card
// is back (or space freed) the next recording is whole.
struct Fault {
  const char *name;
  void (*apply)(Card &);
  void (*clear)(Card &);
  const char *logged;  // in the log once the fault is met
};

const Fault kFaults[] = {
    {"full", [](Card &c) { c.fillAfter(0); }, [](Card &c) { c.fillAfter(-1); },
     "write failed: No space left on device"},
    {"read_only", [](Card &c) { c.readOnly(true); }, [](Card &c) { c.readOnly(false); },
     "write failed: Read-only file system"},
    {"pulled",
     [](Card &c) {
       c.pull();
       std::this_thread::sleep_for(500ms);
       c.gone();
     },
     [](Card &c) { c.insert(); }, "write failed: Input/output error"},
};

void PrintTo(const Fault &fault, std::ostream *os) { *os << fault.name; }

class CardFault : public testing::TestWithParam<Fault> {};

constexpr char kEarlier[] = "20240507143519\nEARLIER.gps\n0:$GPX*00\n";

void writeSynced(const std::string &path, const std::string &text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  EXPECT_EQ(fdatasync(fd), 0);
  close(fd);
}

TEST_P(CardFault, ends_no_program_damages_nothing_else_and_the_next_recording_is_whole) {
  REQUIRE_CARD();
  const Fault &fault = GetParam();
  CardUnit front(1, 2.0);
  auto &board = front.unit.board;
  writeSynced(board.path("/mnt/mmc/Recordings/EARLIER.gps"), kEarlier);
  front.request("start kind=always pre=0 length=60000\n");
  std::this_thread::sleep_for(2s);
  fault.apply(front.card);
  std::this_thread::sleep_for(2500ms);
  front.request("stop\n");
  auto stops = board.serverLog("kv_server");
  EXPECT_NE(stops.back().find("shocklog_exit="), std::string::npos);
  EXPECT_EQ(stops.back().find("shocklog_exit=-1"), std::string::npos) << "kv_shocklog hung";
  EXPECT_NE(board.flashLogs().find(fault.logged), std::string::npos) << board.flashLogs();
  // A recording asked for while the card still fails ends no program either.
  front.request("start kind=always pre=0 length=60000\n");
  std::this_thread::sleep_for(500ms);
  front.request("stop\n");

  fault.clear(front.card);
  if (!board.running(front.unit.navlink)) {
    ADD_FAILURE() << "kv_navlink ended: " << board.stdoutOf(front.unit.navlink);
    ASSERT_TRUE(front.unit.startNavlink());
  }
  EXPECT_EQ(board.read("/mnt/mmc/Recordings/EARLIER.gps"), kEarlier);
  front.request("start kind=always pre=0 length=60000\n");
  std::this_thread::sleep_for(2s);
  front.request("stop\n");
  std::string stem;
  for (const auto &line : board.serverLog("kv_server"))
    if (line.rfind("record start ", 0) == 0) stem = wordOf(line, "stem");
  stem = stem.substr(board.root().size());
  auto gsf = gsf::parse(board.read(stem + ".gsf"));
  ASSERT_TRUE(gsf.has_value()) << stem;
  EXPECT_TRUE(gsf->end_marker);
  EXPECT_EQ(gsf->count, static_cast<int>(gsf->records.size()));
  EXPECT_GE(gsf->records.size(), 6u);
  auto track = gpstrack::parse(board.read(stem + ".gps"));
  EXPECT_TRUE(track.valid);
  EXPECT_GE(track.lines.size(), 6u) << board.flashLogs();
}

INSTANTIATE_TEST_SUITE_P(Faults, CardFault, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault> &p) { return p.param.name; });

// The hourly log on a failing flash: no line is lost (standard error takes it; a write
// the flash refused is first named in one line) and the flash takes lines again once it
// is back.
TEST_P(CardFault, the_flash_log_loses_no_line_and_says_what_failed) {
  REQUIRE_CARD();
  const Fault &fault = GetParam();
  kvsim::Sandbox board;
  kvsim::writeBoardDefaults(board);
  Card flash(board, "/mnt/nand");
  ASSERT_TRUE(flash.mounted());
  KVLogSetWriteFile(1);
  KVLog("before the fault\n");
  fault.apply(flash);
  testing::internal::CaptureStderr();
  KVLog("during the fault 1\n");
  KVLog("during the fault 2\n");
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("during the fault 1\n"), std::string::npos) << said;
  EXPECT_NE(said.find("during the fault 2\n"), std::string::npos) << said;
  EXPECT_EQ(said.find("KVLog: "), said.rfind("KVLog: ")) << "at most one line says why: " << said;
  fault.clear(flash);
  KVLog("after the fault\n");
  EXPECT_NE(board.flashLogs().find("after the fault\n"), std::string::npos) << board.flashLogs();
}

// The boot check with the card, or the flash that takes its marker, failing: it ends in
// time with its line, nothing else on either is touched, and a marker the flash did not
// take is named in one line and left out (a truncated one would read as "no card").
TEST_P(CardFault, kv_bootcheck_ends_in_time_and_names_a_marker_it_could_not_leave) {
  REQUIRE_CARD();
  const Fault &fault = GetParam();
  for (const char *failing : {"/mnt/mmc", "/mnt/nand"}) {
    kvsim::Sandbox board;
    board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
    Card card(board, failing);
    ASSERT_TRUE(card.mounted()) << failing;
    const std::string earlier = std::string(failing) + "/EARLIER.gps";
    writeSynced(board.path(earlier), kEarlier);
    fault.apply(card);
    pid_t pid = board.start({"kv_bootcheck"});
    int status = board.wait(pid, 10000ms);
    ASSERT_NE(status, -1) << failing << ": kv_bootcheck hung";
    EXPECT_EQ(Sandbox::exitCode(status), 0) << failing;
    EXPECT_EQ(board.stdoutOf(pid), "####################### BootCheckDiskSdcard=1\n") << failing;
    std::string said = board.stderrOf(pid);
    if (std::string(failing) == "/mnt/nand") {
      EXPECT_EQ(said.rfind("kv_bootcheck: /mnt/nand/boot_checkdisk not written: ", 0), 0u) << said;
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    } else {
      EXPECT_EQ(said, "") << failing;
      EXPECT_EQ(board.read("/mnt/nand/boot_checkdisk"), std::string("1") + std::string(19, '\0'));
    }
    fault.clear(card);
    EXPECT_EQ(board.read(earlier), kEarlier) << failing;
    if (!said.empty()) {
      EXPECT_FALSE(board.exists("/mnt/nand/boot_checkdisk")) << failing;
    }
  }
}

// Storage housekeeping on a failing card reports the failure and deletes nothing else; on
// a card that is out "rm -rf" finds nothing, but the file comes back with the card.
class CardHousekeeping : public CardFault {};

TEST_P(CardHousekeeping, a_deletion_on_a_failing_card_is_reported_and_harms_nothing_else) {
  REQUIRE_CARD();
  const Fault &fault = GetParam();
  kvsim::Sandbox board;
  board.mkdir("/mnt/mmc/Recordings");
  Card card(board);
  ASSERT_TRUE(card.mounted());
  for (const char *name : {"A.gps", "B.gps"})
    writeSynced(board.path("/mnt/mmc/Recordings/") + name, kEarlier);
  fault.apply(card);
  std::string a = board.path("/mnt/mmc/Recordings/A.gps");
  int status = KVDeleteFile(a.data());
  fault.clear(card);
  if (board.exists("/mnt/mmc/Recordings/A.gps")) {
    EXPECT_NE(status, 0) << "a deletion that did not happen is reported";
  }
  EXPECT_EQ(board.read("/mnt/mmc/Recordings/B.gps"), kEarlier);
  EXPECT_EQ(KVDeleteFile(a.data()), 0);
  EXPECT_FALSE(board.exists("/mnt/mmc/Recordings/A.gps"));
}

INSTANTIATE_TEST_SUITE_P(Faults, CardHousekeeping, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault> &p) { return p.param.name; });

}  // namespace
