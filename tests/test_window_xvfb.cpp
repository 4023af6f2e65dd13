// The real window under a virtual X server: the program runs a small model,
// xdotool types and clicks, and screenshots taken with ImageMagick's import
// are compared pixel by pixel. Each test starts its own Xvfb on a free
// display number. Skipped where Xvfb, xdotool or import is not installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_runner.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
#include <X11/Xlib.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool haveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

using tavro::test::spawn;

// An Xvfb of its own: -displayfd picks a free display number and writes it.
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const fs::path& dir) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24",
                  "-nolisten", "tcp"},
                 dir, dir / "xvfb.log", "");
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  const unsigned char* at(int x, int y) const { return &rgb[3 * (size_t(y) * width + x)]; }
};

bool covers(const Image& a, int x1, int y1) { return a.width >= x1 && a.height >= y1; }

// Pixels in the rectangle that differ between two screenshots (-1 when one
// of them does not cover it).
long differing(const Image& a, const Image& b, int x0, int y0, int x1, int y1) {
  if (!covers(a, x1, y1) || !covers(b, x1, y1)) return -1;
  long n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += !std::equal(a.at(x, y), a.at(x, y) + 3, b.at(x, y));
  return n;
}

// Pixels in the rectangle where one screenshot shows text and the other does
// not. Overlay text is bright (white, or a band colour lightened by 0.3 in
// every channel); the translucent points never are.
long textDiffering(const Image& a, const Image& b, int x0, int y0, int x1, int y1) {
  if (!covers(a, x1, y1) || !covers(b, x1, y1)) return -1;
  auto text = [](const unsigned char* p) { return std::min({p[0], p[1], p[2]}) >= 70; };
  long n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += text(a.at(x, y)) != text(b.at(x, y));
  return n;
}

// Coloured (not grey) pixels in the rectangle.
long coloured(const Image& a, int x0, int y0, int x1, int y1) {
  if (!covers(a, x1, y1)) return -1;
  long n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const unsigned char* p = a.at(x, y);
      n += p[0] != p[1] || p[1] != p[2];
    }
  return n;
}

class WindowSession {
 public:
  WindowSession(const std::string& name) : dir_(name), display_(dir_) {}
  ~WindowSession() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // A 24^3 box of 1 mm cells with a 30 GHz source along Z and the probe
  // P_14_12_12 beside it in the middle layer.
  bool start() {
    if (display_.name().empty()) return false;
    std::ofstream csv(dir_ / "layer.csv");
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 24; ++x) {
        csv << (x ? "," : "");
        csv << (x == 12 && y == 12 ? "0 CW:Z:1:30e9" : x == 14 && y == 12 ? "0 P" : "0");
      }
      csv << "\n";
    }
    csv.close();
    pid_ = spawn({TAVRO_CPU_PROGRAM, "-area", "24", "24", "24", "-unit", "1e-3", "1e-3", "1e-3",
                  "-layer", "12", "layer.csv", "-n", "50000", "-timelog", "txt"},
                 dir_, dir_ / "console.txt", display_.name());
    window_ = shell("timeout 30 xdotool search --sync --name TAVRO | head -n 1");
    if (window_.empty()) return false;
    shell("xdotool mousemove --window " + window_ + " 400 320 windowfocus --sync " + window_);
    return true;
  }

  std::string shell(const std::string& command) {
    const fs::path out = dir_ / ".shell";
    std::system(
        ("DISPLAY=" + display_.name() + " " + command + " >" + out.string() + " 2>/dev/null")
            .c_str());
    std::string s = tavro::test::readFile(out);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
  }

  void key(const std::string& k) {
    shell("xdotool key " + k);
    std::this_thread::sleep_for(400ms);
  }

  // The window's picture; also kept as <name>.png in the scratch directory.
  Image shot(const std::string& name) {
    const fs::path ppm = dir_ / (name + ".ppm");
    shell("import -window " + window_ + " -depth 8 " + ppm.string());
    shell("convert " + ppm.string() + " " + (dir_ / (name + ".png")).string());
    Image img;
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> img.width >> img.height >> maxval;
    in.get();
    img.rgb.resize(size_t(img.width) * img.height * 3);
    in.read(reinterpret_cast<char*>(img.rgb.data()), std::streamsize(img.rgb.size()));
    if (magic != "P6" || !in) img = Image{};
    return img;
  }

  // Asks the window to close as a window manager does (WM_DELETE_WINDOW).
  void close() {
    Display* d = XOpenDisplay(display_.name().c_str());
    ASSERT_NE(d, nullptr);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = std::stoul(window_);
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, ev.xclient.window, False, NoEventMask, &ev);
    XCloseDisplay(d);
  }

  // Exit status once the program ends, -1 if it does not within 20 s.
  int wait() {
    for (int i = 0; i < 400; ++i) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }

  pid_t pid() const { return pid_; }
  const fs::path& dir() const { return dir_; }

 private:
  tavro::test::ScratchDir dir_;
  VirtualDisplay display_;
  pid_t pid_ = -1;
  std::string window_;
};

