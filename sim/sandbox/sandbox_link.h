// SPDX-License-Identifier: MIT
// Two camera units in one test: a front and a rear unit, each a simulated board of its own
// (board root, IPC keys, settings manager and kv_server stand-ins), their serial ports
// "/dev/ttyS1" joined by a cable that the test can watch and spoil.
//
//   kvsim::TwoUnits units([](KV_Config_Data &c, int role) { c.remote_device_on = 1; });
//   units.rear.startNavlink();
//   units.front.startNavlink();
//   kvsim::sendGpsRequests(units.rear.board, "relay code=3\n");   // the rear's kv_server
//   auto lines = units.cable.lines(kvsim::kRearToFront);          // what went over the wire
//   auto events = units.front.busEvents();                        // what the front's kv_server got
//   units.cable.setFaults(kvsim::kRearToFront, {.drop_every = 7});
//   units.cable.pull();                                           // nothing passes any more
//
// The cable carries bytes at the link's 9600 baud (10 bits a byte) unless told otherwise,
// and can delay or drop bytes, or be pulled out and plugged in again. It keeps every byte
// it delivered in each direction, and the pieces between CR LFs with the tick at which
// their last byte arrived.
//
// The test process can only have one board in its environment (KV_SYSROOT, which also
// gives the IPC keys). Each sandbox starts its own programs on its own board; for calls
// the test makes itself on one unit (its settings record, its GPS channel, its bus), hold
// an OnBoard for that unit around them.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sandbox.h"
#include "sandbox_settings.h"
#include "sys_env_type.h"

namespace kvsim {

// Makes `board` the board of this process's own calls while it lives.
class OnBoard {
 public:
  explicit OnBoard(const Sandbox &board);

 private:
  ScopedEnv root_{"KV_SYSROOT"}, path_{"PATH"};
};

enum class Way { AtoB = 0, BtoA = 1 };

struct CableFaults {
  int baud = 9600;          // pace of the bytes (10 bits each); 0: as fast as they come
  int delay_ms = 0;         // every byte arrives this much later
  unsigned drop_every = 0;  // every n-th byte of this way is lost; 0: none
};

// A piece of the stream between two CR LFs, as it arrived.
struct WireLine {
  std::string text;
  int64_t tick = 0;  // monotonic ms (the programs' tick) of its last byte
};

// A serial cable between two pseudo-terminals, given by the ends that Sandbox::openPty
// returns (a, b). The cable does not own them.
class SerialCable {
 public:
  SerialCable(int end_a, int end_b);
  ~SerialCable();
  SerialCable(const SerialCable &) = delete;
  SerialCable &operator=(const SerialCable &) = delete;

  void setFaults(Way way, const CableFaults &faults);
  // Pulled out, every byte that reaches the cable is lost; bytes already on their way
  // still arrive.
  void pull();
  void plug();

  std::string delivered(Way way) const;
  std::vector<WireLine> lines(Way way) const;  // empty pieces left out
  uint64_t dropped(Way way) const;

 private:
  struct Byte {
    char value;
    int64_t due_us;
  };
  struct Direction {
    int from = -1, to = -1;
    CableFaults faults;
    std::deque<Byte> on_the_way;
    int64_t last_due_us = 0;
    uint64_t seen = 0, lost = 0;
    std::string delivered;
    std::string piece;
    std::vector<WireLine> lines;
  };
  void run();
  void take(Direction &d, int64_t now_us);
  void hand_over(Direction &d, int64_t now_us);
  int64_t next_due_us() const;

  mutable std::mutex mutex_;
  Direction ways_[2];
  std::atomic<bool> pulled_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One camera unit: its board with the settings manager (role and `prepare`d settings) and
// kv_server up, "/dev/ttyS0" (GPS receiver) and "/dev/ttyS1" (link) on pseudo-terminals,
// the card's recordings folder. kv_navlink is started by the test.
struct RecorderUnit {
  using Prepare = std::function<void(KV_Config_Data &, int role)>;
  // The board's folder is "<board_name>.XXXXXX" in the temporary folder.
  RecorderUnit(int role, const Prepare &prepare, std::string_view board_name = "kvsim");
  ~RecorderUnit();

  // Starts kv_navlink and waits until it serves its GPS channel; false when it did not.
  bool startNavlink();
  KV_Config_Data &cfg() const { return (*live)->kv_config; }

  // An event the unit's kv_server received (sim/log/kv_server.log), in order.
  struct BusEvent {
    int id = 0, src = 0, length = 0;
    std::string payload;  // the slot's bytes, hex
  };
  std::vector<BusEvent> busEvents() const;

  Sandbox board;
  int role;
  int gps = -1;   // the receiver's end of "/dev/ttyS0"
  int link = -1;  // the cable's end of "/dev/ttyS1"
  pid_t kv_server = 0;
  pid_t navlink = 0;
  std::unique_ptr<LiveSettings> live;
};

inline constexpr Way kRearToFront = Way::AtoB;
inline constexpr Way kFrontToRear = Way::BtoA;

// A front and a rear unit with their links joined.
struct TwoUnits {
  explicit TwoUnits(const RecorderUnit::Prepare &prepare = nullptr,
                    std::string_view front_name = "kvsim", std::string_view rear_name = "kvsim")
      : front(1, prepare, front_name), rear(2, prepare, rear_name), cable(rear.link, front.link) {}
  RecorderUnit front;
  RecorderUnit rear;
  SerialCable cable;
};

}  // namespace kvsim
