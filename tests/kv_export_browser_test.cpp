// SPDX-License-Identifier: MIT
// kv_export's pages in a real browser (headless Chromium, driven over its DevTools pipe by
// tests/browser/cdp_run.mjs): the overview lists every recording of a generated card; on a
// recording's page, seeking the video to t moves the map's marker to the track's position
// at t and both charts' cursors to t; clicking the map or a chart seeks the video; no page
// logs an error. A screenshot of every page is kept (build/.../tests/artefacts/viewer/)
// and must not be blank. The videos are made with ffmpeg: a test pattern with the time
// burnt in.
// board-test: host only (kv_export is a workstation tool, never built for the board)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef KV_TEST_HAVE_PNG
#include <png.h>
#endif

#include "gsf_file_gen.h"
#include "sandbox.h"
#include "track_file_gen.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char *kChromium = "/usr/bin/chromium";
const std::string kFront = "20240507-143519_EVT_D_F", kRear = "20240507-143520_EVT_D_R",
                  kNoVideo = "20240507-143619_NOR_D_F";
constexpr int kSeconds = 30;

bool have(const std::string &tool) {
  return system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string run(const std::string &command, int *status = nullptr) {
  std::string out;
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
  return out;
}

// A short video as the recorder leaves one, with the time burnt in: 160x90, 5 frames a
// second, the seconds of the clip on each frame.
bool makeVideo(const std::string &path) {
  int status = -1;
  std::string out =
      run("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x90:rate=5:duration=" +
              std::to_string(kSeconds) +
              " -vf drawtext=text=%{pts}:fontsize=20:fontcolor=white -c:v libx264 "
              "-preset ultrafast -pix_fmt yuv420p " +
              path,
          &status);
  EXPECT_EQ(status, 0) << out;
  return status == 0;
}

// The number of distinct colours of a PNG; 0 when it cannot be read.
size_t colours(const std::string &path) {
#ifdef KV_TEST_HAVE_PNG
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return 0;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return 0;
  std::set<uint32_t> seen;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    seen.insert(uint32_t(rgb[i]) << 16 | uint32_t(rgb[i + 1]) << 8 | rgb[i + 2]);
  return seen.size();
#else
  return fs::file_size(path) > 2000 ? 1000 : 0;  // a blank PNG compresses to almost nothing
#endif
}

// The value of "key": in a JSON text without nested objects, as its text.
std::string field(const std::string &json, const std::string &key) {
  std::smatch m;
  std::regex re("\"" + key + "\":(\\[[^\\]]*\\]|\"[^\"]*\"|[^,}]+)");
  return std::regex_search(json, m, re) ? m[1].str() : "";
}

std::vector<double> numbers(const std::string &text) {
  std::vector<double> out;
  static const std::regex kNumber("-?[0-9]+(\\.[0-9]+)?(e-?[0-9]+)?");
  for (std::sregex_iterator it(text.begin(), text.end(), kNumber), end; it != end; ++it)
    out.push_back(std::stod(it->str()));
  return out;
}

std::string quoted(const std::string &s) {
  std::string out = "\"";
  for (char c : s) out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
  return out + "\"";
}

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bool ci = getenv("CI") && std::string(getenv("CI")) == "true";
    for (const char *tool : {kChromium, "node", "ffmpeg"})
      if (!have(tool)) {
        if (ci) FAIL() << tool << " is not installed (.ci/run installs it)";
        GTEST_SKIP() << tool << " not installed: the pages are not tried in a browser";
      }
    fs::create_directories(card);
    fs::create_directories(artefacts);
  }

  std::string put(const std::string &name, const std::string &bytes) {
    std::ofstream(card + "/" + name, std::ios::binary) << bytes;
    return card + "/" + name;
  }

  void exportCard() {
    pid_t pid =
        board.start({"kv_export", "--tiles", "none", "--counts-per-g", "1000", "-o", out, card});
    int status = board.wait(pid, 120000ms);
    ASSERT_EQ(kvsim::Sandbox::exitCode(status), 0) << board.stderrOf(pid);
  }

  // Runs the steps in one browser; the results of the "eval" steps in order.
  std::vector<std::string> browse(const std::vector<std::string> &steps) {
    std::string plan = "{\"chromium\":\"" + std::string(kChromium) + "\",\"steps\":[";
    for (size_t i = 0; i < steps.size(); ++i) plan += (i ? "," : "") + steps[i];
    plan += "]}";
    std::string plan_path = board.root() + "/plan.json";
    std::ofstream(plan_path) << plan;
    int status = -1;
    std::string said = run("node " KV_CDP_SCRIPT " " + plan_path, &status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_EQ(said.find("problem: "), std::string::npos) << "errors on the pages:\n" << said;
    std::vector<std::string> results;
    for (const auto &line : kvsim::splitLines(said))
      if (line.starts_with("result: ")) results.push_back(line.substr(8));
    return results;
  }

  static std::string open(const std::string &url) { return "{\"open\":" + quoted(url) + "}"; }
  static std::string eval(const std::string &js) { return "{\"eval\":" + quoted(js) + "}"; }
  std::string shot(const std::string &name) {
    return "{\"screenshot\":" + quoted(artefacts + "/" + name + ".png") + "}";
  }

  kvsim::Sandbox board;
  std::string card = board.root() + "/card/Recordings";
  std::string out = board.root() + "/exported";
  std::string artefacts = KV_TEST_ARTEFACT_DIR "/viewer";
};