bool toolsMissing() { return !haveTool("Xvfb") || !haveTool("xdotool") || !haveTool("import"); }

// Kept out of the sanitizer build: there the leak check reports, when the
// program ends, some 2 MB held by Mesa's software renderer (loaded at run
// time, its frames unsymbolised), which are not ours to free; the window's
// bindings, format and visit order run under the sanitizers in the unit
// tests all the same.
#if defined(TAVRO_SANITIZED_BUILD)
#define SKIP_WHERE_SANITIZED() GTEST_SKIP() << "not in the sanitizer build"
#else
#define SKIP_WHERE_SANITIZED() (void)0
#endif

TEST(WindowXvfb, FieldViewsAnswerTheKeysAndTheWheel) {
  SKIP_WHERE_SANITIZED();
  if (toolsMissing()) GTEST_SKIP() << "needs Xvfb, xdotool and ImageMagick's import";
  WindowSession w("window_xvfb_views");
  ASSERT_TRUE(w.start()) << tavro::test::readFile(w.dir() / "console.txt");

  // The wave spreads from the source: coloured points fill the middle.
  Image running;
  for (int i = 0; i < 60 && coloured(running, 250, 150, 550, 500) < 2000; ++i) {
    std::this_thread::sleep_for(250ms);
    running = w.shot("running");
    ASSERT_TRUE(covers(running, 790, 630)) << running.width << "x" << running.height;
  }
  EXPECT_GE(coloured(running, 250, 150, 550, 500), 2000);

  // Stopped, the picture stays as it is.
  w.key("s");
  const Image stopped = w.shot("stopped");
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(differing(stopped, w.shot("stopped_later"), 0, 0, 790, 630), 0);

  // H field and model view change the header (the top strip); back in the E
  // field the picture is the same as before.
  w.key("h");
  const Image h = w.shot("h_field");
  w.key("m");
  const Image m = w.shot("model");
  w.key("e");
  const Image e = w.shot("e_field");
  EXPECT_GT(textDiffering(stopped, h, 0, 0, 790, 60), 50);
  EXPECT_GT(textDiffering(h, m, 0, 0, 790, 60), 50);
  EXPECT_EQ(differing(stopped, e, 0, 0, 790, 630), 0);

  // The wheel scales the colours: the legend (bottom left) changes.
  w.shell("xdotool mousemove --window 0 400 320 click 4");
  std::this_thread::sleep_for(400ms);
  const Image wheel = w.shot("wheel");
  EXPECT_GT(textDiffering(stopped, wheel, 0, 440, 250, 630), 50);
  EXPECT_EQ(textDiffering(stopped, wheel, 0, 0, 790, 60), 0);

  // r resumes the run: the time and the field move on.
  w.key("r");
  const Image resumed = w.shot("resumed");
  std::this_thread::sleep_for(800ms);
  EXPECT_GT(differing(resumed, w.shot("resumed_later"), 0, 0, 790, 630), 100);

  // Closing the window ends the program and writes what the probe recorded.
  w.close();
  EXPECT_EQ(w.wait(), 0);
  const std::string console = tavro::test::readFile(w.dir() / "console.txt");
  EXPECT_NE(console.find("warning: calculation interrupted after "), std::string::npos) << console;
  EXPECT_NE(console.find("- Output txt files...\n"), std::string::npos) << console;
  EXPECT_TRUE(fs::exists(w.dir() / "P_14_12_12.txt"));
}

TEST(WindowXvfb, CtrlCWritesTheSamplesAndEnds) {
  SKIP_WHERE_SANITIZED();
  if (toolsMissing()) GTEST_SKIP() << "needs Xvfb, xdotool and ImageMagick's import";
  WindowSession w("window_xvfb_interrupt");
  ASSERT_TRUE(w.start()) << tavro::test::readFile(w.dir() / "console.txt");
  std::this_thread::sleep_for(1s);
  ::kill(w.pid(), SIGINT);
  EXPECT_EQ(w.wait(), 130);
  const std::string console = tavro::test::readFile(w.dir() / "console.txt");
  EXPECT_NE(console.find("warning: calculation interrupted after "), std::string::npos) << console;
  // The samples recorded so far, as an interrupted batch run writes them.
  const std::string mark = "interrupted after ";
  const size_t at = console.find(mark);
  const long recorded =
      at == std::string::npos ? -1 : std::atol(console.c_str() + at + mark.size());
  std::ifstream in(w.dir() / "P_14_12_12.txt");
  long lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_GT(recorded, 0);
  EXPECT_EQ(lines, 2 + recorded);
}

}  // namespace