constexpr const char *kWaitVideo =
    "new Promise(r => { const v = document.getElementById('front'); if (v.readyState >= 1) r(); "
    "else v.addEventListener('loadedmetadata', r, {once: true}); })";

std::string seekTo(double t) {
  return "new Promise(r => { const v = document.getElementById('front'); "
         "v.addEventListener('seeked', () => r(kvViewer.state()), {once: true}); "
         "v.currentTime = " +
         std::to_string(t) + "; })";
}

// Clicks the element at a point given by an expression [x, y] relative to it, and waits
// for the video to be seeked there.
std::string clickAndWait(const std::string &selector, const std::string &point) {
  return "new Promise(r => { const v = document.getElementById('front'); "
         "v.addEventListener('seeked', () => r(v.currentTime), {once: true}); "
         "const e = document.querySelector('" +
         selector + "'); const b = e.getBoundingClientRect(); const p = " + point +
         "; for (const type of ['mousedown', 'mouseup', 'click']) e.dispatchEvent(new "
         "MouseEvent(type, {bubbles: true, clientX: b.left + p[0], clientY: b.top + p[1]})); })";
}

TEST_F(BrowserTest, the_overview_and_a_recordings_page_follow_the_video) {
  // Fixes every second on the second (offset i s), so that the position at a whole second
  // is the generator's own.
  auto epochs = trackgen::drive(kSeconds, 1000, 0);
  put(kFront + ".gps", trackgen::trackFile(epochs, kFront + ".gps"));
  std::vector<std::array<int64_t, 5>> g;
  for (int i = 0; i < kSeconds * 4; ++i) g.push_back({i * 250, (i % 7) * 10, -(i % 5) * 10, 5, 0});
  put(kFront + ".gsf", gsfBytes(g));
  put(kRear + ".gsf", gsfBytes(g));
  put(kNoVideo + ".gps",
      trackgen::trackFile(trackgen::drive(20, 1000, 0), kNoVideo + ".gps", "20240507143619"));
  ASSERT_TRUE(makeVideo(card + "/" + kFront + ".mp4"));
  ASSERT_TRUE(makeVideo(card + "/" + kRear + ".mp4"));
  exportCard();

  std::string base = "file://" + out + "/";
  auto r = browse({
      open(base + "index.html"),
      eval("Array.from(document.querySelectorAll('#trips a')).map(a => a.textContent)"),
      shot("index"),
      // Only the event recordings: the continuous one's row goes.
      eval("document.querySelector('input[name=kind][value=N]').click(); "
           "Array.from(document.querySelectorAll('#trips a')).filter(a => a.offsetParent)"
           ".map(a => a.textContent)"),
      open(base + kFront + ".html"),
      eval(kWaitVideo),
      eval(seekTo(7)),
      eval(seekTo(18)),
      eval("new Promise(r => { const t = document.getElementById('front').textTracks[0]; "
           "t.mode = 'showing'; setTimeout(() => r(Array.from(t.cues).find(c => c.startTime <= 7 "
           "&& c.endTime > 7).text), 300); })"),
      eval(clickAndWait("#map", "kvViewer.mapPixel(" + std::to_string(epochs[12].lat) + ", " +
                                    std::to_string(epochs[12].lon) + ")")),
      eval(clickAndWait("#g-chart", "[kvViewer.chartX(1, 21), 60]")),
      eval("document.querySelector('input[name=unit][value=mph]').click(); "
           "document.getElementById('readout').textContent"),
      shot("recording"),
      open(base + kRear + ".html"),
      eval(kWaitVideo),
      shot("rear"),
      open(base + kNoVideo + ".html"),
      eval("const c = document.getElementById('clock'); c.value = 5; c.dispatchEvent(new "
           "Event('input')); kvViewer.state()"),
      shot("no-video"),
  });
  ASSERT_EQ(r.size(), 19u);

  auto listed = r[1];
  for (const auto &stem : {kFront, kRear, kNoVideo})
    EXPECT_NE(listed.find("\"" + stem + "\""), std::string::npos) << stem << " in " << listed;
  EXPECT_EQ(r[3], "[\"" + kFront + "\",\"" + kRear + "\"]") << "events only";

  for (auto [at, t] : {std::pair{6, 7}, {7, 18}}) {
    const std::string &state = r[static_cast<size_t>(at)];
    auto marker = numbers(field(state, "marker"));
    ASSERT_EQ(marker.size(), 2u) << state;
    EXPECT_NEAR(marker[0], epochs[static_cast<size_t>(t)].lat, 1e-7) << state;
    EXPECT_NEAR(marker[1], epochs[static_cast<size_t>(t)].lon, 1e-7) << state;
    auto cursors = numbers(field(state, "cursors"));  // t, x of the speed and G charts
    ASSERT_EQ(cursors.size(), 4u) << state;
    EXPECT_DOUBLE_EQ(cursors[0], t) << state;
    EXPECT_DOUBLE_EQ(cursors[2], t) << state;
  }
  char kmh[32];
  snprintf(kmh, sizeof kmh, "  %.0f km/h", epochs[7].knots * 1.852);
  EXPECT_NE(r[8].find(std::string("14:35:26 UTC+02:00") + kmh), std::string::npos)
      << "the video's subtitle at 7 s: " << r[8];
  EXPECT_NEAR(std::stod(r[9]), 12, 0.01) << "clicking the route at the fix of 12 s";
  EXPECT_NEAR(std::stod(r[10]), 21, 0.1) << "clicking the G chart at 21 s";
  // At 21 s the car does the generator's knots; the switch shows them in mph.
  char mph[32];
  snprintf(mph, sizeof mph, " %.0f mph, ", epochs[21].knots * 1.852 / 1.609344);
  EXPECT_NE(r[11].find(mph), std::string::npos) << r[11] << " wants" << mph;
  auto slider = numbers(field(r[17], "marker"));
  ASSERT_EQ(slider.size(), 2u) << r[17];
  auto drive20 = trackgen::drive(20, 1000, 0);
  EXPECT_NEAR(slider[0], drive20[5].lat, 1e-7) << "without a video the slider is the clock";

  for (const char *name : {"index", "recording", "rear", "no-video"})
    EXPECT_GT(colours(artefacts + "/" + name + ".png"), 50u) << name << ".png looks blank";
}

}  // namespace
